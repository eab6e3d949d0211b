#include "package_files.hpp"

#include "files.hpp"

namespace dovapkg {

namespace dp = dova::package;

ToolResult<dp::Application> load_application(const std::string& path) {
  auto bytes = read_file(path);
  if (!bytes) return tl::unexpected(bytes.error());
  auto app = dp::Application::read(*bytes);
  if (!app) return tl::unexpected(file_error(path, app.error()));
  return std::move(*app);
}

ToolResult<void> save_application(const dp::Application& app, const std::string& path) {
  std::vector<std::uint8_t> bytes;
  if (auto written = app.write(bytes); !written) return tl::unexpected(tool_error(written.error()));
  return write_file(path, bytes);
}

ToolResult<dp::ProfileReport> load_report(const std::string& path) {
  auto bytes = read_file(path);
  if (!bytes) return tl::unexpected(bytes.error());
  auto report = dp::ProfileReport::read(*bytes);
  if (!report) return tl::unexpected(file_error(path, report.error()));
  return std::move(*report);
}

ToolResult<void> save_report(const dp::ProfileReport& report, const std::string& path) {
  std::vector<std::uint8_t> bytes;
  if (auto written = report.write(bytes); !written) {
    return tl::unexpected(tool_error(written.error()));
  }
  return write_file(path, bytes);
}

}  // namespace dovapkg
