#include "log_sink.hpp"

#include <fmt/format.h>

#include <array>
#include <cctype>
#include <cstdio>

namespace dovapkg {
namespace {

using dova::package::LogEvent;
using dova::package::LogLevel;

constexpr std::array<LogLevel, 5> LEVELS{LogLevel::Trace, LogLevel::Debug, LogLevel::Info,
                                         LogLevel::Warn, LogLevel::Error};

// A text value stays bare unless it is empty or holds a blank, a quote, an equals sign or a
// control character; then it is quoted with escapes, so a line splits back into its fields.
std::string field_text(std::string_view text) {
  bool bare = !text.empty();
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (u <= ' ' || c == '"' || c == '=' || c == '\\' || u == 0x7F) bare = false;
  }
  if (bare) return std::string(text);
  std::string out = "\"";
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (u < ' ' || u == 0x7F) {
      out += fmt::format("\\x{:02x}", u);
    } else {
      out += c;
    }
  }
  return out + "\"";
}

}  // namespace

std::optional<LogLevel> parse_log_level(std::string_view text) {
  std::string lower;
  for (char c : text) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (LogLevel level : LEVELS) {
    std::string name;
    for (char c : dova::package::to_string(level)) {
      name += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    if (name == lower) return level;
  }
  return std::nullopt;
}

LogLevel level_for_verbosity(int count) {
  if (count >= 3) return LogLevel::Trace;
  if (count == 2) return LogLevel::Debug;
  return LogLevel::Info;
}

std::string format_event(const LogEvent& event) {
  std::string line =
      fmt::format("{} {}: {}", dova::package::to_string(event.level), event.target, event.message);
  for (const auto& field : event.fields) {
    line += fmt::format(" {}=", field.name);
    if (const auto* number = std::get_if<std::uint64_t>(&field.value)) {
      line += std::to_string(*number);
    } else {
      line += field_text(std::get<std::string_view>(field.value));
    }
  }
  return line;
}

LogSink::LogSink(std::optional<LogLevel> minimum) {
  if (!minimum) return;
  const LogLevel threshold = *minimum;
  previous_ = dova::package::set_log_subscriber([threshold](const LogEvent& event) {
    if (event.level < threshold) return;
    const std::string line = format_event(event) + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
  });
  installed_ = true;
}

LogSink::~LogSink() {
  if (installed_) dova::package::set_log_subscriber(std::move(previous_));
}

}  // namespace dovapkg
