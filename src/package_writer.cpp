// Writing an application as a package. Fields are set and lists created in one fixed order: the
// arena allocates sequentially, so that order fixes the exact bytes of the package. The arena does
// not clear its memory: every object is cleared or filled as it is allocated (uncleared_write.hpp),
// and every list reaching a write_<list> function has been cleared by its caller.

#include <ostream>

#include "capnp_convert.hpp"
#include "dova/package/constants.hpp"
#include "log_emit.hpp"
#include "package_arena.hpp"
#include "uncleared_write.hpp"

namespace dova::package {
namespace {

template <class Sink>
Result<void> write_package(const Application& application, Sink& sink) {
  if (auto valid = application.validate(); !valid) return valid;
  emit_event(LogLevel::Info, "writing application package",
             {{"tiles", std::uint64_t{application.tiles.size()}}});
  auto written = guarded([&]() -> Result<void> {
    PackageArena message;
    write_application(cleared(message.initRoot<app::Application>()), application);
    return write_message(message, sink);
  });
  if (!written) return written;
  emit_event(LogLevel::Info, "application package written");
  return {};
}

}  // namespace

void write_application(app::Application::Builder root, const Application& application) {
  root.setSchemaVersion(PACKAGE_SCHEMA_VERSION);
  put_text(root.initCompilerVersion(text_size(application.compiler_version.size())),
           application.compiler_version);
  put_text(root.initTarget(text_size(PACKAGE_TARGET.size())), PACKAGE_TARGET);
  root.setTileMemoryBase(TILE_MEMORY_BASE);
  root.setTileMemorySize(TILE_MEMORY_SIZE);
  write_tiles(cleared(root.initTiles(list_size(application.tiles.size()))), application.tiles);
  write_bindings(cleared(root.initInputs(list_size(application.inputs.size()))),
                 application.inputs);
  write_bindings(cleared(root.initOutputs(list_size(application.outputs.size()))),
                 application.outputs);
  write_bindings(cleared(root.initWeights(list_size(application.weights.size()))),
                 application.weights);
  write_host_exchange(cleared(root.initHostExchange()), application.host_exchange);

  auto entry_points = cleared(root.initEntryPoints(list_size(application.entry_points.size())));
  for (capnp::uint i = 0; i < entry_points.size(); ++i) {
    const EntryPoint& entry = application.entry_points[i];
    put_text(entry_points[i].initName(text_size(entry.name.size())), entry.name);
    entry_points[i].setCommand(entry.command);
    entry_points[i].setExternalSyncs(entry.external_syncs);
  }
  auto config_writes =
      cleared(root.initDeviceConfigWrites(list_size(application.device_config_writes.size())));
  for (capnp::uint i = 0; i < config_writes.size(); ++i) {
    config_writes[i].setOffset(application.device_config_writes[i].offset);
    config_writes[i].setValue(application.device_config_writes[i].value);
  }
  write_profile_tiles(cleared(root.initProfileTiles(list_size(application.profile_tiles.size()))),
                      application.profile_tiles);
  auto symbols = cleared(root.initDebugSymbols(list_size(application.debug_symbols.size())));
  for (capnp::uint i = 0; i < symbols.size(); ++i) {
    const std::string& name = application.debug_symbols[i].name;
    put_text(symbols[i].initName(text_size(name.size())), name);
    symbols[i].setAddress(application.debug_symbols[i].address);
  }
  auto regions = cleared(root.initDebugRegions(list_size(application.debug_regions.size())));
  for (capnp::uint i = 0; i < regions.size(); ++i) {
    const DebugRegion& region = application.debug_regions[i];
    regions[i].setPhysicalTile(region.physical_tile);
    regions[i].setAddress(region.address);
    regions[i].setSize(region.size);
    put_text(regions[i].initName(text_size(region.name.size())), region.name);
  }
}

void write_tiles(ListBuilder<app::TileImage> list, const std::vector<TileImage>& tiles) {
  for (capnp::uint i = 0; i < list.size(); ++i) {
    const TileImage& tile = tiles[i];
    auto builder = list[i];
    builder.setPhysicalTile(tile.physical_tile);
    builder.setEntryPoint(tile.entry_point);
    builder.setCommandAddress(tile.command_address);
    builder.setDiagnosticAddress(tile.diagnostic_address);
    auto segments = cleared(builder.initSegments(list_size(tile.segments.size())));
    for (capnp::uint j = 0; j < segments.size(); ++j) {
      const Segment& segment = tile.segments[j];
      segments[j].setAddress(segment.address);
      segments[j].setMemorySize(segment.memory_size);
      put_data(segments[j].initData(data_size(segment.data.size())), segment.data);
      segments[j].setFlags(segment.flags);
    }
  }
}

void write_bindings(ListBuilder<app::Binding> list, const std::vector<Binding>& bindings) {
  for (capnp::uint i = 0; i < list.size(); ++i) {
    const Binding& binding = bindings[i];
    auto builder = list[i];
    put_text(builder.initName(text_size(binding.name.size())), binding.name);
    put_text(builder.initDtype(text_size(binding.dtype.size())), binding.dtype);
    write_u32_list(cleared(builder.initShape(list_size(binding.shape.size()))), binding.shape);
    auto slices = cleared(builder.initSlices(list_size(binding.slices.size())));
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
  auto pages = cleared(builder.initPages(list_size(exchange.pages.size())));
  for (capnp::uint i = 0; i < pages.size(); ++i) {
    pages[i].setIndex(exchange.pages[i].index);
    pages[i].setSize(exchange.pages[i].size);
  }
  write_u32_list(cleared(builder.initAttachOrder(list_size(exchange.attach_order.size()))),
                 exchange.attach_order);
  auto calls = cleared(builder.initCalls(list_size(exchange.calls.size())));
  for (capnp::uint i = 0; i < calls.size(); ++i) {
    const HostCall& call = exchange.calls[i];
    auto out = calls[i];
    put_text(out.initName(text_size(call.name.size())), call.name);
    out.setCommand(call.command);
    out.setPhases(call.phases);
    out.setInvocations(call.invocations);
    write_u32_list(cleared(out.initInputBatchEnds(list_size(call.input_batch_ends.size()))),
                   call.input_batch_ends);
    write_u32_list(cleared(out.initOutputBatchEnds(list_size(call.output_batch_ends.size()))),
                   call.output_batch_ends);
    write_host_slices(cleared(out.initInputs(list_size(call.inputs.size()))), call.inputs);
    write_host_slices(cleared(out.initOutputs(list_size(call.outputs.size()))), call.outputs);
  }
}

void write_profile_tiles(ListBuilder<app::TileProfilePlan> list,
                         const std::vector<TileProfilePlan>& plans) {
  for (capnp::uint i = 0; i < list.size(); ++i) {
    list[i].setPhysicalTile(plans[i].physical_tile);
    auto steps = cleared(list[i].initSteps(list_size(plans[i].steps.size())));
    for (capnp::uint j = 0; j < steps.size(); ++j) write_profile_step(steps[j], plans[i].steps[j]);
  }
}

Result<void> Application::write(std::vector<std::uint8_t>& sink) const {
  return write_package(*this, sink);
}

Result<void> Application::write(std::ostream& sink) const { return write_package(*this, sink); }

}  // namespace dova::package
