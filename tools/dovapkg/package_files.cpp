#include "package_files.hpp"

#include <fmt/format.h>

#include <cstdio>
#include <sstream>

#include "files.hpp"

namespace dovapkg {

namespace dp = dova::package;

namespace {

// Reads one record from the bytes through the stream form, which stops just past the message,
// so bytes after it can be counted.
template <class Record>
ToolResult<Decoded<Record>> decode(const std::string& path,
                                   const std::vector<std::uint8_t>& bytes) {
  std::istringstream in(std::string(bytes.begin(), bytes.end()));
  auto record = Record::read(in);
  if (!record) return tl::unexpected(file_error(path, record.error()));
  const auto consumed = in.rdbuf()->pubseekoff(0, std::ios_base::cur, std::ios_base::in);
  const std::uint64_t used =
      consumed < 0 ? bytes.size() : static_cast<std::uint64_t>(std::streamoff(consumed));
  return Decoded<Record>{std::move(*record),
                         bytes.size() - std::min<std::uint64_t>(used, bytes.size())};
}

template <class Record>
ToolResult<Record> load(const std::string& path) {
  auto bytes = read_file(path);
  if (!bytes) return tl::unexpected(bytes.error());
  auto decoded = decode<Record>(path, *bytes);
  if (!decoded) return tl::unexpected(decoded.error());
  warn_trailing(path, decoded->trailing);
  return std::move(decoded->value);
}

}  // namespace

ToolResult<Decoded<dp::Application>> decode_application(const std::string& path,
                                                        const std::vector<std::uint8_t>& bytes) {
  return decode<dp::Application>(path, bytes);
}

void warn_trailing(const std::string& path, std::uint64_t trailing) {
  if (trailing == 0) return;
  fmt::print(stderr, "warning: {}: {} bytes after the end of the message are ignored\n", path,
             trailing);
}

ToolResult<dp::Application> load_application(const std::string& path) {
  return load<dp::Application>(path);
}

ToolResult<void> save_application(const dp::Application& app, const std::string& path) {
  std::vector<std::uint8_t> bytes;
  if (auto written = app.write(bytes); !written) return tl::unexpected(tool_error(written.error()));
  return write_file(path, bytes);
}

ToolResult<dp::ProfileReport> load_report(const std::string& path) {
  return load<dp::ProfileReport>(path);
}

ToolResult<void> save_report(const dp::ProfileReport& report, const std::string& path) {
  std::vector<std::uint8_t> bytes;
  if (auto written = report.write(bytes); !written) {
    return tl::unexpected(tool_error(written.error()));
  }
  return write_file(path, bytes);
}

}  // namespace dovapkg
