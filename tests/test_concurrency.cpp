// Many threads use one shared application at once while a log subscriber records every event:
// each thread must get exactly the results of a single-threaded run. Run under ThreadSanitizer by
// `./dev test`.

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "dova/package.hpp"
#include "profiled_sample.hpp"

namespace dova::package {
namespace {

// Everything one round of work produces from the shared application.
struct Outcome {
  bool valid = false;
  std::vector<std::uint8_t> package;
  Result<Application> read_back = tl::unexpected(PackageError::invalid("not read"));
  std::vector<std::uint8_t> image;
  Result<ProfileReport> report = tl::unexpected(PackageError::invalid("not computed"));
  std::vector<std::uint8_t> report_bytes;
  Result<ProfileReport> report_back = tl::unexpected(PackageError::invalid("not read"));

  bool operator==(const Outcome&) const = default;
};

Outcome work(const Application& application, const std::vector<std::uint8_t>& output) {
  Outcome outcome;
  outcome.valid = application.validate().has_value();
  if (!application.write(outcome.package)) return outcome;
  outcome.read_back = Application::read(outcome.package);
  if (auto image = application.tile_image(0)) outcome.image = std::move(*image);
  outcome.report = application.profile_report(output, 1'500'000'000);
  if (!outcome.report || !outcome.report->write(outcome.report_bytes)) return outcome;
  outcome.report_back = ProfileReport::read(outcome.report_bytes);
  return outcome;
}

// Counts the events by message; safe to call from any thread.
class EventCounter {
 public:
  void record(const LogEvent& event) {
    std::string fields;
    for (const LogField& field : event.fields) fields.append(field.name).push_back(';');
    std::lock_guard lock(mutex_);
    ++counts_[std::string(event.message) + "|" + fields];
  }
  std::map<std::string, int> counts() const {
    std::lock_guard lock(mutex_);
    return counts_;
  }

 private:
  mutable std::mutex mutex_;
  std::map<std::string, int> counts_;
};

TEST(Concurrency, SharedApplicationGivesEveryThreadTheSameResults) {
  const auto profiled = fuzz::profiled_sample();
  const Application& application = profiled.application;
  const Outcome expected = work(application, profiled.output);
  ASSERT_TRUE(expected.valid);
  ASSERT_TRUE(expected.read_back.has_value()) << expected.read_back.error();
  ASSERT_TRUE(expected.report_back.has_value()) << expected.report_back.error();
  ASSERT_EQ(*expected.read_back, application);
  ASSERT_EQ(*expected.report_back, *expected.report);

  constexpr int THREADS = 4;
  constexpr int ROUNDS = 25;
  EventCounter counter;
  const LogSubscriber previous =
      set_log_subscriber([&counter](const LogEvent& event) { counter.record(event); });

  std::vector<std::vector<Outcome>> outcomes(THREADS);
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < THREADS; ++t) {
    threads.emplace_back([&, t] {
      while (!go.load()) std::this_thread::yield();
      for (int round = 0; round < ROUNDS; ++round) {
        outcomes[t].push_back(work(application, profiled.output));
      }
    });
  }
  go.store(true);
  for (std::thread& thread : threads) thread.join();
  set_log_subscriber(previous);

  for (int t = 0; t < THREADS; ++t) {
    ASSERT_EQ(outcomes[t].size(), std::size_t{ROUNDS});
    for (int round = 0; round < ROUNDS; ++round) {
      EXPECT_TRUE(outcomes[t][round] == expected) << "thread " << t << " round " << round;
    }
  }
  // Each round writes once, reads once and reconstructs one image: no event lost or doubled.
  const int rounds = THREADS * ROUNDS;
  const std::map<std::string, int> want = {
      {"writing application package|tiles;", rounds},
      {"application package written|", rounds},
      {"reading application package|", rounds},
      {"application package read|tiles;compiler;", rounds},
      {"reconstructing tile image|physical_tile;load_base;image_bytes;", rounds},
  };
  EXPECT_EQ(counter.counts(), want);
}

TEST(Concurrency, SubscriberReplacedWhileThreadsLog) {
  // Installing and removing subscribers while other threads emit events must neither race nor
  // lose the subscriber that is installed when the dust settles.
  const auto profiled = fuzz::profiled_sample();
  std::atomic<int> calls{0};
  std::atomic<bool> stop{false};
  const LogSubscriber previous = set_log_subscriber({});
  std::thread swapper([&] {
    for (int i = 0; i < 200; ++i) {
      set_log_subscriber([&calls](const LogEvent&) { calls.fetch_add(1); });
      set_log_subscriber({});
    }
    stop.store(true);
  });
  std::vector<std::thread> readers;
  std::vector<std::uint8_t> package;
  ASSERT_TRUE(profiled.application.write(package));
  for (int t = 0; t < 3; ++t) {
    readers.emplace_back([&] {
      while (!stop.load()) {
        auto read = Application::read(package);
        ASSERT_TRUE(read.has_value());
      }
    });
  }
  swapper.join();
  for (std::thread& reader : readers) reader.join();

  std::atomic<int> after{0};
  set_log_subscriber([&after](const LogEvent&) { after.fetch_add(1); });
  ASSERT_TRUE(Application::read(package).has_value());
  set_log_subscriber(previous);
  EXPECT_EQ(after.load(), 2);  // "reading application package" and "application package read"
}

}  // namespace
}  // namespace dova::package
