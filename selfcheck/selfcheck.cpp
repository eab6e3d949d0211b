// The self-check: six checks that run the library from end to end. GoogleTest is the runner; the
// checks are defined in the order of their names, which is the order they run in.

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <random>

#include "dova/package.hpp"
#include "reference.hpp"

namespace dova::package {
namespace {

// Fails the running check with the error when a result that must succeed does not.
template <class T>
const T& must(const Result<T>& result) {
  if (!result) throw std::runtime_error("unexpected error: " + result.error().to_string());
  return *result;
}

void must(const Result<void>& result) {
  if (!result) throw std::runtime_error("unexpected error: " + result.error().to_string());
}

TEST(tests, profile_round_trip) {
  const ProfileReport report = reference::profile_report();
  std::vector<std::uint8_t> encoded;
  must(report.write(encoded));
  const ProfileReport decoded = must(ProfileReport::read(encoded));
  EXPECT_EQ(decoded, report);
}

struct ExpectedTile {
  std::uint32_t tile;
  std::vector<ProfileStep> steps;
  std::vector<std::uint32_t> bounds;
};

void append_le32(std::vector<std::uint8_t>& out, std::uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<std::uint8_t>(value >> shift));
}

TEST(tests, randomized_profile_reports_use_adjacent_start_samples) {
  std::mt19937_64 generator(1886547814);  // "prof"
  auto draw_size = [&](std::size_t low, std::size_t high) {
    return std::uniform_int_distribution<std::size_t>(low, high)(generator);
  };
  auto draw_u32 = [&](std::uint32_t low, std::uint32_t high) {
    return std::uniform_int_distribution<std::uint32_t>(low, high)(generator);
  };
  auto draw_bool = [&] { return std::bernoulli_distribution(0.5)(generator); };

  for (std::size_t random_case = 0; random_case < 64; ++random_case) {
    const std::size_t tile_count = draw_size(1, 8);
    const std::size_t prefix_bytes = 4 * draw_size(0, 8);

    Application application;
    Binding prefix{.name = "prefix", .dtype = "u8", .shape = {static_cast<std::uint32_t>(prefix_bytes)}};
    if (prefix_bytes != 0) {
      prefix.slices.push_back(
          RegionSlice{.tile = 0, .tile_address = 0x4C000, .file_offset = 0, .size = prefix_bytes});
    }
    application.outputs.push_back(std::move(prefix));

    std::vector<std::uint8_t> output(prefix_bytes, 0xA5);
    std::vector<RegionSlice> slices;
    std::uint64_t profile_offset = 0;
    std::vector<ExpectedTile> expected;

    for (std::uint32_t tile = 0; tile < tile_count; ++tile) {
      const std::size_t step_count = draw_size(1, 16);
      std::uint32_t cycle = draw_u32(0, 0x7FFFFFFF);
      std::vector<std::uint32_t> bounds = {cycle};
      for (std::size_t i = 0; i < step_count; ++i) {
        cycle += draw_u32(1, 10'000);  // wraps modulo 2^32
        bounds.push_back(cycle);
      }
      for (std::uint32_t reading : bounds) append_le32(output, reading);
      const std::uint64_t size = 4 * (step_count + 1);
      slices.push_back(RegionSlice{
          .tile = tile, .tile_address = 0x4C100, .file_offset = profile_offset, .size = size});
      profile_offset += size;

      std::vector<ProfileStep> steps;
      for (std::uint32_t i = 0; i < step_count; ++i) {
        steps.push_back(ProfileStep{
            .local_index = i,
            .phase = i,
            .epoch = 0,
            .operation = fmt::format("operation.{}", i),
            .kind = draw_bool() ? ProfileStepKind::Compute : ProfileStepKind::Exchange,
            .kernel = fmt::format("kernel.{}", i),
            .metadata = {},
            .exchange_activities = {},
            .exchange_event_cycles = 0,
        });
      }
      expected.push_back(ExpectedTile{tile, steps, bounds});
      application.profile_tiles.push_back(TileProfilePlan{.physical_tile = tile, .steps = steps});
    }
    application.outputs.push_back(Binding{.name = "profile.cycles",
                                          .dtype = "u32",
                                          .shape = {static_cast<std::uint32_t>(profile_offset / 4)},
                                          .slices = slices});

    const ProfileReport report = must(application.profile_report(output, 1'500'000'000));

    ASSERT_EQ(report.tiles.size(), tile_count) << fmt::format("random case {}", random_case);
    for (std::size_t position = 0; position < report.tiles.size(); ++position) {
      const TileProfile& tile = report.tiles[position];
      const ExpectedTile& want = expected[position];
      EXPECT_EQ(static_cast<std::uint32_t>(position), want.tile)
          << fmt::format("random case {}", random_case);
      EXPECT_EQ(tile.physical_tile, want.tile);
      ASSERT_EQ(tile.samples.size(), want.steps.size()) << fmt::format("random case {}", random_case);
      for (std::size_t i = 0; i < tile.samples.size(); ++i) {
        const CycleSample& sample = tile.samples[i];
        EXPECT_EQ(sample.step, want.steps[i]) << fmt::format("random case {}", random_case);
        EXPECT_EQ(sample.start_cycle, want.bounds[i]) << fmt::format("random case {}", random_case);
        EXPECT_EQ(sample.end_cycle, want.bounds[i + 1]) << fmt::format("random case {}", random_case);
      }
    }
  }
}

TEST(tests, rejects_ambiguous_device_configuration) {
  Application application = reference::sample();
  application.device_config_writes = {DeviceConfigWrite{.offset = 4, .value = 1},
                                      DeviceConfigWrite{.offset = 4, .value = 2}};
  const auto result = application.validate();
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error(),
            PackageError::invalid("unaligned or duplicate device configuration write"));
}

TEST(tests, rejects_implicit_host_batches) {
  const HostCall call{.name = "explicit-batches", .command = 0, .phases = 0, .invocations = 1};
  EXPECT_FALSE(validate_host_batch_ends(call, "input", {}, 1).has_value());
  EXPECT_FALSE(validate_host_batch_ends(call, "output", {}, 1).has_value());
  EXPECT_TRUE(validate_host_batch_ends(call, "input", {}, 0).has_value());
}

TEST(tests, rejects_overlapping_segments) {
  Application application = reference::sample();
  application.tiles[0].segments.push_back(application.tiles[0].segments[0]);
  const auto result = application.validate();
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error(),
            PackageError::invalid("overlapping segments on tile 0: 0x4c000..0x4c008 and "
                                  "0x4c000..0x4c008"));
}

TEST(tests, round_trip_and_reconstruct) {
  const Application application = reference::extended_sample();
  std::vector<std::uint8_t> encoded;
  must(application.write(encoded));
  const Application decoded = must(Application::read(encoded));
  EXPECT_EQ(decoded, application);
  const std::vector<std::uint8_t> image = must(decoded.tile_image(0));
  ASSERT_GE(image.size(), 8u);
  EXPECT_EQ(std::vector<std::uint8_t>(image.begin(), image.begin() + 8),
            (std::vector<std::uint8_t>{1, 2, 3, 4, 0, 0, 0, 0}));
}

}  // namespace
}  // namespace dova::package
