#pragma once

// Packages and profile reports as files: the library encodes and decodes, these open the files.

#include <string>

#include "dova/package.hpp"
#include "tool_error.hpp"

namespace dovapkg {

ToolResult<dova::package::Application> load_application(const std::string& path);
// Writes nothing when the library refuses the application (its error has no file name: the
// fault is the application's, not the file's).
ToolResult<void> save_application(const dova::package::Application& app, const std::string& path);

ToolResult<dova::package::ProfileReport> load_report(const std::string& path);
ToolResult<void> save_report(const dova::package::ProfileReport& report, const std::string& path);

}  // namespace dovapkg
