#pragma once

// Whole-file reads and all-or-nothing writes. An output file is written to a temporary file
// beside it and renamed into place, so a failure never leaves a truncated file behind.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tool_error.hpp"

namespace dovapkg {

ToolResult<std::vector<std::uint8_t>> read_file(const std::string& path);
ToolResult<std::string> read_text_file(const std::string& path);

ToolResult<void> write_file(const std::string& path, std::span<const std::uint8_t> bytes);
ToolResult<void> write_text_file(const std::string& path, std::string_view text);

}  // namespace dovapkg
