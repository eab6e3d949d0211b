// Reading a package back into an Application: framing, header, every list in a fixed order (so
// that of two faults the first in that order is reported), then validation.

#include <istream>

#include "capnp_convert.hpp"
#include "dova/package/constants.hpp"
#include "log_emit.hpp"

namespace dova::package {
namespace {

PackageError incompatible_header() { return PackageError::invalid("incompatible package header"); }

// The header is checked in a fixed order: a package of another schema version is refused before
// its target is looked at.
Result<void> check_header(app::Application::Reader root, DecodeBudget& budget) {
  if (root.getSchemaVersion() != PACKAGE_SCHEMA_VERSION)
    return tl::unexpected(incompatible_header());
  auto target = read_text(root.getTarget(), budget);
  if (!target) return tl::unexpected(std::move(target.error()));
  if (*target != PACKAGE_TARGET) return tl::unexpected(incompatible_header());
  if (root.getTileMemoryBase() != TILE_MEMORY_BASE) return tl::unexpected(incompatible_header());
  if (root.getTileMemorySize() != TILE_MEMORY_SIZE) return tl::unexpected(incompatible_header());
  return {};
}

// The conversions of the large lists fill a default-constructed record where it stays.

Result<void> read_segment(app::Segment::Reader reader, DecodeBudget& budget, Segment& segment) {
  segment.address = reader.getAddress();
  segment.memory_size = reader.getMemorySize();
  const capnp::Data::Reader data = reader.getData();
  budget.charge(data.size(), 1);
  segment.data.assign(data.begin(), data.end());
  segment.flags = reader.getFlags();
  return {};
}

Result<void> read_tile(app::TileImage::Reader reader, DecodeBudget& budget, TileImage& tile) {
  tile.physical_tile = reader.getPhysicalTile();
  tile.entry_point = reader.getEntryPoint();
  tile.command_address = reader.getCommandAddress();
  tile.diagnostic_address = reader.getDiagnosticAddress();
  return read_list_into(reader.getSegments(), budget, tile.segments, read_segment);
}

Result<void> read_region_slice(app::RegionSlice::Reader reader, DecodeBudget&, RegionSlice& slice) {
  slice = {reader.getTile(), reader.getTileAddress(), reader.getFileOffset(), reader.getSize()};
  return {};
}

Result<void> read_binding(app::Binding::Reader reader, DecodeBudget& budget, Binding& binding) {
  if (auto name = read_text_into(reader.getName(), budget, binding.name); !name) return name;
  if (auto dtype = read_text_into(reader.getDtype(), budget, binding.dtype); !dtype) return dtype;
  binding.shape = read_u32_list(reader.getShape(), budget);
  return read_list_into(reader.getSlices(), budget, binding.slices, read_region_slice);
}

Result<HostPage> read_host_page(app::HostPage::Reader reader, DecodeBudget&) {
  return HostPage{reader.getIndex(), reader.getSize()};
}

Result<void> read_host_call(app::HostCall::Reader reader, DecodeBudget& budget, HostCall& call) {
  if (auto name = read_text_into(reader.getName(), budget, call.name); !name) return name;
  call.command = reader.getCommand();
  call.phases = reader.getPhases();
  call.invocations = reader.getInvocations();
  call.inputs = read_host_slices(reader.getInputs(), budget);
  call.outputs = read_host_slices(reader.getOutputs(), budget);
  call.input_batch_ends = read_u32_list(reader.getInputBatchEnds(), budget);
  call.output_batch_ends = read_u32_list(reader.getOutputBatchEnds(), budget);
  return {};
}

Result<EntryPoint> read_entry_point(app::EntryPoint::Reader reader, DecodeBudget& budget) {
  auto name = read_text(reader.getName(), budget);
  if (!name) return tl::unexpected(std::move(name.error()));
  return EntryPoint{std::move(*name), reader.getCommand(), reader.getExternalSyncs()};
}

Result<DeviceConfigWrite> read_config_write(app::DeviceConfigWrite::Reader reader, DecodeBudget&) {
  return DeviceConfigWrite{reader.getOffset(), reader.getValue()};
}

Result<void> read_profile_plan(app::TileProfilePlan::Reader reader, DecodeBudget& budget,
                               TileProfilePlan& plan) {
  plan.physical_tile = reader.getPhysicalTile();
  return read_list_into(reader.getSteps(), budget, plan.steps, read_profile_step_into);
}

Result<DebugSymbol> read_debug_symbol(app::DebugSymbol::Reader reader, DecodeBudget& budget) {
  auto name = read_text(reader.getName(), budget);
  if (!name) return tl::unexpected(std::move(name.error()));
  return DebugSymbol{std::move(*name), reader.getAddress()};
}

Result<DebugRegion> read_debug_region(app::DebugRegion::Reader reader, DecodeBudget& budget) {
  DebugRegion region;
  region.physical_tile = reader.getPhysicalTile();
  region.address = reader.getAddress();
  region.size = reader.getSize();
  auto name = read_text(reader.getName(), budget);
  if (!name) return tl::unexpected(std::move(name.error()));
  region.name = std::move(*name);
  return region;
}

// Moves a converted list into its field; returns the conversion's error, if any.
template <class T>
std::optional<PackageError> take(std::vector<T>& field, Result<std::vector<T>> converted) {
  if (!converted) return std::move(converted.error());
  field = std::move(*converted);
  return std::nullopt;
}

Result<Application> decode_application(capnp::MessageReader& message, DecodeBudget& budget) {
  const auto root = message.getRoot<app::Application>();
  if (auto header = check_header(root, budget); !header)
    return tl::unexpected(std::move(header.error()));

  Application application;
  auto compiler = read_text(root.getCompilerVersion(), budget);
  if (!compiler) return tl::unexpected(std::move(compiler.error()));
  application.compiler_version = std::move(*compiler);

  std::optional<PackageError> fault;
  if ((fault = take(application.tiles, read_tiles(root.getTiles(), budget))))
    return tl::unexpected(*fault);
  if ((fault = take(application.inputs, read_bindings(root.getInputs(), budget)))) {
    return tl::unexpected(*fault);
  }
  if ((fault = take(application.outputs, read_bindings(root.getOutputs(), budget)))) {
    return tl::unexpected(*fault);
  }
  if ((fault = take(application.weights, read_bindings(root.getWeights(), budget)))) {
    return tl::unexpected(*fault);
  }
  auto exchange = read_host_exchange(root.getHostExchange(), budget);
  if (!exchange) return tl::unexpected(std::move(exchange.error()));
  application.host_exchange = std::move(*exchange);
  if ((fault = take(application.entry_points,
                    read_list<app::EntryPoint>(root.getEntryPoints(), budget, read_entry_point)))) {
    return tl::unexpected(*fault);
  }
  if ((fault = take(application.device_config_writes,
                    read_list<app::DeviceConfigWrite>(root.getDeviceConfigWrites(), budget,
                                                      read_config_write)))) {
    return tl::unexpected(*fault);
  }
  if ((fault =
           take(application.profile_tiles, read_profile_tiles(root.getProfileTiles(), budget)))) {
    return tl::unexpected(*fault);
  }
  if ((fault =
           take(application.debug_symbols,
                read_list<app::DebugSymbol>(root.getDebugSymbols(), budget, read_debug_symbol)))) {
    return tl::unexpected(*fault);
  }
  if ((fault =
           take(application.debug_regions,
                read_list<app::DebugRegion>(root.getDebugRegions(), budget, read_debug_region)))) {
    return tl::unexpected(*fault);
  }
  return application;
}

Result<Application> finish(const Result<FramedMessage>& frame) {
  if (!frame) return tl::unexpected(frame.error());
  auto application = decode_message(*frame, decode_application);
  if (!application) return application;
  if (auto valid = application->validate(); !valid) return tl::unexpected(std::move(valid.error()));
  if (log_enabled()) {
    emit_event(LogLevel::Info, "application package read",
               {{"tiles", std::uint64_t{application->tiles.size()}},
                {"compiler", std::string_view(application->compiler_version)}});
  }
  return application;
}

}  // namespace

// A whole message list converted in place into a new record list.
template <class List, class Element, class Record>
Result<std::vector<Record>> read_all(List list, DecodeBudget& budget,
                                     Result<void> (&convert)(Element, DecodeBudget&, Record&)) {
  std::vector<Record> records;
  if (auto read = read_list_into(list, budget, records, convert); !read) {
    return tl::unexpected(std::move(read.error()));
  }
  return records;
}

Result<std::vector<TileImage>> read_tiles(ListReader<app::TileImage> list, DecodeBudget& budget) {
  return read_all(list, budget, read_tile);
}

Result<std::vector<Binding>> read_bindings(ListReader<app::Binding> list, DecodeBudget& budget) {
  return read_all(list, budget, read_binding);
}

std::vector<HostSlice> read_host_slices(ListReader<app::HostSlice> list, DecodeBudget& budget) {
  budget.charge(list.size(), sizeof(HostSlice));
  std::vector<HostSlice> slices;
  slices.reserve(list.size());
  for (auto slice : list) {
    slices.push_back(
        HostSlice{slice.getPage(), slice.getPageOffset(), slice.getFileOffset(), slice.getSize()});
  }
  return slices;
}

Result<HostExchange> read_host_exchange(app::HostExchange::Reader reader, DecodeBudget& budget) {
  HostExchange exchange;
  exchange.startup_mark = reader.getStartupMark();
  exchange.command_page = reader.getCommandPage();
  exchange.command_offset = reader.getCommandOffset();
  auto pages = read_list<app::HostPage>(reader.getPages(), budget, read_host_page);
  if (!pages) return tl::unexpected(std::move(pages.error()));
  exchange.pages = std::move(*pages);
  exchange.attach_order = read_u32_list(reader.getAttachOrder(), budget);
  if (auto calls = read_list_into(reader.getCalls(), budget, exchange.calls, read_host_call);
      !calls) {
    return tl::unexpected(std::move(calls.error()));
  }
  return exchange;
}

Result<std::vector<TileProfilePlan>> read_profile_tiles(ListReader<app::TileProfilePlan> list,
                                                        DecodeBudget& budget) {
  return read_all(list, budget, read_profile_plan);
}

Result<Application> Application::read(std::span<const std::uint8_t> source) {
  emit_event(LogLevel::Info, "reading application package");
  return guarded([&] { return finish(FramedMessage::from_bytes(source)); });
}

Result<Application> Application::read(std::istream& source) {
  emit_event(LogLevel::Info, "reading application package");
  return guarded([&] { return finish(FramedMessage::from_stream(source)); });
}

}  // namespace dova::package
