#pragma once

// The views of a cycle profile report that `dovapkg report` offers.

#include <string>

#include "dova/package/profile.hpp"

namespace dovapkg {

// A table per tile (steps, cycles, share of each step kind, wall time) and the longest steps.
// Long tables are condensed unless `all` is set.
std::string report_summary(const dova::package::ProfileReport& report, bool all);

// One row per sample, with a heading row.
std::string report_csv(const dova::package::ProfileReport& report);

// Trace Event Format JSON: one track per tile, one complete event per sample.
std::string report_trace(const dova::package::ProfileReport& report);

// A timeline picture: one row per tile (or per group of tiles when there are many), each step a
// rectangle coloured by kind, with a legend and a time axis.
std::string report_svg(const dova::package::ProfileReport& report);

}  // namespace dovapkg
