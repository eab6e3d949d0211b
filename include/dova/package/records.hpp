#pragma once

// The in-memory form of one compiled application. Records are plain values: they own everything
// they hold, copy deeply, and compare equal field by field in declaration order. Where one part of
// an application refers to another it does so by value: a physical tile id, a host page index or a
// name. Fields marked "carried" are stored, read back and compared, but no operation interprets them.

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "dova/package/error.hpp"
#include "dova/package/profile.hpp"
#include "dova/package/step.hpp"

namespace dova::package {

// One loadable piece of tile memory.
struct Segment {
  std::uint32_t address = 0;      // tile memory address at which the segment begins
  std::uint32_t memory_size = 0;  // bytes occupied in tile memory from address
  std::vector<std::uint8_t> data;  // initial contents; the rest up to memory_size starts as zero
  std::uint32_t flags = 0;         // attribute bits, carried

  bool operator==(const Segment&) const = default;
};

// One tile's program image.
struct TileImage {
  std::uint32_t physical_tile = 0;
  std::uint32_t entry_point = 0;         // carried
  std::uint32_t command_address = 0;     // carried
  std::uint32_t diagnostic_address = 0;  // carried
  std::vector<Segment> segments;

  bool operator==(const TileImage&) const = default;
};

// One piece of a binding's file image, placed on one tile.
struct RegionSlice {
  std::uint32_t tile = 0;
  std::uint32_t tile_address = 0;
  std::uint64_t file_offset = 0;
  std::uint64_t size = 0;

  bool operator==(const RegionSlice&) const = default;
};

// One named tensor and its placement in tile memory. Its file image is binding_size() bytes long.
struct Binding {
  std::string name;  // non-empty, unique across inputs, outputs and weights
  std::string dtype;                 // carried
  std::vector<std::uint32_t> shape;  // carried
  std::vector<RegionSlice> slices;

  bool operator==(const Binding&) const = default;
};

struct HostPage {
  std::uint32_t index = 0;  // unique among the pages
  std::uint64_t size = 0;

  bool operator==(const HostPage&) const = default;
};

// One piece of a host call's data inside a host page.
struct HostSlice {
  std::uint32_t page = 0;
  std::uint64_t page_offset = 0;
  std::uint64_t file_offset = 0;  // carried
  std::uint64_t size = 0;

  bool operator==(const HostSlice&) const = default;
};

// One call that moves data through the host pages.
struct HostCall {
  std::string name;  // used in messages; may be empty or repeat
  std::uint32_t command = 0;  // carried
  std::uint32_t phases = 0;   // carried
  std::vector<HostSlice> inputs;
  std::vector<HostSlice> outputs;
  std::uint32_t invocations = 1;  // at least 1
  // Batch k ends, exclusive, at slice index entry k; boundaries rise strictly and end at the
  // slice count (see validate_host_batch_ends).
  std::vector<std::uint32_t> input_batch_ends;
  std::vector<std::uint32_t> output_batch_ends;

  bool operator==(const HostCall&) const = default;
};

// The host side of data exchange.
struct HostExchange {
  std::uint32_t startup_mark = 0;  // carried
  std::uint32_t command_page = 0;  // page holding the 4-byte command word
  std::uint64_t command_offset = 0;
  std::vector<HostPage> pages;
  std::vector<std::uint32_t> attach_order;  // page indices; may repeat, need not name every page
  std::vector<HostCall> calls;

  bool operator==(const HostExchange&) const = default;
};

struct EntryPoint {
  std::string name;
  std::uint32_t command = 0;         // carried
  std::uint32_t external_syncs = 0;  // carried

  bool operator==(const EntryPoint&) const = default;
};

struct DeviceConfigWrite {
  std::uint32_t offset = 0;  // a multiple of 4, unique among the writes
  std::uint32_t value = 0;

  bool operator==(const DeviceConfigWrite&) const = default;
};

struct DebugSymbol {
  std::string name;  // non-empty
  std::uint32_t address = 0;

  bool operator==(const DebugSymbol&) const = default;
};

// Debug regions are not bounded by the tile memory window.
inline constexpr std::uint32_t NO_SINGLE_TILE = 0xFFFFFFFF;

struct DebugRegion {
  std::uint32_t physical_tile = 0;  // NO_SINGLE_TILE: bound to no single tile
  std::uint32_t address = 0;
  std::uint32_t size = 0;  // not 0
  std::string name;        // non-empty

  bool operator==(const DebugRegion&) const = default;
};

// The profiled steps of one tile. A plan of N steps records N + 1 cycle counter readings.
struct TileProfilePlan {
  std::uint32_t physical_tile = 0;
  std::vector<ProfileStep> steps;

  bool operator==(const TileProfilePlan&) const = default;
};

// One compiled application: the root record of a package.
struct Application {
  std::string compiler_version = "0.1.0";  // carried; reported when a package is read
  std::vector<TileImage> tiles;            // at least one; distinct physical tile ids
  std::vector<Binding> inputs;
  std::vector<Binding> outputs;  // a run returns their file images end to end, in list order
  std::vector<Binding> weights;
  HostExchange host_exchange;
  std::vector<EntryPoint> entry_points;
  std::vector<DeviceConfigWrite> device_config_writes;
  std::vector<TileProfilePlan> profile_tiles;  // at most one plan per tile
  std::vector<DebugSymbol> debug_symbols;
  std::vector<DebugRegion> debug_regions;

  // Checks the package's consistency rules; fails with the Invalid message of the first rule
  // that breaks.
  Result<void> validate() const;

  // Validates, then appends one framed package message to the sink. An invalid application
  // writes nothing.
  Result<void> write(std::vector<std::uint8_t>& sink) const;
  Result<void> write(std::ostream& sink) const;

  // Reads one framed package, checks its header and validates it. Bytes after the message are
  // ignored; the stream form leaves the stream just past the message.
  static Result<Application> read(std::span<const std::uint8_t> source);
  static Result<Application> read(std::istream& source);

  // The memory image of one tile: from its lowest segment address to the end of its highest
  // segment, segment data in place and zero elsewhere.
  Result<std::vector<std::uint8_t>> tile_image(std::uint32_t physical_tile) const;

  // The cycle profile report of a profiled run, from the runtime output buffer (the output
  // bindings end to end) and the clock rate. Does not validate.
  Result<ProfileReport> profile_report(std::span<const std::uint8_t> output,
                                       std::uint64_t clock_hz) const;

  bool operator==(const Application&) const = default;
};

// Length of a binding's file image: the largest file_offset + size of its slices, saturating at
// 2^64 - 1; 0 without slices.
std::uint64_t binding_size(const Binding& binding);

// Checks the batch boundaries of one direction ("input" or "output") of a host call: they rise
// strictly from at least 1 and the last equals slice_count. Empty only when there are no slices.
Result<void> validate_host_batch_ends(const HostCall& call, std::string_view direction,
                                      std::span<const std::uint32_t> ends,
                                      std::size_t slice_count);

// Debug text forms: `Segment { address: 311296, memory_size: 8, data: [1, 2, 3, 4], flags: 5 }`.
std::ostream& operator<<(std::ostream& out, const Segment& value);
std::ostream& operator<<(std::ostream& out, const TileImage& value);
std::ostream& operator<<(std::ostream& out, const RegionSlice& value);
std::ostream& operator<<(std::ostream& out, const Binding& value);
std::ostream& operator<<(std::ostream& out, const HostPage& value);
std::ostream& operator<<(std::ostream& out, const HostSlice& value);
std::ostream& operator<<(std::ostream& out, const HostCall& value);
std::ostream& operator<<(std::ostream& out, const HostExchange& value);
std::ostream& operator<<(std::ostream& out, const EntryPoint& value);
std::ostream& operator<<(std::ostream& out, const DeviceConfigWrite& value);
std::ostream& operator<<(std::ostream& out, const DebugSymbol& value);
std::ostream& operator<<(std::ostream& out, const DebugRegion& value);
std::ostream& operator<<(std::ostream& out, const TileProfilePlan& value);
std::ostream& operator<<(std::ostream& out, const Application& value);

}  // namespace dova::package
