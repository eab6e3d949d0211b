#pragma once

// Emitting the library's structured events. Callers check log_enabled() before they format any
// field, so an event costs nothing when no subscriber is installed.

#include <initializer_list>
#include <string_view>

#include "dova/package/log.hpp"

namespace dova::package {

inline constexpr std::string_view LOG_TARGET = "dova_package";

bool log_enabled() noexcept;
void emit_event(LogLevel level, std::string_view message,
                std::initializer_list<LogField> fields = {}) noexcept;

}  // namespace dova::package
