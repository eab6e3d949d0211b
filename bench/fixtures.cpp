#include "fixtures.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cstring>
#include <limits>

namespace dova::bench {
namespace {

constexpr std::uint32_t BASE = dp::TILE_MEMORY_BASE;
constexpr std::uint32_t READING_BYTES = 4;

std::uint32_t divided(std::uint32_t count, std::uint32_t divisor) {
  return std::max<std::uint32_t>(1, count / std::max<std::uint32_t>(1, divisor));
}

// Deterministic filler bytes; their values play no part in the timings.
class Filler {
 public:
  explicit Filler(std::uint64_t seed) : state_(seed | 1) {}

  std::vector<std::uint8_t> bytes(std::size_t size) {
    std::vector<std::uint8_t> out(size);
    std::size_t i = 0;
    for (; i + 8 <= size; i += 8) {
      const std::uint64_t word = next();
      std::memcpy(out.data() + i, &word, 8);
    }
    for (; i < size; ++i) out[i] = static_cast<std::uint8_t>(next());
    return out;
  }

  std::uint64_t next() {
    state_ ^= state_ >> 12;
    state_ ^= state_ << 25;
    state_ ^= state_ >> 27;
    return state_ * 0x2545F4914F6CDD1Dull;
  }

 private:
  std::uint64_t state_;
};

// A step as a compiler would plan it: texts of mixed lengths (some fit a short-string buffer,
// some do not), two metadata pairs and, for exchange steps, two activities.
dp::ProfileStep make_step(std::uint32_t index) {
  dp::ProfileStep step;
  step.local_index = index;
  step.phase = index / 100;
  step.epoch = index / 10;
  step.operation = fmt::format("encoder/block_{}/attention/matmul", index % 48);
  step.kind = static_cast<dp::ProfileStepKind>(index % 4);
  step.kernel = fmt::format("kernel_{}", index % 97);
  step.metadata = {{"flops", std::to_string(1000 + index)},
                   {"vertex_class", "PartialConvolution1x1"}};
  if (step.kind == dp::ProfileStepKind::Exchange) {
    step.exchange_activities = {{dp::ExchangeActivityKind::Send, index, index + 10},
                                {dp::ExchangeActivityKind::Receive, index + 10, index + 20}};
  }
  step.exchange_event_cycles = index * 3;
  return step;
}

dp::TileProfilePlan make_plan(std::uint32_t tile, std::uint32_t steps) {
  dp::TileProfilePlan plan{tile, {}};
  plan.steps.reserve(steps);
  for (std::uint32_t k = 0; k < steps; ++k) plan.steps.push_back(make_step(k));
  return plan;
}

std::uint64_t text_heap_bytes(const std::string& text) {
  // Texts longer than the short-string buffer live on the heap.
  return text.capacity() > 15 ? text.capacity() + 1 : 0;
}

}  // namespace

SegmentHeavyShape segment_heavy_shape(std::uint32_t divisor) {
  SegmentHeavyShape shape;
  shape.tiles = divided(shape.tiles, divisor);
  return shape;
}

StructureHeavyShape structure_heavy_shape(std::uint32_t divisor) {
  StructureHeavyShape shape;
  shape.tiles = divided(shape.tiles, divisor);
  shape.bindings = divided(shape.bindings, divisor);
  shape.host_calls = divided(shape.host_calls, divisor);
  shape.plans = std::min(divided(shape.plans, divisor), shape.tiles);
  return shape;
}

dp::Application make_segment_heavy(const SegmentHeavyShape& shape) {
  Filler filler(0x5e6);
  dp::Application app;
  app.compiler_version = "bench-compiler 1.0";
  const std::uint32_t stride = shape.data_bytes + shape.zero_tail_bytes;
  app.tiles.reserve(shape.tiles);
  app.profile_tiles.reserve(shape.tiles);
  for (std::uint32_t t = 0; t < shape.tiles; ++t) {
    dp::TileImage tile{.physical_tile = t,
                       .entry_point = BASE,
                       .command_address = BASE + 8,
                       .diagnostic_address = BASE + 16};
    tile.segments.reserve(shape.segments_per_tile);
    for (std::uint32_t s = 0; s < shape.segments_per_tile; ++s) {
      tile.segments.push_back({.address = BASE + s * stride,
                               .memory_size = stride,
                               .data = filler.bytes(shape.data_bytes),
                               .flags = s});
    }
    app.tiles.push_back(std::move(tile));
    app.profile_tiles.push_back(make_plan(t, shape.steps_per_plan));
  }
  app.inputs.push_back({"input", "float16", {1, 1024}, {{0, BASE, 0, 2048}}});
  app.outputs.push_back({"output", "float16", {1, 1024}, {{0, BASE + 2048, 0, 2048}}});
  app.entry_points.push_back({"main", 1, 0});
  return app;
}

dp::Application make_structure_heavy(const StructureHeavyShape& shape) {
  Filler filler(0x57c);
  dp::Application app;
  app.compiler_version = "bench-compiler 1.0";

  app.tiles.reserve(shape.tiles);
  for (std::uint32_t t = 0; t < shape.tiles; ++t) {
    dp::TileImage tile{.physical_tile = t,
                       .entry_point = BASE,
                       .command_address = BASE + 8,
                       .diagnostic_address = BASE + 16};
    tile.segments = {{.address = BASE, .memory_size = 512, .data = filler.bytes(256), .flags = 5},
                     {.address = 0x60000, .memory_size = 128, .data = filler.bytes(64), .flags = 6},
                     {.address = 0x70000, .memory_size = 1024, .flags = 2}};
    app.tiles.push_back(std::move(tile));
  }

  const std::uint32_t reading_bytes = READING_BYTES * (shape.steps_per_plan + 1);
  dp::Binding cycles{std::string(dp::PROFILE_BINDING_NAME), "uint32", {shape.plans}, {}};
  cycles.slices.reserve(shape.plans);
  for (std::uint32_t p = 0; p < shape.plans; ++p) {
    cycles.slices.push_back({p, 0xe0000, std::uint64_t{p} * reading_bytes, reading_bytes});
  }
  app.outputs.push_back(std::move(cycles));

  constexpr std::uint32_t slice_bytes = 1024;
  for (std::uint32_t b = 0; b < shape.bindings; ++b) {
    const char* role = b % 10 < 3 ? "input" : b % 10 < 5 ? "output" : "weight";
    dp::Binding binding{fmt::format("{}/block_{:03}/tensor_{}", role, b / 64, b),
                        b % 2 == 0 ? "float16" : "int8",
                        {1, 64, 16},
                        {}};
    binding.slices.reserve(shape.slices_per_binding);
    for (std::uint32_t j = 0; j < shape.slices_per_binding; ++j) {
      binding.slices.push_back({(b * shape.slices_per_binding + j) % shape.tiles, BASE + 0x1000 * j,
                                std::uint64_t{j} * slice_bytes, slice_bytes});
    }
    auto& list = b % 10 < 3 ? app.inputs : b % 10 < 5 ? app.outputs : app.weights;
    list.push_back(std::move(binding));
  }

  constexpr std::uint32_t pages = 64;
  constexpr std::uint64_t page_bytes = 1 << 20;
  constexpr std::uint64_t host_slice_bytes = 4096;
  dp::HostExchange& exchange = app.host_exchange;
  exchange.startup_mark = 0xfeed;
  for (std::uint32_t p = 0; p < pages; ++p) {
    exchange.pages.push_back({p, page_bytes});
    exchange.attach_order.push_back(p);
  }
  const std::uint32_t per_direction = shape.slices_per_call / 2;
  std::vector<std::uint32_t> batch_ends;
  for (std::uint32_t end = 8; end <= per_direction; end += 8) batch_ends.push_back(end);
  if (batch_ends.empty() || batch_ends.back() != per_direction) batch_ends.push_back(per_direction);
  exchange.calls.reserve(shape.host_calls);
  for (std::uint32_t c = 0; c < shape.host_calls; ++c) {
    dp::HostCall call{.name = fmt::format("host_call_{}", c),
                      .command = c,
                      .phases = 2,
                      .invocations = 1 + c % 3,
                      .input_batch_ends = batch_ends,
                      .output_batch_ends = batch_ends};
    call.inputs.reserve(per_direction);
    call.outputs.reserve(per_direction);
    for (std::uint32_t j = 0; j < per_direction; ++j) {
      const std::uint64_t offset = j * host_slice_bytes;
      call.inputs.push_back({c % pages, offset, offset, host_slice_bytes});
      call.outputs.push_back(
          {(c + 1) % pages, per_direction * host_slice_bytes + offset, offset, host_slice_bytes});
    }
    exchange.calls.push_back(std::move(call));
  }

  for (std::uint32_t e = 0; e < 16; ++e)
    app.entry_points.push_back({fmt::format("main_{}", e), e, e % 3});
  for (std::uint32_t w = 0; w < 256; ++w) app.device_config_writes.push_back({4 * w, w});

  app.profile_tiles.reserve(shape.plans);
  for (std::uint32_t p = 0; p < shape.plans; ++p) {
    app.profile_tiles.push_back(make_plan(p, shape.steps_per_plan));
  }

  app.debug_symbols.reserve(shape.tiles);
  for (std::uint32_t t = 0; t < shape.tiles; ++t) {
    app.debug_symbols.push_back({fmt::format("tile_{}_entry", t), BASE});
  }
  for (std::uint32_t r = 0; r < 64; ++r) {
    app.debug_regions.push_back({r % 2 == 0 ? r % shape.tiles : dp::NO_SINGLE_TILE, BASE + 256 * r,
                                 256, fmt::format("region_{}", r)});
  }
  return app;
}

std::vector<std::uint8_t> profiled_run_output(const dp::Application& application) {
  std::uint64_t total = 0;
  for (const dp::Binding& binding : application.outputs) total += dp::binding_size(binding);
  std::vector<std::uint8_t> output(total);

  Filler filler(0xc1c);
  std::uint64_t base = 0;
  for (const dp::Binding& binding : application.outputs) {
    if (binding.name == dp::PROFILE_BINDING_NAME) {
      for (const dp::RegionSlice& slice : binding.slices) {
        // A free-running counter, sampled at increasing times.
        auto counter = static_cast<std::uint32_t>(filler.next());
        for (std::uint64_t at = 0; at + READING_BYTES <= slice.size; at += READING_BYTES) {
          std::memcpy(output.data() + base + slice.file_offset + at, &counter, READING_BYTES);
          counter += 100 + static_cast<std::uint32_t>(filler.next() % 1000);
        }
      }
      break;
    }
    base += dp::binding_size(binding);
  }
  return output;
}

std::uint64_t image_size(const dp::TileImage& tile) {
  if (tile.segments.empty()) return 0;
  std::uint32_t low = std::numeric_limits<std::uint32_t>::max();
  std::uint32_t high = 0;
  for (const dp::Segment& segment : tile.segments) {
    low = std::min(low, segment.address);
    high = std::max(high, segment.address + segment.memory_size);
  }
  return high - low;
}

std::uint64_t profile_step_bytes(const dp::Application& application) {
  std::uint64_t total = 0;
  for (const dp::TileProfilePlan& plan : application.profile_tiles) {
    for (const dp::ProfileStep& step : plan.steps) {
      total += sizeof step + text_heap_bytes(step.operation) + text_heap_bytes(step.kernel);
      total += step.metadata.size() * sizeof(dp::ProfileMetadata);
      for (const dp::ProfileMetadata& item : step.metadata) {
        total += text_heap_bytes(item.name) + text_heap_bytes(item.value);
      }
      total += step.exchange_activities.size() * sizeof(dp::ProfileExchangeActivity);
    }
  }
  return total;
}

}  // namespace dova::bench
