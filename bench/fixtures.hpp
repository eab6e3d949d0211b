#pragma once

// The applications the benchmarks run on. Sizes are given at full scale and divided by the scale
// divisor, so that a smoke run builds the same shapes at a fraction of the size.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "dova/package.hpp"

namespace dova::bench {

namespace dp = dova::package;

// Many tiles, each with a few large segments: the bytes dominate.
struct SegmentHeavyShape {
  std::uint32_t tiles = 1024;
  std::uint32_t segments_per_tile = 8;
  std::uint32_t data_bytes = 76'800;      // 8 segments of this size make 600 KiB per tile
  std::uint32_t zero_tail_bytes = 2'048;  // memory beyond the data, zero in the image
  std::uint32_t steps_per_plan = 64;
};

// Small segments but many small records: the structure dominates.
struct StructureHeavyShape {
  std::uint32_t tiles = 4096;
  std::uint32_t bindings = 20'000;
  std::uint32_t slices_per_binding = 8;
  std::uint32_t host_calls = 2'000;
  std::uint32_t slices_per_call = 64;  // half inputs, half outputs
  std::uint32_t plans = 1'024;
  std::uint32_t steps_per_plan = 1'000;
};

SegmentHeavyShape segment_heavy_shape(std::uint32_t divisor);
StructureHeavyShape structure_heavy_shape(std::uint32_t divisor);

dp::Application make_segment_heavy(const SegmentHeavyShape& shape);
// Its first output is "profile.cycles", with one slice of readings per planned tile.
dp::Application make_structure_heavy(const StructureHeavyShape& shape);

// The runtime output buffer of a profiled run of `application`: every output binding end to end,
// with counter readings in the profile binding.
std::vector<std::uint8_t> profiled_run_output(const dp::Application& application);

// Size of the tile's reconstructed image; 0 without segments.
std::uint64_t image_size(const dp::TileImage& tile);
// Bytes one deep copy of every profile step occupies: the records plus their heap-held contents.
std::uint64_t profile_step_bytes(const dp::Application& application);

}  // namespace dova::bench
