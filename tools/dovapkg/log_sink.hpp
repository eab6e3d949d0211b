#pragma once

// Prints the library's structured events on standard error while the guard lives:
// `LEVEL target: message field=value ...`.

#include <optional>
#include <string>
#include <string_view>

#include "dova/package/log.hpp"

namespace dovapkg {

// "trace", "debug", "info", "warn" or "error", in any case.
std::optional<dova::package::LogLevel> parse_log_level(std::string_view text);

// The level that -v given `count` times selects: info, then debug, then trace.
dova::package::LogLevel level_for_verbosity(int count);

// One event as a line, without the line break.
std::string format_event(const dova::package::LogEvent& event);

class LogSink {
 public:
  // Installs a subscriber printing events at `minimum` and above; none when `minimum` is empty.
  explicit LogSink(std::optional<dova::package::LogLevel> minimum);
  ~LogSink();
  LogSink(const LogSink&) = delete;
  LogSink& operator=(const LogSink&) = delete;

 private:
  bool installed_ = false;
  dova::package::LogSubscriber previous_;
};

}  // namespace dovapkg
