#pragma once

// The extended reference application as it stands after a profiled run: with the cycle profile
// binding of its one planned step, and a runtime output buffer holding the two readings that bound
// that step (the counter wraps in between). Shared by the seed corpus and the tests.

#include <cstdint>
#include <string>
#include <vector>

#include "dova/package.hpp"
#include "reference.hpp"

namespace dova::package::fuzz {

struct ProfiledSample {
  Application application;
  std::vector<std::uint8_t> output;
};

inline ProfiledSample profiled_sample() {
  Application application = reference::extended_sample();
  application.outputs.push_back(Binding{
      .name = std::string(PROFILE_BINDING_NAME),
      .dtype = "u32",
      .shape = {2},
      .slices = {RegionSlice{.tile = 0, .tile_address = 0x4C400, .file_offset = 0, .size = 8}},
  });
  return {std::move(application), {0xF0, 0xFF, 0xFF, 0xFF, 0x10, 0x00, 0x00, 0x00}};
}

}  // namespace dova::package::fuzz
