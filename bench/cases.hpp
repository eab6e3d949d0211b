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

// Each fixture is built on first use and then shared by every case that needs it.
class Fixtures {
 public:
  explicit Fixtures(std::uint32_t divisor) : divisor_(divisor) {}

  // The segment-heavy package at 1/`fraction` of the run's size.
  const SegmentFixture& segment_heavy(std::uint32_t fraction);
  const StructureFixture& structure_heavy();

 private:
  std::uint32_t divisor_;
  std::map<std::uint32_t, std::unique_ptr<SegmentFixture>> segment_;
  std::unique_ptr<StructureFixture> structure_;
};

// Registers every case with Google Benchmark. A smoke run does a few iterations of each.
void register_cases(Fixtures& fixtures, bool smoke);

// The ratios the summary reports, with their targets.
std::vector<Check> checks();

}  // namespace dova::bench
