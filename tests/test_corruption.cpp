// Exhaustive damage to the reference package and report: every truncation and single-byte change
// must end in a result or a PackageError, with every property of the fuzz targets holding. Under
// the sanitizer build this also proves that no damaged input is read out of bounds.

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <set>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "checks.hpp"
#include "dova/package.hpp"
#include "profiled_sample.hpp"
#include "reference.hpp"

namespace dova::package {
namespace {

using Kind = PackageError::Kind;

std::vector<std::uint8_t> reference_package() {
  std::vector<std::uint8_t> bytes;
  EXPECT_TRUE(reference::extended_sample().write(bytes));
  return bytes;
}

std::vector<std::uint8_t> reference_report() {
  std::vector<std::uint8_t> bytes;
  EXPECT_TRUE(reference::profile_report().write(bytes));
  return bytes;
}

template <class T>
Result<T> read_stream(std::span<const std::uint8_t> bytes) {
  std::istringstream stream(fuzz::as_string(bytes));
  return T::read(stream);
}

struct Subject {
  const char* name;
  std::function<std::vector<std::uint8_t>()> bytes;
  std::function<std::optional<Kind>(std::span<const std::uint8_t>)> read_kind;  // none: success
  std::function<fuzz::Failure(std::span<const std::uint8_t>)> check;
};

template <class T>
std::optional<Kind> kind_of(const Result<T>& result) {
  if (result) return std::nullopt;
  return result.error().kind();
}

const Subject SUBJECTS[] = {
    {"package", reference_package,
     [](std::span<const std::uint8_t> b) { return kind_of(Application::read(b)); },
     [](std::span<const std::uint8_t> b) {
       if (auto failure = fuzz::check_application_bytes(b)) return failure;
       return fuzz::check_application_round_trip(b);
     }},
    {"report", reference_report,
     [](std::span<const std::uint8_t> b) { return kind_of(ProfileReport::read(b)); },
     fuzz::check_report_bytes},
};

TEST(Corruption, EveryTruncationFailsWithCapnp) {
  for (const Subject& subject : SUBJECTS) {
    const std::vector<std::uint8_t> whole = subject.bytes();
    ASSERT_EQ(subject.read_kind(whole), std::nullopt) << subject.name;
    for (std::size_t length = 0; length < whole.size(); ++length) {
      const std::span<const std::uint8_t> prefix(whole.data(), length);
      EXPECT_EQ(subject.read_kind(prefix), Kind::Capnp) << subject.name << " cut at " << length;
      EXPECT_EQ(subject.check(prefix), std::nullopt) << subject.name << " cut at " << length;
    }
  }
}

TEST(Corruption, StreamTruncationFailsWithCapnp) {
  const std::vector<std::uint8_t> package = reference_package();
  const std::vector<std::uint8_t> report = reference_report();
  for (std::size_t length = 0; length < package.size(); ++length) {
    EXPECT_EQ(kind_of(read_stream<Application>({package.data(), length})), Kind::Capnp) << length;
  }
  for (std::size_t length = 0; length < report.size(); ++length) {
    EXPECT_EQ(kind_of(read_stream<ProfileReport>({report.data(), length})), Kind::Capnp) << length;
  }
}

// Each bit flipped, and the byte set to 0x00 and 0xFF: at about 1,000 bytes per file this keeps
// the run to seconds even under the sanitizers.
std::vector<std::uint8_t> variants(std::uint8_t original) {
  std::vector<std::uint8_t> values;
  for (int bit = 0; bit < 8; ++bit)
    values.push_back(original ^ static_cast<std::uint8_t>(1u << bit));
  for (std::uint8_t value : {std::uint8_t{0x00}, std::uint8_t{0xFF}}) {
    if (value != original) values.push_back(value);
  }
  return values;
}

// One test per subject, so that the runner spreads them over the cores.
class SingleByteChange : public testing::TestWithParam<std::size_t> {};

TEST_P(SingleByteChange, EndsInAResultOrAnError) {
  const Subject& subject = SUBJECTS[GetParam()];
  std::vector<std::uint8_t> bytes = subject.bytes();
  std::set<std::optional<Kind>> outcomes;
  for (std::size_t at = 0; at < bytes.size(); ++at) {
    const std::uint8_t original = bytes[at];
    for (std::uint8_t value : variants(original)) {
      bytes[at] = value;
      outcomes.insert(subject.read_kind(bytes));
      ASSERT_EQ(subject.check(bytes), std::nullopt)
          << subject.name << " byte " << at << " set to " << int{value};
    }
    bytes[at] = original;
  }
  // The damage reaches every layer: framing and pointers, texts, enumerations, the header or
  // validation, and some changes only alter a value.
  const std::set<std::optional<Kind>> reached = {std::nullopt, Kind::Capnp, Kind::Utf8,
                                                 Kind::SchemaEnum, Kind::Invalid};
  EXPECT_EQ(outcomes, reached) << subject.name;
}

INSTANTIATE_TEST_SUITE_P(Corruption, SingleByteChange,
                         testing::Values(std::size_t{0}, std::size_t{1}),
                         [](const testing::TestParamInfo<std::size_t>& info) {
                           return std::string(SUBJECTS[info.param].name);
                         });

TEST(Corruption, DamageAfterTheMessageDoesNotMatter) {
  // The profiled package's output buffer follows the message: damaging it changes the report's
  // readings, never the package.
  const auto profiled = fuzz::profiled_sample();
  std::vector<std::uint8_t> bytes;
  ASSERT_TRUE(profiled.application.write(bytes));
  const std::size_t message_size = bytes.size();
  bytes.insert(bytes.end(), profiled.output.begin(), profiled.output.end());
  for (std::size_t at = message_size; at < bytes.size(); ++at) {
    for (std::uint8_t value : variants(bytes[at])) {
      std::vector<std::uint8_t> damaged = bytes;
      damaged[at] = value;
      auto read = Application::read(damaged);
      ASSERT_TRUE(read.has_value()) << read.error();
      EXPECT_EQ(*read, profiled.application);
      EXPECT_EQ(fuzz::check_application_bytes(damaged), std::nullopt);
    }
  }
}

}  // namespace
}  // namespace dova::package
