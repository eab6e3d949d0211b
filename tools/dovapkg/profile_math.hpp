#pragma once

// Arithmetic on cycle profile reports shared by every view. The readings are raw 32-bit counter
// values that may wrap, so a step lasts end - start modulo 2^32, and a tile's time line is the
// running sum of its step lengths from 0 at its first reading.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "dova/package/profile.hpp"

namespace dovapkg {

inline constexpr std::array<dova::package::ProfileStepKind, 4> STEP_KINDS{
    dova::package::ProfileStepKind::Exchange, dova::package::ProfileStepKind::Compute,
    dova::package::ProfileStepKind::Synchronization, dova::package::ProfileStepKind::Idle};

// Position of a kind in STEP_KINDS.
std::size_t kind_index(dova::package::ProfileStepKind kind);

// Cycles between the step's two readings, modulo 2^32.
inline std::uint32_t step_cycles(const dova::package::CycleSample& sample) {
  return sample.end_cycle - sample.start_cycle;
}

struct TileTotals {
  std::uint64_t cycles = 0;
  std::array<std::uint64_t, STEP_KINDS.size()> by_kind{};
};

TileTotals tile_totals(const dova::package::TileProfile& tile);

// Start of every sample on the tile's unwrapped time line, in cycles from its first reading,
// followed by the end of the last one: samples.size() + 1 entries.
std::vector<std::uint64_t> tile_timeline(const dova::package::TileProfile& tile);

// Where a sample sits in a report: tile position and sample position.
struct SampleRef {
  std::size_t tile = 0;
  std::size_t sample = 0;
};

// The `count` longest samples across all tiles, longest first; ties in report order.
std::vector<SampleRef> longest_samples(const dova::package::ProfileReport& report,
                                       std::size_t count);

}  // namespace dovapkg
