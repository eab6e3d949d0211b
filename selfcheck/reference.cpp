#include "reference.hpp"

namespace dova::package::reference {

Application sample() {
  Application app;
  app.tiles.push_back(TileImage{
      .physical_tile = 0,
      .entry_point = 0x4C000,
      .command_address = 0x4C100,
      .diagnostic_address = 0x4C200,
      .segments = {Segment{.address = 0x4C000, .memory_size = 8, .data = {1, 2, 3, 4}, .flags = 5}},
  });
  return app;
}

Application extended_sample() {
  Application app = sample();
  app.profile_tiles.push_back(TileProfilePlan{
      .physical_tile = 0,
      .steps = {ProfileStep{
          .local_index = 0,
          .phase = 7,
          .epoch = 0,
          .operation = "operation.0",
          .kind = ProfileStepKind::Compute,
          .kernel = "kernel",
          .metadata = {ProfileMetadata{.name = "reason", .value = "OperatorKernel"}},
          .exchange_activities =
              {ProfileExchangeActivity{
                   .kind = ExchangeActivityKind::Receive, .start_cycle = 3, .end_cycle = 11},
               ProfileExchangeActivity{
                   .kind = ExchangeActivityKind::PartnerBusy, .start_cycle = 1, .end_cycle = 3}},
          .exchange_event_cycles = 13,
      }},
  });
  app.device_config_writes.push_back(DeviceConfigWrite{.offset = 0x4018, .value = 0xC000000D});
  app.debug_symbols.push_back(DebugSymbol{.name = "kernel", .address = 0x4C000});
  app.debug_regions.push_back(DebugRegion{
      .physical_tile = NO_SINGLE_TILE, .address = 0x4C000, .size = 8, .name = "linked executable"});
  app.host_exchange = HostExchange{
      .startup_mark = 1,
      .command_page = 0,
      .command_offset = 0,
      .pages = {HostPage{.index = 0, .size = 0x1000}, HostPage{.index = 1, .size = 0x2000}},
      .attach_order = {0, 1},
      .calls = {HostCall{
          .name = "batched",
          .command = 2,
          .phases = 4,
          .inputs = {HostSlice{.page = 1, .page_offset = 0, .file_offset = 0, .size = 16},
                     HostSlice{.page = 1, .page_offset = 0x1000, .file_offset = 16, .size = 16}},
          .outputs = {HostSlice{.page = 1, .page_offset = 0, .file_offset = 0, .size = 32}},
          .invocations = 1,
          .input_batch_ends = {2},
          .output_batch_ends = {1},
      }},
  };
  return app;
}

ProfileReport profile_report() {
  constexpr ProfileStepKind kinds[] = {ProfileStepKind::Exchange, ProfileStepKind::Compute,
                                       ProfileStepKind::Synchronization, ProfileStepKind::Idle};
  TileProfile tile{.physical_tile = 17, .samples = {}};
  for (std::uint32_t k = 0; k < 4; ++k) {
    ProfileStep step{
        .local_index = k,
        .phase = 5,
        .epoch = 8,
        .operation = "accumulate",
        .kind = kinds[k],
        .kernel = "gemm_f32_accumulate",
        .metadata = {ProfileMetadata{.name = "innerBlock", .value = "8"}},
        .exchange_activities = {},
        .exchange_event_cycles = 9,
    };
    if (kinds[k] == ProfileStepKind::Exchange) {
      step.exchange_activities = {
          ProfileExchangeActivity{
              .kind = ExchangeActivityKind::Send, .start_cycle = 2, .end_cycle = 6},
          ProfileExchangeActivity{
              .kind = ExchangeActivityKind::PartnerBusy, .start_cycle = 6, .end_cycle = 8}};
    }
    // The counter wraps during every step: each sample ends below its start.
    tile.samples.push_back(
        CycleSample{.step = std::move(step), .start_cycle = 0xFFFFFFF5u + k, .end_cycle = k + 7});
  }
  return ProfileReport{.clock_hz = 1'500'000'000, .tiles = {std::move(tile)}};
}

}  // namespace dova::package::reference
