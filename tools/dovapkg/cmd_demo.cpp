// `dovapkg demo`: the whole workflow on a built-in application, explained step by step, for
// someone who has never seen a package.

#include <fmt/format.h>

#include <filesystem>

#include "clock.hpp"
#include "commands.hpp"
#include "demo_app.hpp"
#include "files.hpp"
#include "package_summary.hpp"
#include "json_form.hpp"
#include "package_files.hpp"
#include "report_views.hpp"
#include "simulate.hpp"

namespace dovapkg {
namespace {

namespace dp = dova::package;

constexpr std::uint64_t DEMO_SEED = 1;
constexpr std::uint64_t DEMO_CLOCK_HZ = 1'500'000'000;

// Prints one step: what was made and where, then the command that does it on one's own files.
void step(int number, std::string_view title, std::string_view result, std::string_view command) {
  fmt::print("{}. {}\n   {}\n   yours: {}\n\n", number, title, result, command);
}

}  // namespace

ToolResult<int> run_demo(const std::string& directory) {
  if (std::error_code code; !std::filesystem::create_directories(directory, code) && code) {
    return tl::unexpected(file_error(directory, dp::PackageError::io(code)));
  }
  const auto path = [&](std::string_view name) {
    return (std::filesystem::path(directory) / name).string();
  };
  const std::string package = path("demo.dovapkg");
  const std::string output = path("output.bin");
  const std::string report_file = path("report.dovaprof");

  fmt::print(
      "dovapkg demo: a compiled application's package, from file to cycle profile.\n"
      "Every file goes to {}.\n\n",
      directory);

  if (auto saved = save_application(demo_application(), package); !saved) {
    return tl::unexpected(saved.error());
  }
  step(1, "Write a package",
       fmt::format("{}: the self-check's extended reference application, grown to 16 tiles "
                   "with bindings and a profile plan on every tile",
                   package),
       "dovapkg sample -o sample.dovapkg   (the plain reference), or "
       "dovapkg pack APP.json -o APP.dovapkg");

  auto app = load_application(package);
  if (!app) return tl::unexpected(app.error());
  step(2, "Read it back; reading validates",
       fmt::format("{}: ok ({} tiles, compiler {})", package, app->tiles.size(),
                   app->compiler_version),
       "dovapkg validate APP.dovapkg...");

  const std::string summary_file = path("inspect.txt");
  const std::string json_file = path("demo.json");
  if (auto w = write_text_file(summary_file, inspect_text(*app, false)); !w) {
    return tl::unexpected(w.error());
  }
  if (auto w = write_text_file(json_file, dump_json(to_json(*app))); !w) {
    return tl::unexpected(w.error());
  }
  step(3, "Summarise it",
       fmt::format("{}: tiles, bindings, host exchange, profile plans, debug map\n"
                   "   {}: every field as JSON; edit it and pack it into a package again",
                   summary_file, json_file),
       "dovapkg inspect APP.dovapkg   (--json for every field, --all for every row)");

  auto image = app->tile_image(0);
  if (!image) return tl::unexpected(tool_error(image.error()));
  const std::string image_file = path("tile0.bin");
  if (auto w = write_file(image_file, *image); !w) return tl::unexpected(w.error());
  step(4, "Rebuild tile 0's memory image",
       fmt::format("{}: {} bytes from load base {:#x}, segment data in place, zero elsewhere",
                   image_file, image->size(), tile_load_base(*app, 0).value_or(0)),
       "dovapkg tile-image APP.dovapkg --tile N -o tileN.bin");

  auto buffer = simulate_output(*app, DEMO_SEED);
  if (!buffer) return tl::unexpected(buffer.error());
  if (auto w = write_file(output, *buffer); !w) return tl::unexpected(w.error());
  step(5, "Simulate a profiled run",
       fmt::format("{}: {} bytes, the outputs end to end with made-up cycle counter readings "
                   "in \"profile.cycles\" (seed {})",
                   output, buffer->size(), DEMO_SEED),
       "dovapkg simulate APP.dovapkg -o output.bin --seed N   (or take a real run's output)");

  auto report = app->profile_report(*buffer, DEMO_CLOCK_HZ);
  if (!report) return tl::unexpected(tool_error(report.error()));
  if (auto saved = save_report(*report, report_file); !saved) return tl::unexpected(saved.error());
  step(6, "Compute the cycle profile report",
       fmt::format("{}: every planned step with its start and end readings, clock {}", report_file,
                   format_clock(DEMO_CLOCK_HZ)),
       "dovapkg profile APP.dovapkg output.bin --clock-hz 1.5GHz -o report.dovaprof");

  const std::string summary = report_summary(*report, false);
  const std::string report_summary_file = path("summary.txt");
  const std::string trace_file = path("trace.json");
  const std::string svg_file = path("timeline.svg");
  if (auto w = write_text_file(report_summary_file, summary); !w) return tl::unexpected(w.error());
  if (auto w = write_text_file(trace_file, report_trace(*report)); !w) {
    return tl::unexpected(w.error());
  }
  if (auto w = write_text_file(svg_file, report_svg(*report)); !w) return tl::unexpected(w.error());
  step(7, "Summarise the report", fmt::format("{} (printed below)", report_summary_file),
       "dovapkg report report.dovaprof   (--csv for a spreadsheet, --json for every field)");
  step(8, "Trace for a timeline viewer",
       fmt::format("{}: open it in Perfetto or chrome://tracing, one track per tile", trace_file),
       "dovapkg report report.dovaprof --trace trace.json");
  step(9, "Timeline picture",
       fmt::format("{}: open it in a web browser; hover a step for its details", svg_file),
       "dovapkg report report.dovaprof --svg timeline.svg");

  fmt::print("{}", summary);
  return 0;
}

}  // namespace dovapkg
