#include "profile_math.hpp"

#include <algorithm>

namespace dovapkg {

namespace dp = dova::package;

std::size_t kind_index(dp::ProfileStepKind kind) {
  const auto value = static_cast<std::size_t>(kind);
  // Records built in memory could hold a value outside the enumeration; count it as idle
  // rather than index out of bounds.
  return value < STEP_KINDS.size() ? value : STEP_KINDS.size() - 1;
}

TileTotals tile_totals(const dp::TileProfile& tile) {
  TileTotals totals;
  for (const dp::CycleSample& sample : tile.samples) {
    const std::uint32_t cycles = step_cycles(sample);
    totals.cycles += cycles;
    totals.by_kind[kind_index(sample.step.kind)] += cycles;
  }
  return totals;
}

std::vector<std::uint64_t> tile_timeline(const dp::TileProfile& tile) {
  std::vector<std::uint64_t> starts;
  starts.reserve(tile.samples.size() + 1);
  std::uint64_t now = 0;
  starts.push_back(now);
  for (const dp::CycleSample& sample : tile.samples) {
    now += step_cycles(sample);
    starts.push_back(now);
  }
  return starts;
}

std::vector<SampleRef> longest_samples(const dp::ProfileReport& report, std::size_t count) {
  std::vector<SampleRef> best;
  const auto cycles = [&](const SampleRef& ref) {
    return step_cycles(report.tiles[ref.tile].samples[ref.sample]);
  };
  // Longer first; among equals the earlier in the report.
  const auto before = [&](const SampleRef& a, const SampleRef& b) {
    if (cycles(a) != cycles(b)) return cycles(a) > cycles(b);
    return a.tile != b.tile ? a.tile < b.tile : a.sample < b.sample;
  };
  for (std::size_t t = 0; t < report.tiles.size(); ++t) {
    for (std::size_t s = 0; s < report.tiles[t].samples.size(); ++s) {
      const SampleRef ref{t, s};
      if (best.size() == count && (count == 0 || !before(ref, best.back()))) continue;
      best.insert(std::upper_bound(best.begin(), best.end(), ref, before), ref);
      if (best.size() > count) best.pop_back();
    }
  }
  return best;
}

}  // namespace dovapkg
