#pragma once

// A plausible runtime output buffer for a package, as a profiled run would return it: every
// output binding's file image end to end in list order, zero except for the cycle counter
// readings of the planned tiles in the binding "profile.cycles".

#include <cstdint>
#include <vector>

#include "dova/package/records.hpp"
#include "tool_error.hpp"

namespace dovapkg {

// The largest buffer simulate builds; a package whose outputs add up to more is refused rather
// than exhaust memory.
inline constexpr std::uint64_t MAX_SIMULATED_OUTPUT = std::uint64_t{1} << 30;

// Each planned tile's readings start at a random 32-bit value and rise by a random step length
// that suits the step's kind, wrapping past 2^32. The same seed gives the same buffer.
ToolResult<std::vector<std::uint8_t>> simulate_output(const dova::package::Application& app,
                                                      std::uint64_t seed);

}  // namespace dovapkg
