#include "text_form.hpp"

#include <fmt/format.h>

#include "dova/package/profile.hpp"
#include "dova/package/records.hpp"
#include "dova/package/step.hpp"

namespace dova::package {

std::string quoted(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  out.push_back('"');
  for (char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
          out += fmt::format("\\u{{{:x}}}", static_cast<unsigned>(static_cast<unsigned char>(c)));
        } else {
          out.push_back(c);
        }
    }
  }
  out.push_back('"');
  return out;
}

std::string_view to_string(ProfileStepKind kind) {
  switch (kind) {
    case ProfileStepKind::Exchange:
      return "Exchange";
    case ProfileStepKind::Compute:
      return "Compute";
    case ProfileStepKind::Synchronization:
      return "Synchronization";
    case ProfileStepKind::Idle:
      return "Idle";
  }
  return "Unknown";
}

std::string_view to_string(ExchangeActivityKind kind) {
  switch (kind) {
    case ExchangeActivityKind::Send:
      return "Send";
    case ExchangeActivityKind::Receive:
      return "Receive";
    case ExchangeActivityKind::PartnerBusy:
      return "PartnerBusy";
  }
  return "Unknown";
}

std::ostream& operator<<(std::ostream& out, ProfileStepKind kind) { return out << to_string(kind); }

std::ostream& operator<<(std::ostream& out, ExchangeActivityKind kind) {
  return out << to_string(kind);
}

std::ostream& operator<<(std::ostream& out, const ProfileMetadata& v) {
  RecordForm(out, "ProfileMetadata").field("name", v.name).field("value", v.value);
  return out;
}

std::ostream& operator<<(std::ostream& out, const ProfileExchangeActivity& v) {
  RecordForm(out, "ProfileExchangeActivity")
      .field("kind", v.kind)
      .field("start_cycle", v.start_cycle)
      .field("end_cycle", v.end_cycle);
  return out;
}

std::ostream& operator<<(std::ostream& out, const ProfileStep& v) {
  RecordForm(out, "ProfileStep")
      .field("local_index", v.local_index)
      .field("phase", v.phase)
      .field("epoch", v.epoch)
      .field("operation", v.operation)
      .field("kind", v.kind)
      .field("kernel", v.kernel)
      .field("metadata", v.metadata)
      .field("exchange_activities", v.exchange_activities)
      .field("exchange_event_cycles", v.exchange_event_cycles);
  return out;
}

std::ostream& operator<<(std::ostream& out, const CycleSample& v) {
  RecordForm(out, "CycleSample")
      .field("step", v.step)
      .field("start_cycle", v.start_cycle)
      .field("end_cycle", v.end_cycle);
  return out;
}

std::ostream& operator<<(std::ostream& out, const TileProfile& v) {
  RecordForm(out, "TileProfile")
      .field("physical_tile", v.physical_tile)
      .field("samples", v.samples);
  return out;
}

std::ostream& operator<<(std::ostream& out, const ProfileReport& v) {
  RecordForm(out, "ProfileReport").field("clock_hz", v.clock_hz).field("tiles", v.tiles);
  return out;
}

std::ostream& operator<<(std::ostream& out, const Segment& v) {
  RecordForm(out, "Segment")
      .field("address", v.address)
      .field("memory_size", v.memory_size)
      .field("data", v.data)
      .field("flags", v.flags);
  return out;
}

std::ostream& operator<<(std::ostream& out, const TileImage& v) {
  RecordForm(out, "TileImage")
      .field("physical_tile", v.physical_tile)
      .field("entry_point", v.entry_point)
      .field("command_address", v.command_address)
      .field("diagnostic_address", v.diagnostic_address)
      .field("segments", v.segments);
  return out;
}

std::ostream& operator<<(std::ostream& out, const RegionSlice& v) {
  RecordForm(out, "RegionSlice")
      .field("tile", v.tile)
      .field("tile_address", v.tile_address)
      .field("file_offset", v.file_offset)
      .field("size", v.size);
  return out;
}

std::ostream& operator<<(std::ostream& out, const Binding& v) {
  RecordForm(out, "Binding")
      .field("name", v.name)
      .field("dtype", v.dtype)
      .field("shape", v.shape)
      .field("slices", v.slices);
  return out;
}

std::ostream& operator<<(std::ostream& out, const HostPage& v) {
  RecordForm(out, "HostPage").field("index", v.index).field("size", v.size);
  return out;
}

std::ostream& operator<<(std::ostream& out, const HostSlice& v) {
  RecordForm(out, "HostSlice")
      .field("page", v.page)
      .field("page_offset", v.page_offset)
      .field("file_offset", v.file_offset)
      .field("size", v.size);
  return out;
}

std::ostream& operator<<(std::ostream& out, const HostCall& v) {
  RecordForm(out, "HostCall")
      .field("name", v.name)
      .field("command", v.command)
      .field("phases", v.phases)
      .field("inputs", v.inputs)
      .field("outputs", v.outputs)
      .field("invocations", v.invocations)
      .field("input_batch_ends", v.input_batch_ends)
      .field("output_batch_ends", v.output_batch_ends);
  return out;
}

std::ostream& operator<<(std::ostream& out, const HostExchange& v) {
  RecordForm(out, "HostExchange")
      .field("startup_mark", v.startup_mark)
      .field("command_page", v.command_page)
      .field("command_offset", v.command_offset)
      .field("pages", v.pages)
      .field("attach_order", v.attach_order)
      .field("calls", v.calls);
  return out;
}

std::ostream& operator<<(std::ostream& out, const EntryPoint& v) {
  RecordForm(out, "EntryPoint")
      .field("name", v.name)
      .field("command", v.command)
      .field("external_syncs", v.external_syncs);
  return out;
}

std::ostream& operator<<(std::ostream& out, const DeviceConfigWrite& v) {
  RecordForm(out, "DeviceConfigWrite").field("offset", v.offset).field("value", v.value);
  return out;
}

std::ostream& operator<<(std::ostream& out, const DebugSymbol& v) {
  RecordForm(out, "DebugSymbol").field("name", v.name).field("address", v.address);
  return out;
}

std::ostream& operator<<(std::ostream& out, const DebugRegion& v) {
  RecordForm(out, "DebugRegion")
      .field("physical_tile", v.physical_tile)
      .field("address", v.address)
      .field("size", v.size)
      .field("name", v.name);
  return out;
}

std::ostream& operator<<(std::ostream& out, const TileProfilePlan& v) {
  RecordForm(out, "TileProfilePlan")
      .field("physical_tile", v.physical_tile)
      .field("steps", v.steps);
  return out;
}

std::ostream& operator<<(std::ostream& out, const Application& v) {
  RecordForm(out, "Application")
      .field("compiler_version", v.compiler_version)
      .field("tiles", v.tiles)
      .field("inputs", v.inputs)
      .field("outputs", v.outputs)
      .field("weights", v.weights)
      .field("host_exchange", v.host_exchange)
      .field("entry_points", v.entry_points)
      .field("device_config_writes", v.device_config_writes)
      .field("profile_tiles", v.profile_tiles)
      .field("debug_symbols", v.debug_symbols)
      .field("debug_regions", v.debug_regions);
  return out;
}

}  // namespace dova::package
