#pragma once

// Shared by the encoding tests: a valid application that uses every field and list, capture of
// the library's log events, and helpers for messages built by hand through the generated builders.

#include <capnp/message.h>
#include <capnp/serialize.h>
#include <fmt/format.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <streambuf>
#include <string>
#include <variant>
#include <vector>

#include "application.capnp.h"
#include "dova/package.hpp"

namespace dova::package::fixtures {

inline std::vector<std::uint8_t> bytes_of(std::string_view text) {
  return {text.begin(), text.end()};
}

// What writing an Application or a ProfileReport appends to an empty byte vector.
template <class Record>
std::vector<std::uint8_t> written(const Record& record) {
  std::vector<std::uint8_t> bytes;
  const auto result = record.write(bytes);
  EXPECT_TRUE(result.has_value()) << result.error();
  return bytes;
}

// A valid application in which every list holds several elements and every number is non-trivial:
// non-ASCII texts, 64-bit sizes above 2^32, a segment filling the whole window, a zero-sized
// segment, invocations of 1 and 7, every step and activity kind.
inline Application full_application() {
  Application app;
  app.compiler_version = "dovac 3.1.4 (\xC3\x9F)";
  app.tiles = {
      TileImage{
          .physical_tile = 0,
          .entry_point = 0x4C010,
          .command_address = 0x4C100,
          .diagnostic_address = 0x4C200,
          .segments = {Segment{.address = 0x4C000,
                               .memory_size = 0x40,
                               .data = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16},
                               .flags = 5},
                       Segment{.address = 0x4C040,
                               .memory_size = 0x10,
                               .data = {0xA0, 0, 0xFF},
                               .flags = 0},
                       Segment{.address = 0x50000, .memory_size = 0, .data = {}, .flags = 9},
                       Segment{.address = 0xE7FF0,
                               .memory_size = 0x10,
                               .data = std::vector<std::uint8_t>(16, 0xEE),
                               .flags = 0xFFFFFFFF}},
      },
      TileImage{
          .physical_tile = 7,
          .entry_point = 1,
          .command_address = 2,
          .diagnostic_address = 3,
          .segments = {Segment{.address = 0x4C000,
                               .memory_size = TILE_MEMORY_SIZE,
                               .data = {0x11, 0x22, 0x33},
                               .flags = 1}},
      },
      TileImage{.physical_tile = 0x12345678,
                .entry_point = 0xFFFFFFFF,
                .command_address = 0,
                .diagnostic_address = 0xDEADBEEF,
                .segments = {}},
  };
  app.inputs = {
      Binding{
          .name = "input.image",
          .dtype = "f32",
          .shape = {1, 3, 224, 224},
          .slices = {RegionSlice{
                         .tile = 0, .tile_address = 0x60000, .file_offset = 0, .size = 0x100},
                     RegionSlice{
                         .tile = 7, .tile_address = 0x4C000, .file_offset = 0x100, .size = 0x80}}},
      Binding{.name = "input.mask", .dtype = "u8", .shape = {}, .slices = {}},
  };
  app.outputs = {
      Binding{.name = "output.logits",
              .dtype = "f16",
              .shape = {1000},
              .slices = {RegionSlice{
                  .tile = 0, .tile_address = 0x70000, .file_offset = 0, .size = 2000}}},
      Binding{.name = "profile.cycles",
              .dtype = "u32",
              .shape = {3},
              .slices = {RegionSlice{
                  .tile = 0, .tile_address = 0x80000, .file_offset = 0, .size = 12}}},
  };
  app.weights = {
      Binding{.name = "weights.conv1",
              .dtype = "bf16",
              .shape = {64, 3, 7, 7},
              .slices = {RegionSlice{
                             .tile = 7, .tile_address = 0x4D000, .file_offset = 0, .size = 0x1000},
                         RegionSlice{.tile = 0,
                                     .tile_address = 0x90000,
                                     .file_offset = 0xFFFFFFFF00000000,
                                     .size = 0x1000},
                         RegionSlice{.tile = 0x12345678,
                                     .tile_address = 0xE7000,
                                     .file_offset = 0x2000,
                                     .size = 0x1000}}},
  };
  app.host_exchange = HostExchange{
      .startup_mark = 0xA5A5,
      .command_page = 2,
      .command_offset = 0x20,
      .pages = {HostPage{.index = 2, .size = 0x100}, HostPage{.index = 0, .size = 0x10000},
                HostPage{.index = 9, .size = 0x100000000}},
      .attach_order = {2, 0, 2, 9},
      .calls =
          {HostCall{
               .name = "load",
               .command = 11,
               .phases = 3,
               .inputs = {HostSlice{.page = 0, .page_offset = 0, .file_offset = 0, .size = 0x100},
                          HostSlice{.page = 9,
                                    .page_offset = 0xFFFF0000,
                                    .file_offset = 0x100,
                                    .size = 0x10000},
                          HostSlice{.page = 0,
                                    .page_offset = 0x100,
                                    .file_offset = 0x10100,
                                    .size = 0x40}},
               .outputs = {HostSlice{
                   .page = 2, .page_offset = 0x40, .file_offset = 0, .size = 0x20}},
               .invocations = 1,
               .input_batch_ends = {1, 3},
               .output_batch_ends = {1},
           },
           HostCall{
               .name = "store",
               .command = 12,
               .phases = 1,
               .inputs = {},
               .outputs = {HostSlice{.page = 0, .page_offset = 0x200, .file_offset = 0, .size = 8},
                           HostSlice{.page = 0, .page_offset = 0x208, .file_offset = 8, .size = 8}},
               .invocations = 7,
               .input_batch_ends = {},
               .output_batch_ends = {2},
           }},
  };
  app.entry_points = {
      EntryPoint{.name = "main", .command = 1, .external_syncs = 0},
      EntryPoint{.name = "r\xC3\xA9sum\xC3\xA9", .command = 0xFFFFFFFF, .external_syncs = 3}};
  app.device_config_writes = {DeviceConfigWrite{.offset = 0, .value = 1},
                              DeviceConfigWrite{.offset = 0x4018, .value = 0xC000000D},
                              DeviceConfigWrite{.offset = 0xFFFFFFFC, .value = 0xFFFFFFFF}};
  const auto step = [](std::uint32_t index, ProfileStepKind kind) {
    return ProfileStep{.local_index = index,
                       .phase = 10 + index,
                       .epoch = 20 + index,
                       .operation = fmt::format("op.{}", index),
                       .kind = kind,
                       .kernel = fmt::format("kernel_{}", index),
                       .metadata = {},
                       .exchange_activities = {},
                       .exchange_event_cycles = 30 + index};
  };
  TileProfilePlan plan7{
      .physical_tile = 7,
      .steps = {step(0, ProfileStepKind::Exchange), step(1, ProfileStepKind::Compute),
                step(2, ProfileStepKind::Synchronization), step(3, ProfileStepKind::Idle)}};
  plan7.steps[0].exchange_activities = {
      ProfileExchangeActivity{.kind = ExchangeActivityKind::Send, .start_cycle = 1, .end_cycle = 5},
      ProfileExchangeActivity{
          .kind = ExchangeActivityKind::Receive, .start_cycle = 5, .end_cycle = 9},
      ProfileExchangeActivity{
          .kind = ExchangeActivityKind::PartnerBusy, .start_cycle = 0xFFFFFFF0, .end_cycle = 2}};
  plan7.steps[1].metadata = {ProfileMetadata{.name = "reason", .value = "OperatorKernel"},
                             ProfileMetadata{.name = "\xE2\x82\xAC", .value = ""}};
  plan7.steps[1].exchange_activities = {ProfileExchangeActivity{
      .kind = ExchangeActivityKind::Receive, .start_cycle = 7, .end_cycle = 8}};
  app.profile_tiles = {
      plan7, TileProfilePlan{.physical_tile = 0, .steps = {step(0, ProfileStepKind::Idle)}},
      TileProfilePlan{.physical_tile = 0x12345678, .steps = {}}};
  app.debug_symbols = {DebugSymbol{.name = "kernel_main", .address = 0x4C010},
                       DebugSymbol{.name = "\xCE\xBB", .address = 0}};
  app.debug_regions = {
      DebugRegion{.physical_tile = 0, .address = 0x4C000, .size = 0x40, .name = "text"},
      DebugRegion{
          .physical_tile = NO_SINGLE_TILE, .address = 0xFFFFFF00, .size = 0xFF, .name = "global"}};
  return app;
}

// The bytes of a message built through the generated builders, framed as a package is.
inline std::vector<std::uint8_t> message_bytes(capnp::MessageBuilder& message) {
  const auto words = capnp::messageToFlatArray(message);
  const auto bytes = words.asBytes();
  return {bytes.begin(), bytes.end()};
}

// Sets the four header fields a reader requires.
inline void set_valid_header(application_capnp::Application::Builder root) {
  root.setSchemaVersion(PACKAGE_SCHEMA_VERSION);
  root.setTarget("dova21");
  root.setTileMemoryBase(TILE_MEMORY_BASE);
  root.setTileMemorySize(TILE_MEMORY_SIZE);
}

// The library's events as one line each: "INFO dova_package: message {name=value, ...}".
class EventRecorder {
 public:
  EventRecorder() {
    previous_ = set_log_subscriber([this](const LogEvent& event) { record(event); });
  }
  ~EventRecorder() { set_log_subscriber(std::move(previous_)); }
  EventRecorder(const EventRecorder&) = delete;
  EventRecorder& operator=(const EventRecorder&) = delete;

  std::vector<std::string> events() const {
    std::lock_guard lock(mutex_);
    return events_;
  }

 private:
  void record(const LogEvent& event) {
    std::string line =
        fmt::format("{} {}: {}", to_string(event.level), event.target, event.message);
    if (!event.fields.empty()) {
      line += " {";
      for (std::size_t i = 0; i < event.fields.size(); ++i) {
        const LogField& field = event.fields[i];
        if (i > 0) line += ", ";
        if (const auto* number = std::get_if<std::uint64_t>(&field.value)) {
          line += fmt::format("{}={}", field.name, *number);
        } else {
          line += fmt::format("{}=\"{}\"", field.name, std::get<std::string_view>(field.value));
        }
      }
      line += "}";
    }
    std::lock_guard lock(mutex_);
    events_.push_back(std::move(line));
  }

  LogSubscriber previous_;
  mutable std::mutex mutex_;
  std::vector<std::string> events_;
};

// Accepts `limit` bytes, then refuses every further byte.
class LimitedBuf final : public std::streambuf {
 public:
  explicit LimitedBuf(std::size_t limit) : limit_(limit) {}
  const std::string& accepted() const { return accepted_; }

 protected:
  std::streamsize xsputn(const char* data, std::streamsize size) override {
    const auto room = static_cast<std::streamsize>(limit_ - accepted_.size());
    const std::streamsize taken = std::min(size, room);
    accepted_.append(data, static_cast<std::size_t>(taken));
    return taken;
  }
  int_type overflow(int_type ch) override {
    if (traits_type::eq_int_type(ch, traits_type::eof())) return traits_type::not_eof(ch);
    if (accepted_.size() >= limit_) return traits_type::eof();
    accepted_.push_back(traits_type::to_char_type(ch));
    return ch;
  }

 private:
  std::size_t limit_;
  std::string accepted_;
};

// Output and exit status of a shell command.
struct CommandResult {
  int status = -1;
  std::string output;
};

inline CommandResult run_command(const std::string& command) {
  CommandResult result;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[4096];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, got);
  result.status = ::pclose(pipe);
  return result;
}

inline bool capnp_tool_available() {
  return run_command("capnp --version 2>/dev/null").status == 0;
}

inline std::string schema_path(std::string_view file) {
  return fmt::format("{}/schema/{}", DOVA_SOURCE_DIR, file);
}

}  // namespace dova::package::fixtures
