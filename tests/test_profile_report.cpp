#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "dova/package.hpp"

namespace dova::package {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint64_t U64_MAX = std::numeric_limits<std::uint64_t>::max();
const std::string PROFILE(PROFILE_BINDING_NAME);

ProfileStep step(std::uint32_t index, std::string operation) {
  ProfileStep s;
  s.local_index = index;
  s.operation = std::move(operation);
  s.kind = ProfileStepKind::Compute;
  return s;
}

Binding binding(std::string name, std::vector<RegionSlice> slices) {
  return Binding{std::move(name), "u32", {}, std::move(slices)};
}

RegionSlice slice(std::uint32_t tile, std::uint64_t file_offset, std::uint64_t size) {
  return RegionSlice{tile, 0x4c000, file_offset, size};
}

// A buffer of `size` filler bytes with the readings stored little-endian from `offset`.
Bytes buffer_with(std::size_t size, std::size_t offset,
                  std::initializer_list<std::uint32_t> words) {
  Bytes buffer(size, 0xee);
  for (std::uint32_t word : words) {
    for (int shift = 0; shift < 32; shift += 8) buffer.at(offset++) = (word >> shift) & 0xff;
  }
  return buffer;
}

TEST(ProfileReport, PairsAdjacentReadingsWithSteps) {
  ProfileStep a = step(0, "matmul");
  a.kind = ProfileStepKind::Exchange;
  a.kernel = "mm_kernel";
  a.metadata = {{"rows", "64"}};
  a.exchange_activities = {{ExchangeActivityKind::PartnerBusy, 3, 9}};
  a.exchange_event_cycles = 12;
  const ProfileStep b = step(1, "relu");

  Application app;
  // Outputs after the profile binding, a second one with its name included, change nothing.
  app.outputs = {binding("activations", {slice(0, 0, 16)}), binding(PROFILE, {slice(3, 8, 12)}),
                 binding("after", {slice(0, 0, 64)}), binding(PROFILE, {slice(3, 0, 12)})};
  app.profile_tiles = {{3, {a, b}}};
  const Bytes output = buffer_with(36, 24, {100, 0x01020304, 0xa0b0c0d0});

  const auto report = app.profile_report(output, 1'000'000'000);
  ASSERT_TRUE(report.has_value()) << report.error();
  const ProfileReport expected{1'000'000'000,
                               {{3, {{a, 100, 0x01020304}, {b, 0x01020304, 0xa0b0c0d0}}}}};
  EXPECT_EQ(*report, expected);
}

TEST(ProfileReport, KeepsWrappedReadingsAsRead) {
  Application app;
  app.outputs = {binding(PROFILE, {slice(0, 0, 8)})};
  app.profile_tiles = {{0, {step(0, "x")}}};
  const auto report = app.profile_report(buffer_with(8, 0, {4294967285u, 7}), 0);
  ASSERT_TRUE(report.has_value()) << report.error();
  EXPECT_EQ(*report, (ProfileReport{0, {{0, {{step(0, "x"), 4294967285u, 7}}}}}));
}

TEST(ProfileReport, NoPlansGiveNoTilesEvenWithoutOutput) {
  Application app;
  app.outputs = {binding(PROFILE, {slice(0, 0, 4)})};
  const auto report = app.profile_report({}, 250);
  ASSERT_TRUE(report.has_value()) << report.error();
  EXPECT_EQ(*report, (ProfileReport{250, {}}));
}

TEST(ProfileReport, PlanWithoutStepsReadsOneReadingAndKeepsTheTile) {
  Application app;
  app.outputs = {binding(PROFILE, {slice(5, 0, 4)})};
  app.profile_tiles = {{5, {}}};
  const auto report = app.profile_report(buffer_with(4, 0, {42}), 1);
  ASSERT_TRUE(report.has_value()) << report.error();
  EXPECT_EQ(*report, (ProfileReport{1, {{5, {}}}}));
}

TEST(ProfileReport, LastSliceOfATileWins) {
  Application app;
  // The first slice has the wrong size: using it would fail.
  app.outputs = {binding(PROFILE, {slice(3, 0, 4), slice(3, 4, 8)})};
  app.profile_tiles = {{3, {step(0, "x")}}};
  const auto report = app.profile_report(buffer_with(12, 4, {10, 20}), 1);
  ASSERT_TRUE(report.has_value()) << report.error();
  EXPECT_EQ(*report, (ProfileReport{1, {{3, {{step(0, "x"), 10, 20}}}}}));
}

TEST(ProfileReport, BindingBaseIsZeroWhenNothingSizedPrecedesTheProfile) {
  const std::vector<std::vector<Binding>> layouts = {
      {binding(PROFILE, {slice(1, 4, 8)}), binding("after", {slice(0, 0, 32)})},
      {binding("empty", {}), binding(PROFILE, {slice(1, 4, 8)})},
  };
  for (const auto& outputs : layouts) {
    SCOPED_TRACE(outputs.front().name);
    Application app;
    app.outputs = outputs;
    app.profile_tiles = {{1, {step(0, "x")}}};
    const auto report = app.profile_report(buffer_with(12, 4, {10, 20}), 1);
    ASSERT_TRUE(report.has_value()) << report.error();
    EXPECT_EQ(*report, (ProfileReport{1, {{1, {{step(0, "x"), 10, 20}}}}}));
  }
}

TEST(ProfileReport, SliceMayEndExactlyAtTheBufferEnd) {
  Application app;
  app.outputs = {binding(PROFILE, {slice(1, 8, 8)})};
  app.profile_tiles = {{1, {step(0, "x")}}};
  const ProfileReport expected{1, {{1, {{step(0, "x"), 10, 20}}}}};

  Bytes output = buffer_with(16, 8, {10, 20});
  EXPECT_EQ(app.profile_report(output, 1), expected);
  output.push_back(0xff);  // trailing bytes are never read
  EXPECT_EQ(app.profile_report(output, 1), expected);
  output.resize(15);
  EXPECT_EQ(app.profile_report(output, 1),
            tl::unexpected(PackageError::invalid("profile binding exceeds runtime output")));
}

TEST(ProfileReport, TwoPlansForOneTileShareItsReadings) {
  Application app;
  app.outputs = {binding(PROFILE, {slice(2, 0, 8)})};
  app.profile_tiles = {{2, {step(0, "x")}}, {2, {step(0, "y")}}};
  const auto report = app.profile_report(buffer_with(8, 0, {1, 2}), 1);
  ASSERT_TRUE(report.has_value()) << report.error();
  EXPECT_EQ(*report,
            (ProfileReport{1, {{2, {{step(0, "x"), 1, 2}}}, {2, {{step(0, "y"), 1, 2}}}}}));
}

struct FailureCase {
  std::string name;
  std::vector<Binding> outputs;
  std::vector<TileProfilePlan> plans;
  std::string message;
};

TEST(ProfileReport, FailsWithTheFirstBrokenRule) {
  // A slice ending at 2^64 - 1 saturates its binding's size, so one more byte overflows the sum.
  const Binding huge = binding("huge", {slice(0, U64_MAX - 1, 5)});
  const Binding one = binding("one", {slice(0, 0, 1)});
  const std::vector<FailureCase> cases = {
      {"sizes before the profile overflow",
       {huge, one, binding(PROFILE, {})},
       {},
       "output binding size overflow"},
      {"overflow found before the missing binding",
       {huge, one},
       {},
       "output binding size overflow"},
      {"names compared exactly",
       {binding("Profile.cycles", {slice(0, 0, 4)})},
       {},
       "application has no cycle profile binding"},
      {"slice only in another output",
       {binding("other", {slice(4, 0, 4)}), binding(PROFILE, {slice(3, 4, 4)})},
       {{4, {}}},
       "cycle profile has no slice for tile 4"},
      {"two steps in an 8-byte slice",
       {binding(PROFILE, {slice(2, 0, 8)})},
       {{2, {step(0, "x"), step(1, "y")}}},
       "cycle profile slice for tile 2 has size 8, expected 12"},
      {"no steps in an empty slice",
       {binding(PROFILE, {slice(2, 0, 0)})},
       {{2, {}}},
       "cycle profile slice for tile 2 has size 0, expected 4"},
      {"second plan for a tile with another step count",
       {binding(PROFILE, {slice(2, 0, 8)})},
       {{2, {step(0, "x")}}, {2, {}}},
       "cycle profile slice for tile 2 has size 8, expected 4"},
      {"later plan without a slice",
       {binding(PROFILE, {slice(1, 0, 4)})},
       {{1, {}}, {5, {}}},
       "cycle profile has no slice for tile 5"},
      {"base plus offset overflows",
       {binding("before", {slice(0, 0, 16)}), binding(PROFILE, {slice(1, U64_MAX - 3, 4)})},
       {{1, {}}},
       "profile output offset overflow"},
      {"start plus size overflows",
       {binding(PROFILE, {slice(1, U64_MAX - 3, 8)})},
       {{1, {step(0, "x")}}},
       "profile output range overflow"},
      {"slice beyond the buffer",
       {binding(PROFILE, {slice(1, 60, 8)})},
       {{1, {step(0, "x")}}},
       "profile binding exceeds runtime output"},
  };
  const Bytes output(64, 0);
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    Application app;
    app.inputs = {binding(PROFILE, {slice(4, 0, 4)})};  // only outputs count
    app.outputs = c.outputs;
    app.profile_tiles = c.plans;
    EXPECT_EQ(app.profile_report(output, 1), tl::unexpected(PackageError::invalid(c.message)));
  }
}

}  // namespace
}  // namespace dova::package
