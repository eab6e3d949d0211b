// dovapkg: look inside application packages and turn profiled runs into reports.

#include <fmt/format.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <exception>

#include "clock.hpp"
#include "commands.hpp"
#include "dova/package/version.hpp"
#include "log_sink.hpp"

namespace {

using dovapkg::ToolResult;

constexpr int USAGE_ERROR = 2;

// Turns "1.5GHz" into "1500000000" while options are parsed, so a bad rate is a usage error.
CLI::Validator clock_rate() {
  return CLI::Validator(
      [](std::string& text) {
        auto hz = dovapkg::parse_clock_hz(text);
        if (!hz) return hz.error();
        text = std::to_string(*hz);
        return std::string();
      },
      "HZ", "clock rate");
}

int run(int argc, char** argv) {
  CLI::App app{"Look inside application packages and turn profiled runs into reports.", "dovapkg"};
  app.set_version_flag("--version", std::string(dova::package::VERSION));
  app.require_subcommand(1);
  app.fallthrough();  // global options may follow the subcommand
  app.failure_message([](const CLI::App*, const CLI::Error& error) {
    return fmt::format("error: {}\nRun with --help for more information.\n", error.what());
  });

  int verbosity = 0;
  std::string log_level;
  app.add_flag("-v,--verbose", verbosity,
               "Print the library's events on standard error (-v info, -vv debug, -vvv trace)");
  app.add_option("--log-level", log_level, "Print the library's events from LEVEL up")
      ->check(CLI::IsMember({"trace", "debug", "info", "warn", "error"}, CLI::ignore_case))
      ->option_text("LEVEL");

  std::function<ToolResult<int>()> command;

  std::string out;
  std::string file;
  std::vector<std::string> files;
  bool json = false;
  bool all = false;

  auto* sample = app.add_subcommand(
      "sample", "Write the self-check's extended reference application as a package");
  sample->add_option("-o,--out", out, "Package file to write")->required();
  sample->callback([&] { command = [&] { return dovapkg::run_sample(out); }; });

  auto* validate = app.add_subcommand("validate", "Read and validate packages");
  validate->add_option("files", files, "Package files")->required();
  validate->callback([&] { command = [&] { return dovapkg::run_validate(files); }; });

  auto* inspect = app.add_subcommand("inspect", "Summarise a package");
  inspect->add_option("file", file, "Package file")->required();
  auto* inspect_json = inspect->add_flag("--json", json, "Print every field as JSON instead");
  inspect->add_flag("--all", all, "List every row of long tables")->excludes(inspect_json);
  inspect->callback([&] { command = [&] { return dovapkg::run_inspect(file, json, all); }; });

  std::string json_file;
  auto* pack = app.add_subcommand("pack", "Write a package from its JSON form (inspect --json)");
  pack->add_option("json", json_file, "JSON file")->required();
  pack->add_option("-o,--out", out, "Package file to write")->required();
  pack->callback([&] { command = [&] { return dovapkg::run_pack(json_file, out); }; });

  std::uint32_t tile = 0;
  auto* tile_image = app.add_subcommand("tile-image", "Write one tile's memory image");
  tile_image->add_option("file", file, "Package file")->required();
  tile_image->add_option("--tile", tile, "Physical tile id")->required();
  tile_image->add_option("-o,--out", out, "Image file to write")->required();
  tile_image->callback([&] { command = [&] { return dovapkg::run_tile_image(file, tile, out); }; });

  std::uint64_t seed = 1;
  auto* simulate = app.add_subcommand(
      "simulate", "Write a plausible runtime output buffer of a profiled run of a package");
  simulate->add_option("file", file, "Package file")->required();
  simulate->add_option("-o,--out", out, "Output buffer file to write")->required();
  simulate->add_option("--seed", seed, "Seed of the made-up readings")->capture_default_str();
  simulate->callback([&] { command = [&] { return dovapkg::run_simulate(file, out, seed); }; });

  std::string output;
  std::uint64_t clock_hz = 0;
  auto* profile = app.add_subcommand(
      "profile", "Compute the cycle profile report of a run from its output buffer");
  profile->add_option("file", file, "Package file")->required();
  profile->add_option("output", output, "Runtime output buffer file")->required();
  profile->add_option("--clock-hz", clock_hz, "Clock rate: 1500000000, 1.5GHz, 850MHz")
      ->required()
      ->transform(clock_rate());
  profile->add_option("-o,--out", out, "Report file to write")->required();
  profile->callback(
      [&] { command = [&] { return dovapkg::run_profile(file, output, clock_hz, out); }; });

  dovapkg::ReportOptions report_options;
  std::string trace;
  std::string svg;
  auto* report = app.add_subcommand("report", "Show a cycle profile report");
  report->add_option("report", report_options.file, "Report file")->required();
  auto* report_json = report->add_flag("--json", report_options.json, "Print every field as JSON");
  report->add_flag("--csv", report_options.csv, "Print one CSV row per step")
      ->excludes(report_json);
  report->add_flag("--all", report_options.all, "List every tile in the summary");
  auto* trace_option =
      report->add_option("--trace", trace, "Write a trace for Perfetto or chrome://tracing");
  auto* svg_option = report->add_option("--svg", svg, "Write a timeline picture (SVG)");
  report->callback([&] {
    if (*trace_option) report_options.trace = trace;
    if (*svg_option) report_options.svg = svg;
    command = [&] { return dovapkg::run_report(report_options); };
  });

  std::string directory = "dovapkg-demo";
  auto* demo = app.add_subcommand("demo", "Run the whole workflow on a built-in application");
  demo->add_option("--out", directory, "Directory for the files")->capture_default_str();
  demo->callback([&] { command = [&] { return dovapkg::run_demo(directory); }; });

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    const int status = app.exit(error);
    return status == 0 ? 0 : USAGE_ERROR;
  }

  std::optional<dova::package::LogLevel> level;
  if (!log_level.empty()) {
    level = dovapkg::parse_log_level(log_level);
  } else if (verbosity > 0) {
    level = dovapkg::level_for_verbosity(verbosity);
  }
  const dovapkg::LogSink sink(level);

  const ToolResult<int> result = command();
  std::fflush(stdout);
  if (!result) {
    fmt::print(stderr, "error: {}\n", result.error().text());
    return 1;
  }
  return *result;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const std::exception& error) {
    // Nothing is expected to throw; an allocation failure is the likely cause.
    std::fflush(stdout);
    fmt::print(stderr, "error: {}\n", error.what());
    return 1;
  }
}
