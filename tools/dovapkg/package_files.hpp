#pragma once

// Packages and profile reports as files: the library encodes and decodes, these open the files.

#include <cstdint>
#include <string>
#include <vector>

#include "dova/package.hpp"
#include "tool_error.hpp"

namespace dovapkg {

// A record read from a file, and how many bytes follow its message. The library ignores such
// bytes; the tool warns about them, since they are often a second package or a damaged file.
template <class Record>
struct Decoded {
  Record value;
  std::uint64_t trailing = 0;
};

ToolResult<Decoded<dova::package::Application>> decode_application(
    const std::string& path, const std::vector<std::uint8_t>& bytes);

// "warning: FILE: N bytes after the end of the message are ignored" on standard error, when N is
// not 0.
void warn_trailing(const std::string& path, std::uint64_t trailing);

// Reading warns about trailing bytes.
ToolResult<dova::package::Application> load_application(const std::string& path);
// Writes nothing when the library refuses the application (its error has no file name: the
// fault is the application's, not the file's).
ToolResult<void> save_application(const dova::package::Application& app, const std::string& path);

ToolResult<dova::package::ProfileReport> load_report(const std::string& path);
ToolResult<void> save_report(const dova::package::ProfileReport& report, const std::string& path);

}  // namespace dovapkg
