#include <atomic>
#include <memory>
#include <mutex>
#include <utility>

#include "log_emit.hpp"

namespace dova::package {
namespace {

// The one piece of process-wide state: the installed subscriber. A copy of the shared pointer is
// taken under the lock and called outside it, so a subscriber may log, or replace itself, freely.
struct SubscriberSlot {
  std::mutex mutex;
  std::shared_ptr<const LogSubscriber> subscriber;
  std::atomic<bool> installed{false};
};

SubscriberSlot& slot() {
  static SubscriberSlot instance;
  return instance;
}

}  // namespace

LogSubscriber set_log_subscriber(LogSubscriber subscriber) {
  auto next = subscriber ? std::make_shared<const LogSubscriber>(std::move(subscriber)) : nullptr;
  SubscriberSlot& s = slot();
  std::shared_ptr<const LogSubscriber> previous;
  {
    std::lock_guard lock(s.mutex);
    previous = std::exchange(s.subscriber, std::move(next));
    s.installed.store(s.subscriber != nullptr, std::memory_order_release);
  }
  return previous ? *previous : LogSubscriber{};
}

bool log_enabled() noexcept { return slot().installed.load(std::memory_order_acquire); }

void emit_event(LogLevel level, std::string_view message,
                std::initializer_list<LogField> fields) noexcept {
  if (!log_enabled()) return;
  SubscriberSlot& s = slot();
  std::shared_ptr<const LogSubscriber> subscriber;
  {
    std::lock_guard lock(s.mutex);
    subscriber = s.subscriber;
  }
  if (!subscriber) return;
  LogEvent event{level, LOG_TARGET, message,
                 std::span<const LogField>(fields.begin(), fields.size())};
  // A subscriber's own failure must not turn a library call into an exception.
  try {
    (*subscriber)(event);
  } catch (...) {
  }
}

std::string_view to_string(LogLevel level) {
  switch (level) {
    case LogLevel::Trace:
      return "TRACE";
    case LogLevel::Debug:
      return "DEBUG";
    case LogLevel::Info:
      return "INFO";
    case LogLevel::Warn:
      return "WARN";
    case LogLevel::Error:
      return "ERROR";
  }
  return "UNKNOWN";
}

}  // namespace dova::package
