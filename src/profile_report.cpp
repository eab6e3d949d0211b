// The cycle profile report of a profiled run: each planned step paired with the counter readings
// that bound it, read from the profile binding of the runtime output buffer.

#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "dova/package/constants.hpp"
#include "dova/package/records.hpp"

namespace dova::package {
namespace {

constexpr std::uint64_t U64_MAX = std::numeric_limits<std::uint64_t>::max();
constexpr std::uint64_t READING_BYTES = 4;

std::optional<std::uint64_t> checked_add(std::uint64_t a, std::uint64_t b) {
  if (b > U64_MAX - a) return std::nullopt;
  return a + b;
}

std::optional<std::uint64_t> checked_mul(std::uint64_t a, std::uint64_t b) {
  if (a != 0 && b > U64_MAX / a) return std::nullopt;
  return a * b;
}

// Reading `index` of a tile's packed little-endian 32-bit counter readings.
std::uint32_t reading(std::span<const std::uint8_t> readings, std::size_t index) {
  const std::size_t at = index * READING_BYTES;
  return std::uint32_t{readings[at]} | std::uint32_t{readings[at + 1]} << 8 |
         std::uint32_t{readings[at + 2]} << 16 | std::uint32_t{readings[at + 3]} << 24;
}

tl::unexpected<PackageError> fail(std::string message) {
  return tl::unexpected(PackageError::invalid(std::move(message)));
}

}  // namespace

Result<ProfileReport> Application::profile_report(std::span<const std::uint8_t> output,
                                                  std::uint64_t clock_hz) const {
  // The outputs lie end to end in the buffer; the profile binding starts after those before it.
  std::uint64_t binding_base = 0;
  const Binding* profile = nullptr;
  for (const Binding& binding : outputs) {
    if (binding.name == PROFILE_BINDING_NAME) {
      profile = &binding;
      break;
    }
    const auto next = checked_add(binding_base, binding_size(binding));
    if (!next) return fail("output binding size overflow");
    binding_base = *next;
  }
  if (profile == nullptr) return fail("application has no cycle profile binding");

  // Later slices for a tile replace earlier ones.
  std::unordered_map<std::uint32_t, const RegionSlice*> slices;
  slices.reserve(profile->slices.size());
  for (const RegionSlice& slice : profile->slices) slices.insert_or_assign(slice.tile, &slice);

  ProfileReport report{clock_hz, {}};
  report.tiles.reserve(profile_tiles.size());
  for (const TileProfilePlan& plan : profile_tiles) {
    const auto found = slices.find(plan.physical_tile);
    if (found == slices.end()) {
      return fail(fmt::format("cycle profile has no slice for tile {}", plan.physical_tile));
    }
    const RegionSlice& slice = *found->second;

    // N steps are bounded by N + 1 readings; adjacent steps share one.
    const auto reading_count = checked_add(plan.steps.size(), 1);
    const auto expected = reading_count ? checked_mul(*reading_count, READING_BYTES) : std::nullopt;
    if (!expected) return fail("profile sample size overflow");
    if (slice.size != *expected) {
      return fail(fmt::format("cycle profile slice for tile {} has size {}, expected {}",
                              plan.physical_tile, slice.size, *expected));
    }
    const auto start = checked_add(binding_base, slice.file_offset);
    if (!start) return fail("profile output offset overflow");
    const auto end = checked_add(*start, slice.size);
    if (!end) return fail("profile output range overflow");
    if (*end > output.size()) return fail("profile binding exceeds runtime output");

    const std::span<const std::uint8_t> readings = output.subspan(*start, slice.size);
    TileProfile tile{plan.physical_tile, {}};
    tile.samples.reserve(plan.steps.size());
    std::uint32_t start_cycle = reading(readings, 0);
    for (std::size_t k = 0; k < plan.steps.size(); ++k) {
      const std::uint32_t end_cycle = reading(readings, k + 1);
      tile.samples.push_back(CycleSample{plan.steps[k], start_cycle, end_cycle});
      start_cycle = end_cycle;
    }
    report.tiles.push_back(std::move(tile));
  }
  return report;
}

}  // namespace dova::package
