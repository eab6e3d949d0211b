// The profiling subcommands: simulate, profile and report.

#include <fmt/format.h>

#include "clock.hpp"
#include "commands.hpp"
#include "files.hpp"
#include "json_form.hpp"
#include "package_files.hpp"
#include "report_views.hpp"
#include "simulate.hpp"

namespace dovapkg {

namespace dp = dova::package;

ToolResult<int> run_simulate(const std::string& file, const std::string& out, std::uint64_t seed) {
  auto app = load_application(file);
  if (!app) return tl::unexpected(app.error());
  auto buffer = simulate_output(*app, seed);
  if (!buffer) return tl::unexpected(buffer.error());
  if (auto written = write_file(out, *buffer); !written) return tl::unexpected(written.error());
  std::size_t readings = 0;
  for (const dp::TileProfilePlan& plan : app->profile_tiles) readings += plan.steps.size() + 1;
  fmt::print("wrote {} ({} bytes, {} readings of {} profiled tiles, seed {})\n", out,
             buffer->size(), readings, app->profile_tiles.size(), seed);
  return 0;
}

ToolResult<int> run_profile(const std::string& file, const std::string& output,
                            std::uint64_t clock_hz, const std::string& out) {
  auto app = load_application(file);
  if (!app) return tl::unexpected(app.error());
  auto buffer = read_file(output);
  if (!buffer) return tl::unexpected(buffer.error());
  auto report = app->profile_report(*buffer, clock_hz);
  if (!report) return tl::unexpected(tool_error(report.error()));
  if (auto saved = save_report(*report, out); !saved) return tl::unexpected(saved.error());
  std::size_t samples = 0;
  for (const dp::TileProfile& tile : report->tiles) samples += tile.samples.size();
  fmt::print("wrote {} ({} tiles, {} steps, clock {})\n", out, report->tiles.size(), samples,
             format_clock(clock_hz));
  return 0;
}

ToolResult<int> run_report(const ReportOptions& options) {
  auto report = load_report(options.file);
  if (!report) return tl::unexpected(report.error());
  // Write the files first: a failure then leaves standard output empty.
  if (options.trace) {
    if (auto written = write_text_file(*options.trace, report_trace(*report)); !written) {
      return tl::unexpected(written.error());
    }
  }
  if (options.svg) {
    if (auto written = write_text_file(*options.svg, report_svg(*report)); !written) {
      return tl::unexpected(written.error());
    }
  }
  if (options.json) {
    fmt::print("{}", dump_json(to_json(*report)));
  } else if (options.csv) {
    fmt::print("{}", report_csv(*report));
  } else if (options.trace || options.svg) {
    if (options.trace) fmt::print("wrote trace {}\n", *options.trace);
    if (options.svg) fmt::print("wrote timeline {}\n", *options.svg);
  } else {
    fmt::print("{}", report_summary(*report, options.all));
  }
  return 0;
}

}  // namespace dovapkg
