#pragma once

// The field list of every record, in declaration order, as one visitor call per field. The JSON
// writer and reader both walk these lists, so the two directions cannot disagree on a name or
// on the order of the keys.

#include <concepts>
#include <type_traits>

#include "dova/package.hpp"

namespace dovapkg {

namespace dp = dova::package;

// R is T or const T: the writer visits const records, the reader mutable ones.
template <class R, class T>
concept RecordOf = std::same_as<std::remove_const_t<R>, T>;

template <class V, RecordOf<dp::Segment> R>
void fields(V& v, R& r) {
  v("address", r.address);
  v("memory_size", r.memory_size);
  v("data", r.data);
  v("flags", r.flags);
}

template <class V, RecordOf<dp::TileImage> R>
void fields(V& v, R& r) {
  v("physical_tile", r.physical_tile);
  v("entry_point", r.entry_point);
  v("command_address", r.command_address);
  v("diagnostic_address", r.diagnostic_address);
  v("segments", r.segments);
}

template <class V, RecordOf<dp::RegionSlice> R>
void fields(V& v, R& r) {
  v("tile", r.tile);
  v("tile_address", r.tile_address);
  v("file_offset", r.file_offset);
  v("size", r.size);
}

template <class V, RecordOf<dp::Binding> R>
void fields(V& v, R& r) {
  v("name", r.name);
  v("dtype", r.dtype);
  v("shape", r.shape);
  v("slices", r.slices);
}

template <class V, RecordOf<dp::HostPage> R>
void fields(V& v, R& r) {
  v("index", r.index);
  v("size", r.size);
}

template <class V, RecordOf<dp::HostSlice> R>
void fields(V& v, R& r) {
  v("page", r.page);
  v("page_offset", r.page_offset);
  v("file_offset", r.file_offset);
  v("size", r.size);
}

template <class V, RecordOf<dp::HostCall> R>
void fields(V& v, R& r) {
  v("name", r.name);
  v("command", r.command);
  v("phases", r.phases);
  v("inputs", r.inputs);
  v("outputs", r.outputs);
  v("invocations", r.invocations);
  v("input_batch_ends", r.input_batch_ends);
  v("output_batch_ends", r.output_batch_ends);
}

template <class V, RecordOf<dp::HostExchange> R>
void fields(V& v, R& r) {
  v("startup_mark", r.startup_mark);
  v("command_page", r.command_page);
  v("command_offset", r.command_offset);
  v("pages", r.pages);
  v("attach_order", r.attach_order);
  v("calls", r.calls);
}

template <class V, RecordOf<dp::EntryPoint> R>
void fields(V& v, R& r) {
  v("name", r.name);
  v("command", r.command);
  v("external_syncs", r.external_syncs);
}

template <class V, RecordOf<dp::DeviceConfigWrite> R>
void fields(V& v, R& r) {
  v("offset", r.offset);
  v("value", r.value);
}

template <class V, RecordOf<dp::DebugSymbol> R>
void fields(V& v, R& r) {
  v("name", r.name);
  v("address", r.address);
}

template <class V, RecordOf<dp::DebugRegion> R>
void fields(V& v, R& r) {
  v("physical_tile", r.physical_tile);
  v("address", r.address);
  v("size", r.size);
  v("name", r.name);
}

template <class V, RecordOf<dp::ProfileMetadata> R>
void fields(V& v, R& r) {
  v("name", r.name);
  v("value", r.value);
}

template <class V, RecordOf<dp::ProfileExchangeActivity> R>
void fields(V& v, R& r) {
  v("kind", r.kind);
  v("start_cycle", r.start_cycle);
  v("end_cycle", r.end_cycle);
}

template <class V, RecordOf<dp::ProfileStep> R>
void fields(V& v, R& r) {
  v("local_index", r.local_index);
  v("phase", r.phase);
  v("epoch", r.epoch);
  v("operation", r.operation);
  v("kind", r.kind);
  v("kernel", r.kernel);
  v("metadata", r.metadata);
  v("exchange_activities", r.exchange_activities);
  v("exchange_event_cycles", r.exchange_event_cycles);
}

template <class V, RecordOf<dp::TileProfilePlan> R>
void fields(V& v, R& r) {
  v("physical_tile", r.physical_tile);
  v("steps", r.steps);
}

template <class V, RecordOf<dp::Application> R>
void fields(V& v, R& r) {
  v("compiler_version", r.compiler_version);
  v("tiles", r.tiles);
  v("inputs", r.inputs);
  v("outputs", r.outputs);
  v("weights", r.weights);
  v("host_exchange", r.host_exchange);
  v("entry_points", r.entry_points);
  v("device_config_writes", r.device_config_writes);
  v("profile_tiles", r.profile_tiles);
  v("debug_symbols", r.debug_symbols);
  v("debug_regions", r.debug_regions);
}

template <class V, RecordOf<dp::CycleSample> R>
void fields(V& v, R& r) {
  v("step", r.step);
  v("start_cycle", r.start_cycle);
  v("end_cycle", r.end_cycle);
}

template <class V, RecordOf<dp::TileProfile> R>
void fields(V& v, R& r) {
  v("physical_tile", r.physical_tile);
  v("samples", r.samples);
}

template <class V, RecordOf<dp::ProfileReport> R>
void fields(V& v, R& r) {
  v("clock_hz", r.clock_hz);
  v("tiles", r.tiles);
}

}  // namespace dovapkg
