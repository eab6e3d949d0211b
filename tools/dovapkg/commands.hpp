#pragma once

// The subcommands. Each prints its results on standard output and returns the exit status, or
// the error that main prints after "error: " (exit status 1).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tool_error.hpp"

namespace dovapkg {

ToolResult<int> run_sample(const std::string& out);
ToolResult<int> run_validate(const std::vector<std::string>& files);
ToolResult<int> run_inspect(const std::string& file, bool json, bool all);
ToolResult<int> run_pack(const std::string& json_file, const std::string& out);
ToolResult<int> run_tile_image(const std::string& file, std::uint32_t tile, const std::string& out);

ToolResult<int> run_simulate(const std::string& file, const std::string& out, std::uint64_t seed);
ToolResult<int> run_profile(const std::string& file, const std::string& output,
                            std::uint64_t clock_hz, const std::string& out);

struct ReportOptions {
  std::string file;
  bool json = false;
  bool csv = false;
  bool all = false;
  std::optional<std::string> trace;
  std::optional<std::string> svg;
};
ToolResult<int> run_report(const ReportOptions& options);

ToolResult<int> run_demo(const std::string& directory);

}  // namespace dovapkg
