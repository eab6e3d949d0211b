#include "simulate.hpp"

#include <fmt/format.h>

#include <limits>
#include <unordered_map>

#include "dova/package/constants.hpp"
#include "profile_math.hpp"

namespace dovapkg {
namespace {

namespace dp = dova::package;

// SplitMix64: small and fully specified, so a seed gives the same readings on every platform
// (the standard library's distributions are not specified exactly).
class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}
  std::uint64_t next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // In [low, high]; the modulo bias is irrelevant for made-up readings.
  std::uint32_t between(std::uint32_t low, std::uint32_t high) {
    return low + static_cast<std::uint32_t>(next() % (std::uint64_t{high} - low + 1));
  }

 private:
  std::uint64_t state_;
};

struct StepLength {
  std::uint32_t low;
  std::uint32_t high;
};

// Cycles a step of each kind plausibly takes, in STEP_KINDS order: exchanges move a few
// kilobytes, compute runs kernels, synchronisations are short, idle gaps vary.
constexpr std::array<StepLength, STEP_KINDS.size()> STEP_LENGTHS{
    {{1500, 9000}, {3000, 25000}, {150, 1200}, {800, 6000}}};

void put_u32(std::vector<std::uint8_t>& buffer, std::uint64_t offset, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) buffer[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

}  // namespace

ToolResult<std::vector<std::uint8_t>> simulate_output(const dp::Application& app,
                                                      std::uint64_t seed) {
  std::uint64_t total = 0;
  for (const dp::Binding& output : app.outputs) {
    const std::uint64_t size = dp::binding_size(output);
    if (size > MAX_SIMULATED_OUTPUT - total) {
      return tl::unexpected(tool_error(fmt::format(
          "the runtime output would be larger than {} bytes; simulate refuses to build it",
          MAX_SIMULATED_OUTPUT)));
    }
    total += size;
  }
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(total), 0);

  // The library checks the profile binding against the plans exactly as it will when the
  // report is computed; its refusal is passed on unchanged.
  if (auto check = app.profile_report(buffer, 0); !check) {
    return tl::unexpected(tool_error(check.error()));
  }

  std::uint64_t binding_base = 0;
  const dp::Binding* profile = nullptr;
  for (const dp::Binding& output : app.outputs) {
    if (output.name == dp::PROFILE_BINDING_NAME) {
      profile = &output;
      break;
    }
    binding_base += dp::binding_size(output);
  }
  std::unordered_map<std::uint32_t, const dp::RegionSlice*> slices;
  for (const dp::RegionSlice& slice : profile->slices) slices[slice.tile] = &slice;

  Random random(seed);
  for (const dp::TileProfilePlan& plan : app.profile_tiles) {
    const dp::RegionSlice& slice = *slices.at(plan.physical_tile);
    std::uint64_t offset = binding_base + slice.file_offset;
    auto cycle = static_cast<std::uint32_t>(random.next());
    put_u32(buffer, offset, cycle);
    for (const dp::ProfileStep& step : plan.steps) {
      const StepLength range = STEP_LENGTHS[kind_index(step.kind)];
      cycle += random.between(range.low, range.high);  // wraps past 2^32 like the counter
      offset += 4;
      put_u32(buffer, offset, cycle);
    }
  }
  return buffer;
}

}  // namespace dovapkg
