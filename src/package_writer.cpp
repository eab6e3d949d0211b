// Writing an application as a package. Fields are set and lists created in one fixed order: the
// arena allocates sequentially, so that order fixes the exact bytes of the package.

#include <ostream>

#include "capnp_convert.hpp"
#include "dova/package/constants.hpp"
#include "log_emit.hpp"

namespace dova::package {
namespace {

void write_application(app::Application::Builder root, const Application& application) {
  root.setSchemaVersion(PACKAGE_SCHEMA_VERSION);
  root.setCompilerVersion(as_text(application.compiler_version));
  root.setTarget(capnp::Text::Reader(PACKAGE_TARGET.data(), PACKAGE_TARGET.size()));
  root.setTileMemoryBase(TILE_MEMORY_BASE);
  root.setTileMemorySize(TILE_MEMORY_SIZE);
  write_tiles(root.initTiles(list_size(application.tiles.size())), application.tiles);
  write_bindings(root.initInputs(list_size(application.inputs.size())), application.inputs);
  write_bindings(root.initOutputs(list_size(application.outputs.size())), application.outputs);
  write_bindings(root.initWeights(list_size(application.weights.size())), application.weights);
  write_host_exchange(root.initHostExchange(), application.host_exchange);

  auto entry_points = root.initEntryPoints(list_size(application.entry_points.size()));
  for (capnp::uint i = 0; i < entry_points.size(); ++i) {
    const EntryPoint& entry = application.entry_points[i];
    entry_points[i].setName(as_text(entry.name));
    entry_points[i].setCommand(entry.command);
    entry_points[i].setExternalSyncs(entry.external_syncs);
  }
  auto config_writes =
      root.initDeviceConfigWrites(list_size(application.device_config_writes.size()));
  for (capnp::uint i = 0; i < config_writes.size(); ++i) {
    config_writes[i].setOffset(application.device_config_writes[i].offset);
    config_writes[i].setValue(application.device_config_writes[i].value);
  }
  write_profile_tiles(root.initProfileTiles(list_size(application.profile_tiles.size())),
                      application.profile_tiles);
  auto symbols = root.initDebugSymbols(list_size(application.debug_symbols.size()));
  for (capnp::uint i = 0; i < symbols.size(); ++i) {
    symbols[i].setName(as_text(application.debug_symbols[i].name));
    symbols[i].setAddress(application.debug_symbols[i].address);
  }
  auto regions = root.initDebugRegions(list_size(application.debug_regions.size()));
  for (capnp::uint i = 0; i < regions.size(); ++i) {
    const DebugRegion& region = application.debug_regions[i];
    regions[i].setPhysicalTile(region.physical_tile);
    regions[i].setAddress(region.address);
    regions[i].setSize(region.size);
    regions[i].setName(as_text(region.name));
  }
}

template <class Sink>
Result<void> write_package(const Application& application, Sink& sink) {
  if (auto valid = application.validate(); !valid) return valid;
  emit_event(LogLevel::Info, "writing application package",
             {{"tiles", std::uint64_t{application.tiles.size()}}});
  auto written = build_and_write(
      [&](capnp::MessageBuilder& message) {
        write_application(message.initRoot<app::Application>(), application);
      },
      sink);
  if (!written) return written;
  emit_event(LogLevel::Info, "application package written");
  return {};
}

}  // namespace

void write_tiles(ListBuilder<app::TileImage> list, const std::vector<TileImage>& tiles) {
  for (capnp::uint i = 0; i < list.size(); ++i) {
    const TileImage& tile = tiles[i];
    auto builder = list[i];
    builder.setPhysicalTile(tile.physical_tile);
    builder.setEntryPoint(tile.entry_point);
    builder.setCommandAddress(tile.command_address);
    builder.setDiagnosticAddress(tile.diagnostic_address);
    auto segments = builder.initSegments(list_size(tile.segments.size()));
    for (capnp::uint j = 0; j < segments.size(); ++j) {
      const Segment& segment = tile.segments[j];
      segments[j].setAddress(segment.address);
      segments[j].setMemorySize(segment.memory_size);
      segments[j].setData(capnp::Data::Reader(segment.data.data(), segment.data.size()));
      segments[j].setFlags(segment.flags);
    }
  }
}

void write_bindings(ListBuilder<app::Binding> list, const std::vector<Binding>& bindings) {
  for (capnp::uint i = 0; i < list.size(); ++i) {
    const Binding& binding = bindings[i];
    auto builder = list[i];
    builder.setName(as_text(binding.name));
    builder.setDtype(as_text(binding.dtype));
    write_u32_list(builder.initShape(list_size(binding.shape.size())), binding.shape);
    auto slices = builder.initSlices(list_size(binding.slices.size()));
    for (capnp::uint j = 0; j < slices.size(); ++j) {
      const RegionSlice& slice = binding.slices[j];
      slices[j].setTile(slice.tile);
      slices[j].setTileAddress(slice.tile_address);
      slices[j].setFileOffset(slice.file_offset);
      slices[j].setSize(slice.size);
    }
  }
}

void write_host_slices(ListBuilder<app::HostSlice> list, const std::vector<HostSlice>& slices) {
  for (capnp::uint i = 0; i < list.size(); ++i) {
    list[i].setPage(slices[i].page);
    list[i].setPageOffset(slices[i].page_offset);
    list[i].setFileOffset(slices[i].file_offset);
    list[i].setSize(slices[i].size);
  }
}

void write_host_exchange(app::HostExchange::Builder builder, const HostExchange& exchange) {
  builder.setStartupMark(exchange.startup_mark);
  builder.setCommandPage(exchange.command_page);
  builder.setCommandOffset(exchange.command_offset);
  auto pages = builder.initPages(list_size(exchange.pages.size()));
  for (capnp::uint i = 0; i < pages.size(); ++i) {
    pages[i].setIndex(exchange.pages[i].index);
    pages[i].setSize(exchange.pages[i].size);
  }
  write_u32_list(builder.initAttachOrder(list_size(exchange.attach_order.size())),
                 exchange.attach_order);
  auto calls = builder.initCalls(list_size(exchange.calls.size()));
  for (capnp::uint i = 0; i < calls.size(); ++i) {
    const HostCall& call = exchange.calls[i];
    auto out = calls[i];
    out.setName(as_text(call.name));
    out.setCommand(call.command);
    out.setPhases(call.phases);
    out.setInvocations(call.invocations);
    write_u32_list(out.initInputBatchEnds(list_size(call.input_batch_ends.size())),
                   call.input_batch_ends);
    write_u32_list(out.initOutputBatchEnds(list_size(call.output_batch_ends.size())),
                   call.output_batch_ends);
    write_host_slices(out.initInputs(list_size(call.inputs.size())), call.inputs);
    write_host_slices(out.initOutputs(list_size(call.outputs.size())), call.outputs);
  }
}

void write_profile_tiles(ListBuilder<app::TileProfilePlan> list,
                         const std::vector<TileProfilePlan>& plans) {
  for (capnp::uint i = 0; i < list.size(); ++i) {
    list[i].setPhysicalTile(plans[i].physical_tile);
    auto steps = list[i].initSteps(list_size(plans[i].steps.size()));
    for (capnp::uint j = 0; j < steps.size(); ++j) write_profile_step(steps[j], plans[i].steps[j]);
  }
}

Result<void> Application::write(std::vector<std::uint8_t>& sink) const {
  return write_package(*this, sink);
}

Result<void> Application::write(std::ostream& sink) const { return write_package(*this, sink); }

}  // namespace dova::package
