#pragma once

// The tool's failures: an optional file name and a message, printed after "error: " on
// standard error, exit status 1.

#include <string>
#include <string_view>
#include <tl/expected.hpp>

#include "dova/package/error.hpp"

namespace dovapkg {

struct ToolError {
  std::string file;     // the file at fault; empty when none is
  std::string message;  // a library error's diagnostic text form, or the tool's own text

  // "file: message", or the message alone.
  std::string text() const { return file.empty() ? message : file + ": " + message; }
};

template <class T>
using ToolResult = tl::expected<T, ToolError>;

inline ToolError tool_error(std::string message) { return ToolError{{}, std::move(message)}; }

inline ToolError tool_error(const dova::package::PackageError& error) {
  return tool_error(error.to_string());
}

inline ToolError file_error(std::string_view file, std::string message) {
  return ToolError{std::string(file), std::move(message)};
}

inline ToolError file_error(std::string_view file, const dova::package::PackageError& error) {
  return file_error(file, error.to_string());
}

}  // namespace dovapkg
