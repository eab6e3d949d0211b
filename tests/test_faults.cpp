// Faults on the caller's side: byte sinks and sources that fail part way. Every such failure is a
// Capnp error value, the success event is not emitted, and the library keeps working afterwards.

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <istream>
#include <ostream>
#include <stdexcept>
#include <streambuf>
#include <string>
#include <vector>

#include "checks.hpp"
#include "dova/package.hpp"
#include "reference.hpp"

namespace dova::package {
namespace {

using Kind = PackageError::Kind;

// How a stream buffer fails once its budget of bytes is spent.
enum class Failing { Refuse, Throw };

// Accepts `budget` bytes, then refuses more or throws.
class FailingSink final : public std::streambuf {
 public:
  FailingSink(std::size_t budget, Failing failing) : budget_(budget), failing_(failing) {}
  const std::string& accepted() const { return accepted_; }

 protected:
  std::streamsize xsputn(const char* data, std::streamsize size) override {
    const std::size_t room = budget_ - accepted_.size();
    const std::size_t taken = std::min(room, static_cast<std::size_t>(size));
    accepted_.append(data, taken);
    if (taken < static_cast<std::size_t>(size) && failing_ == Failing::Throw) {
      throw std::runtime_error("disk full");
    }
    return static_cast<std::streamsize>(taken);
  }
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    const char byte = traits_type::to_char_type(c);
    return xsputn(&byte, 1) == 1 ? c : traits_type::eof();
  }

 private:
  std::size_t budget_;
  Failing failing_;
  std::string accepted_;
};

// Delivers the first `budget` bytes of `bytes`, then reports the end or throws. Not seekable, so
// the reader cannot learn the length in advance.
class FailingSource final : public std::streambuf {
 public:
  FailingSource(std::string bytes, std::size_t budget, Failing failing)
      : bytes_(std::move(bytes)), budget_(std::min(budget, bytes_.size())), failing_(failing) {}

 protected:
  int_type underflow() override {
    if (position_ < budget_) {
      setg(bytes_.data() + position_, bytes_.data() + position_, bytes_.data() + position_ + 1);
      ++position_;
      return traits_type::to_int_type(bytes_[position_ - 1]);
    }
    if (failing_ == Failing::Throw && budget_ < bytes_.size()) {
      throw std::runtime_error("connection reset");
    }
    return traits_type::eof();
  }

 private:
  std::string bytes_;
  std::size_t budget_;
  std::size_t position_ = 0;
  Failing failing_;
};

struct SinkCase {
  const char* name;
  Failing failing;
  std::ios_base::iostate exceptions;
};

const SinkCase SINK_CASES[] = {
    {"refusing", Failing::Refuse, std::ios_base::goodbit},
    {"refusing, stream throws", Failing::Refuse, std::ios_base::badbit},
    {"throwing", Failing::Throw, std::ios_base::goodbit},
    {"throwing, stream throws", Failing::Throw, std::ios_base::badbit},
};

std::vector<std::uint8_t> bytes_of(const Application& application) {
  std::vector<std::uint8_t> bytes;
  EXPECT_TRUE(application.write(bytes));
  return bytes;
}

TEST(Faults, PackageSinkFailingAfterEveryLengthGivesCapnp) {
  const Application application = reference::extended_sample();
  const std::vector<std::uint8_t> whole = bytes_of(application);
  for (const SinkCase& sink_case : SINK_CASES) {
    for (std::size_t budget = 0; budget < whole.size(); ++budget) {
      FailingSink buffer(budget, sink_case.failing);
      std::ostream sink(&buffer);
      sink.exceptions(sink_case.exceptions);
      fuzz::EventRecorder events;
      const auto written = application.write(sink);
      ASSERT_FALSE(written.has_value()) << sink_case.name << ", budget " << budget;
      EXPECT_EQ(written.error().kind(), Kind::Capnp) << written.error();
      EXPECT_TRUE(events.saw("writing application package"));
      EXPECT_FALSE(events.saw("application package written")) << sink_case.name << ", " << budget;
      // Whatever the sink accepted is the start of the package.
      EXPECT_EQ(buffer.accepted(), fuzz::as_string(whole).substr(0, buffer.accepted().size()));
    }
  }
  // The library is not left in a broken state: the same application still writes in full.
  std::ostringstream good;
  ASSERT_TRUE(application.write(good));
  EXPECT_EQ(good.str(), fuzz::as_string(whole));
}

TEST(Faults, ReportSinkFailingAfterEveryLengthGivesCapnp) {
  const ProfileReport report = reference::profile_report();
  std::vector<std::uint8_t> whole;
  ASSERT_TRUE(report.write(whole));
  for (const SinkCase& sink_case : SINK_CASES) {
    for (std::size_t budget = 0; budget < whole.size(); ++budget) {
      FailingSink buffer(budget, sink_case.failing);
      std::ostream sink(&buffer);
      sink.exceptions(sink_case.exceptions);
      const auto written = report.write(sink);
      ASSERT_FALSE(written.has_value()) << sink_case.name << ", budget " << budget;
      EXPECT_EQ(written.error().kind(), Kind::Capnp) << written.error();
    }
  }
  std::ostringstream good;
  ASSERT_TRUE(report.write(good));
  EXPECT_EQ(good.str(), fuzz::as_string(whole));
}

TEST(Faults, SinkThatFailedBeforeTheCallIsRefused) {
  std::ostringstream sink;
  sink.setstate(std::ios_base::failbit);
  const auto written = reference::sample().write(sink);
  ASSERT_FALSE(written.has_value());
  EXPECT_EQ(written.error().kind(), Kind::Capnp);
}

struct SourceCase {
  const char* name;
  Failing failing;
  std::ios_base::iostate exceptions;
};

const SourceCase SOURCE_CASES[] = {
    {"ending", Failing::Refuse, std::ios_base::goodbit},
    {"ending, stream throws", Failing::Refuse, std::ios_base::badbit | std::ios_base::failbit},
    {"throwing", Failing::Throw, std::ios_base::goodbit},
    {"throwing, stream throws", Failing::Throw, std::ios_base::badbit},
};

template <class T>
void expect_source_faults_fail(const std::string& whole) {
  for (const SourceCase& source_case : SOURCE_CASES) {
    for (std::size_t budget = 0; budget < whole.size(); ++budget) {
      FailingSource buffer(whole, budget, source_case.failing);
      std::istream source(&buffer);
      source.exceptions(source_case.exceptions);
      const auto read = T::read(source);
      ASSERT_FALSE(read.has_value()) << source_case.name << ", budget " << budget;
      EXPECT_EQ(read.error().kind(), Kind::Capnp) << read.error();
    }
    // The same kind of source delivering everything reads in full.
    FailingSource buffer(whole, whole.size(), source_case.failing);
    std::istream source(&buffer);
    source.exceptions(source_case.exceptions);
    EXPECT_TRUE(T::read(source).has_value()) << source_case.name;
  }
}

TEST(Faults, PackageSourceFailingMidMessageGivesCapnp) {
  const std::vector<std::uint8_t> whole = bytes_of(reference::extended_sample());
  expect_source_faults_fail<Application>(fuzz::as_string(whole));
}

TEST(Faults, ReportSourceFailingMidMessageGivesCapnp) {
  std::vector<std::uint8_t> whole;
  ASSERT_TRUE(reference::profile_report().write(whole));
  expect_source_faults_fail<ProfileReport>(fuzz::as_string(whole));
}

TEST(Faults, FailedReadDoesNotEmitTheReadEvent) {
  const std::vector<std::uint8_t> whole = bytes_of(reference::extended_sample());
  FailingSource buffer(fuzz::as_string(whole), whole.size() / 2, Failing::Throw);
  std::istream source(&buffer);
  fuzz::EventRecorder events;
  ASSERT_FALSE(Application::read(source).has_value());
  EXPECT_EQ(events.messages(), std::vector<std::string>{"reading application package"});
}

}  // namespace
}  // namespace dova::package
