#pragma once

// Structured logging. The library emits a few events (writing and reading packages, rebuilding a
// tile image) to one process-wide subscriber. With no subscriber installed an event costs no
// allocation and no formatting.

#include <cstdint>
#include <functional>
#include <span>
#include <string_view>
#include <variant>

namespace dova::package {

enum class LogLevel { Trace, Debug, Info, Warn, Error };

struct LogField {
  std::string_view name;
  std::variant<std::uint64_t, std::string_view> value;
};

// Views are valid only for the duration of the subscriber call: copy what you keep.
struct LogEvent {
  LogLevel level;
  std::string_view target;  // always "dova_package"
  std::string_view message;
  std::span<const LogField> fields;
};

using LogSubscriber = std::function<void(const LogEvent&)>;

// Installs the subscriber (an empty one removes it) and returns the previous one. Safe to call from
// any thread; events already being delivered finish with the subscriber they started with.
LogSubscriber set_log_subscriber(LogSubscriber subscriber);

// "TRACE", "DEBUG", "INFO", "WARN", "ERROR".
std::string_view to_string(LogLevel level);

}  // namespace dova::package
