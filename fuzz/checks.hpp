#pragma once

// The properties the fuzz targets demand of arbitrary input bytes. The fuzz targets abort when one
// fails; the regression test replays every saved input through the same functions. Each returns
// the broken property, or nothing when all hold. Crashes and undefined behaviour are the business
// of the sanitizers both builds run under.
//
// Header-only, so that the unit tests can include it without another library target.

#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "dova/package.hpp"

namespace dova::package::fuzz {

using Failure = std::optional<std::string>;

inline constexpr std::uint64_t FUZZ_CLOCK_HZ = 1'000'000'000;

// Records the messages of the library's events while it lives, then restores the previous
// subscriber.
class EventRecorder {
 public:
  EventRecorder()
      : previous_(set_log_subscriber(
            [this](const LogEvent& event) { messages_.emplace_back(event.message); })) {}
  ~EventRecorder() { set_log_subscriber(std::move(previous_)); }
  EventRecorder(const EventRecorder&) = delete;
  EventRecorder& operator=(const EventRecorder&) = delete;

  const std::vector<std::string>& messages() const { return messages_; }
  bool saw(std::string_view message) const {
    return std::ranges::find(messages_, message) != messages_.end();
  }

 private:
  std::vector<std::string> messages_;
  LogSubscriber previous_;
};

inline std::string as_string(std::span<const std::uint8_t> bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// Reading from a byte span and from a stream over the same bytes must agree: the same value, or
// errors of the same kind.
template <class T>
Failure same_outcome(const Result<T>& from_span, const Result<T>& from_stream) {
  if (from_span.has_value() != from_stream.has_value()) {
    return "span and stream readers disagree on success";
  }
  if (from_span.has_value()) {
    if (!(*from_span == *from_stream)) return "span and stream readers decode different values";
  } else if (from_span.error().kind() != from_stream.error().kind()) {
    return "span and stream readers fail differently: " + from_span.error().to_string() + " vs " +
           from_stream.error().to_string();
  }
  return std::nullopt;
}

// A report that was read must write, read back equal, and write the same bytes again.
inline Failure check_report_rewrite(const ProfileReport& report) {
  std::vector<std::uint8_t> bytes;
  if (auto written = report.write(bytes); !written) {
    return "a report that was read does not write: " + written.error().to_string();
  }
  auto back = ProfileReport::read(bytes);
  if (!back) return "a rewritten report does not read: " + back.error().to_string();
  if (!(*back == report)) return "a rewritten report reads back different";
  std::ostringstream stream;
  if (auto written = back->write(stream); !written) {
    return "a rewritten report does not write to a stream: " + written.error().to_string();
  }
  if (stream.str() != as_string(bytes)) return "report bytes differ between writes";
  return std::nullopt;
}

// The last segment of a tile is overwritten by none: its data must stand in the image as it is.
inline Failure check_tile_image(const Application& application, const TileImage& tile) {
  auto image = application.tile_image(tile.physical_tile);
  if (!image) return std::nullopt;  // refusing is allowed; crashing is not
  if (tile.segments.empty()) return "a tile without segments has an image";
  std::uint32_t base = tile.segments.front().address;
  for (const Segment& segment : tile.segments) base = std::min(base, segment.address);
  const Segment& last = tile.segments.back();
  const std::size_t offset = last.address - base;
  if (offset + last.data.size() > image->size()) return "a segment lies outside its tile image";
  if (!std::equal(last.data.begin(), last.data.end(), image->begin() + offset)) {
    return "the last segment's data is not in the tile image";
  }
  return std::nullopt;
}

// Application::read on arbitrary bytes. The bytes after the message serve as the runtime output
// buffer of a profiled run.
inline Failure check_application_bytes(std::span<const std::uint8_t> data) {
  Result<Application> from_span = tl::unexpected(PackageError::invalid("not read"));
  {
    EventRecorder events;
    from_span = Application::read(data);
    if (events.messages().empty() || events.messages().front() != "reading application package") {
      return "read did not start with its event";
    }
    if (events.saw("application package read") != from_span.has_value()) {
      return "the read event does not match the outcome";
    }
  }
  std::istringstream stream(as_string(data));
  auto from_stream = Application::read(stream);
  if (auto failure = same_outcome(from_span, from_stream)) return failure;
  if (!from_span) return std::nullopt;

  const Application& application = *from_span;
  const auto consumed = stream.tellg();
  if (consumed < 0 || static_cast<std::uint64_t>(consumed) > data.size()) {
    return "the stream reader left the stream at an impossible position";
  }
  if (auto valid = application.validate(); !valid) {
    return "an application that was read fails validation: " + valid.error().to_string();
  }
  {
    EventRecorder events;  // the image event formats its fields only with a subscriber
    for (const TileImage& tile : application.tiles) {
      const auto first =
          std::ranges::find(application.tiles, tile.physical_tile, &TileImage::physical_tile);
      if (auto failure = check_tile_image(application, *first)) return failure;
    }
  }
  const auto output = data.subspan(static_cast<std::size_t>(consumed));
  auto report = application.profile_report(output, FUZZ_CLOCK_HZ);
  if (!report) return std::nullopt;
  if (report->tiles.size() != application.profile_tiles.size()) {
    return "the report has not one tile per profile plan";
  }
  return check_report_rewrite(*report);
}

// ProfileReport::read on arbitrary bytes.
inline Failure check_report_bytes(std::span<const std::uint8_t> data) {
  auto from_span = ProfileReport::read(data);
  std::istringstream stream(as_string(data));
  auto from_stream = ProfileReport::read(stream);
  if (auto failure = same_outcome(from_span, from_stream)) return failure;
  if (!from_span) return std::nullopt;
  return check_report_rewrite(*from_span);
}

// An application decoded from arbitrary bytes writes, reads back equal, and writes the same bytes
// again, to a vector and to a stream alike.
inline Failure check_application_round_trip(std::span<const std::uint8_t> data) {
  auto decoded = Application::read(data);
  if (!decoded) return std::nullopt;
  std::vector<std::uint8_t> bytes;
  {
    EventRecorder events;
    if (auto written = decoded->write(bytes); !written) {
      return "an application that was read does not write: " + written.error().to_string();
    }
    if (!events.saw("application package written")) return "write did not report its success";
  }
  auto back = Application::read(bytes);
  if (!back) return "a rewritten package does not read: " + back.error().to_string();
  if (!(*back == *decoded)) return "a rewritten package reads back different";
  std::ostringstream stream;
  if (auto written = back->write(stream); !written) {
    return "a rewritten package does not write to a stream: " + written.error().to_string();
  }
  if (stream.str() != as_string(bytes)) return "package bytes differ between writes";
  return std::nullopt;
}

}  // namespace dova::package::fuzz
