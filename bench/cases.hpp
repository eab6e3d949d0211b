#pragma once

// The benchmark cases, their shared fixtures and the checks that relate them.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "fixtures.hpp"
#include "summary.hpp"

namespace dova::bench {

struct SegmentFixture {
  dp::Application app;
  std::vector<std::uint8_t> bytes;  // the written package
  std::uint64_t image_bytes = 0;    // all tiles' images together
  std::string error;                // set when the package could not be written
};

struct StructureFixture {
  dp::Application app;
  std::vector<std::uint8_t> bytes;
  std::vector<std::uint8_t> output;  // runtime output of a profiled run
  std::uint64_t step_bytes = 0;      // one deep copy of every profile step
  std::string error;
};

// Reads through a buffer larger than the last-level cache of a core's cluster (32 MiB here), so
// that an operation starts without the previous iteration's data in cache. A 600 MiB operation
// always starts so; without this, the smaller sizes of the scaling cases would find part of their
// input still cached and seem faster per byte than the memory system allows.
class CacheSweep {
 public:
  static constexpr std::size_t BYTES = std::size_t{96} << 20;
  CacheSweep() : buffer_(BYTES, 1) {}  // written, so that every page is backed by its own memory
  void run() const;

 private:
  std::vector<std::uint8_t> buffer_;
};

// Each fixture is built on first use and then shared by every case that needs it.
class Fixtures {
 public:
  explicit Fixtures(std::uint32_t divisor) : divisor_(divisor) {}

  const CacheSweep& sweep() const { return sweep_; }

  // The segment-heavy package at 1/`fraction` of the run's size.
  const SegmentFixture& segment_heavy(std::uint32_t fraction);
  const StructureFixture& structure_heavy();

 private:
  std::uint32_t divisor_;
  CacheSweep sweep_;
  std::map<std::uint32_t, std::unique_ptr<SegmentFixture>> segment_;
  std::unique_ptr<StructureFixture> structure_;
};

// Registers every case with Google Benchmark. A smoke run does a few iterations of each.
void register_cases(Fixtures& fixtures, bool smoke);

// The ratios the summary reports, with their targets.
std::vector<Check> checks();

}  // namespace dova::bench
