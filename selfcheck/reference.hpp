#pragma once

// The reference data of the self-check, shared with the command-line tool: the sample
// application, its extended form that exercises every part of a package, and a profile report
// whose every sample wrapped the 32-bit counter.

#include "dova/package.hpp"

namespace dova::package::reference {

// One tile 0 with one 8-byte segment at the start of tile memory holding 1, 2, 3, 4. Valid.
Application sample();

// sample() plus a profile plan, a device configuration write, a debug symbol and region, and a
// host exchange with two pages and one batched host call. Valid.
Application extended_sample();

// Clock 1.5 GHz, tile 17, four samples (one of each step kind) whose readings wrap.
ProfileReport profile_report();

}  // namespace dova::package::reference
