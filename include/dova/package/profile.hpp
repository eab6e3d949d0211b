#pragma once

// The cycle profile report: for every profile plan of an application, each planned step with the
// raw cycle counter readings at its start and end. Application::profile_report computes one from a
// profiled run's output buffer; write and read store it as a report file.

#include <cstdint>
#include <iosfwd>
#include <span>
#include <vector>

#include "dova/package/error.hpp"
#include "dova/package/step.hpp"

namespace dova::package {

// One step of one tile. The readings are raw 32-bit counter values: end_cycle is lower than
// start_cycle when the counter wrapped during the step.
struct CycleSample {
  ProfileStep step;
  std::uint32_t start_cycle = 0;
  std::uint32_t end_cycle = 0;

  bool operator==(const CycleSample&) const = default;
};

// The samples of one profiled tile, in step order.
struct TileProfile {
  std::uint32_t physical_tile = 0;
  std::vector<CycleSample> samples;

  bool operator==(const TileProfile&) const = default;
};

struct ProfileReport {
  std::uint64_t clock_hz = 0;      // clock rate of the device, in hertz; 0 is allowed
  std::vector<TileProfile> tiles;  // one entry per profile plan, in plan order

  // Appends one framed report message to the sink.
  Result<void> write(std::vector<std::uint8_t>& sink) const;
  Result<void> write(std::ostream& sink) const;
  // Reads one framed report message. Bytes after the message are ignored; the stream form leaves
  // the stream just past the message.
  static Result<ProfileReport> read(std::span<const std::uint8_t> source);
  static Result<ProfileReport> read(std::istream& source);

  bool operator==(const ProfileReport&) const = default;
};

std::ostream& operator<<(std::ostream& out, const CycleSample& value);
std::ostream& operator<<(std::ostream& out, const TileProfile& value);
std::ostream& operator<<(std::ostream& out, const ProfileReport& value);

}  // namespace dova::package
