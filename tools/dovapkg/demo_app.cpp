#include "demo_app.hpp"

#include <fmt/format.h>

#include <array>
#include <string_view>

#include "dova/package/constants.hpp"
#include "reference.hpp"

namespace dovapkg {
namespace {

namespace dp = dova::package;

constexpr std::uint32_t TILE_COUNT = 16;
constexpr std::uint32_t CODE_BASE = 0x4c100;  // above the reference segment at the window base
constexpr std::uint32_t DATA_BASE = 0x60000;
constexpr std::uint32_t INPUT_BASE = 0x70000;
constexpr std::uint32_t WEIGHT_BASE = 0x74000;
constexpr std::uint32_t OUTPUT_BASE = 0x78000;
constexpr std::uint32_t READINGS_BASE = 0xe0000;

struct Layer {
  std::string_view operation;
  std::string_view kernel;
  bool exchanges;  // gathers its input from neighbouring tiles first
};

constexpr std::array<Layer, 8> LAYERS{{{"conv1", "conv2d_f32_3x3", true},
                                       {"relu1", "relu_f32", false},
                                       {"pool1", "maxpool_f32_2x2", true},
                                       {"conv2", "conv2d_f32_3x3", true},
                                       {"relu2", "relu_f32", false},
                                       {"pool2", "maxpool_f32_2x2", true},
                                       {"fc", "gemm_f32_accumulate", true},
                                       {"softmax", "softmax_f32", false}}};

// Bytes that look like code: a fixed pattern that differs from tile to tile.
std::vector<std::uint8_t> pattern(std::size_t size, std::uint32_t tile) {
  std::vector<std::uint8_t> bytes(size);
  for (std::size_t i = 0; i < size; ++i) {
    bytes[i] = static_cast<std::uint8_t>((i * 37 + tile * 11 + (i >> 5)) & 0xFF);
  }
  return bytes;
}

dp::ProfileStep step(std::uint32_t index, std::uint32_t phase, std::string_view operation,
                     dp::ProfileStepKind kind, std::string_view kernel) {
  return dp::ProfileStep{.local_index = index,
                         .phase = phase,
                         .epoch = 0,
                         .operation = std::string(operation),
                         .kind = kind,
                         .kernel = std::string(kernel),
                         .metadata = {},
                         .exchange_activities = {},
                         .exchange_event_cycles = 0};
}

// Per layer: an exchange where the layer needs its neighbours' data, the compute, then a
// synchronisation; the last tiles of the pipeline idle while the first layer fills it.
std::vector<dp::ProfileStep> plan_steps(std::uint32_t tile, std::vector<dp::ProfileStep> steps) {
  const auto next = [&] { return static_cast<std::uint32_t>(steps.size()); };
  if (tile >= TILE_COUNT / 2) {
    steps.push_back(step(next(), 0, "pipeline.fill", dp::ProfileStepKind::Idle, "idle"));
  }
  for (std::uint32_t phase = 0; phase < LAYERS.size(); ++phase) {
    const Layer& layer = LAYERS[phase];
    if (layer.exchanges) {
      dp::ProfileStep exchange = step(next(), phase, fmt::format("{}.gather", layer.operation),
                                      dp::ProfileStepKind::Exchange, "exchange");
      exchange.metadata = {{"partners", std::to_string(2 + tile % 3)}};
      exchange.exchange_activities = {{dp::ExchangeActivityKind::Send, 0, 120},
                                      {dp::ExchangeActivityKind::PartnerBusy, 120, 180},
                                      {dp::ExchangeActivityKind::Receive, 180, 400}};
      exchange.exchange_event_cycles = 400;
      steps.push_back(std::move(exchange));
    }
    dp::ProfileStep compute =
        step(next(), phase, layer.operation, dp::ProfileStepKind::Compute, layer.kernel);
    compute.metadata = {{"reason", "OperatorKernel"}, {"layer", std::to_string(phase)}};
    steps.push_back(std::move(compute));
    steps.push_back(step(next(), phase, fmt::format("{}.sync", layer.operation),
                         dp::ProfileStepKind::Synchronization, "barrier"));
  }
  return steps;
}

dp::Binding spread(std::string name, std::string dtype, std::vector<std::uint32_t> shape,
                   std::uint64_t bytes, std::uint32_t tiles, std::uint32_t tile_address) {
  dp::Binding binding{
      .name = std::move(name), .dtype = std::move(dtype), .shape = std::move(shape), .slices = {}};
  const std::uint64_t piece = bytes / tiles;
  for (std::uint32_t t = 0; t < tiles; ++t) {
    binding.slices.push_back(dp::RegionSlice{.tile = t,
                                             .tile_address = tile_address,
                                             .file_offset = t * piece,
                                             .size = t + 1 == tiles ? bytes - t * piece : piece});
  }
  return binding;
}

}  // namespace

dp::Application demo_application() {
  dp::Application app = dp::reference::extended_sample();

  // Tile 0 keeps the reference segment at the window base; every tile gets code and data.
  app.tiles.resize(TILE_COUNT);
  for (std::uint32_t t = 0; t < TILE_COUNT; ++t) {
    dp::TileImage& tile = app.tiles[t];
    tile.physical_tile = t;
    if (t != 0) {
      tile.entry_point = CODE_BASE;
      tile.command_address = DATA_BASE;
      tile.diagnostic_address = DATA_BASE + 0x100;
    }
    tile.segments.push_back(dp::Segment{.address = CODE_BASE,
                                        .memory_size = 0x800,
                                        .data = pattern(0x600 + 0x20 * t, t),
                                        .flags = 5});
    tile.segments.push_back(dp::Segment{
        .address = DATA_BASE, .memory_size = 0x1000, .data = pattern(0x40, t + 100), .flags = 6});
  }

  app.inputs.push_back(spread("image", "f32", {1, 3, 32, 32}, 3 * 32 * 32 * 4, 4, INPUT_BASE));
  app.weights.push_back(spread("conv1.weight", "f32", {16, 3, 3, 3}, 16 * 27 * 4, 8, WEIGHT_BASE));
  app.outputs.push_back(dp::Binding{
      .name = "logits",
      .dtype = "f32",
      .shape = {1, 10},
      .slices = {dp::RegionSlice{
          .tile = TILE_COUNT - 1, .tile_address = OUTPUT_BASE, .file_offset = 0, .size = 40}}});
  app.entry_points.push_back(dp::EntryPoint{.name = "main", .command = 1, .external_syncs = 0});

  // Tile 0's plan starts with the reference step; the other tiles get plans of their own.
  std::vector<dp::ProfileStep> reference_steps = app.profile_tiles.at(0).steps;
  app.profile_tiles.clear();
  dp::Binding readings{
      .name = std::string(dp::PROFILE_BINDING_NAME), .dtype = "u32", .shape = {}, .slices = {}};
  std::uint64_t offset = 0;
  for (std::uint32_t t = 0; t < TILE_COUNT; ++t) {
    dp::TileProfilePlan plan{
        .physical_tile = t,
        .steps = plan_steps(t, t == 0 ? reference_steps : std::vector<dp::ProfileStep>{})};
    const std::uint64_t size = 4 * (plan.steps.size() + 1);
    readings.slices.push_back(dp::RegionSlice{
        .tile = t, .tile_address = READINGS_BASE, .file_offset = offset, .size = size});
    offset += size;
    app.profile_tiles.push_back(std::move(plan));
  }
  readings.shape = {static_cast<std::uint32_t>(offset / 4)};
  app.outputs.push_back(std::move(readings));
  app.debug_symbols.push_back(dp::DebugSymbol{.name = "main", .address = CODE_BASE});
  return app;
}

}  // namespace dovapkg
