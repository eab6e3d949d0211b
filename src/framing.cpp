#include "framing.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cstring>
#include <istream>

namespace dova::package {
namespace {

std::uint32_t load_u32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

PackageError premature_end(std::uint64_t needed, std::uint64_t available) {
  return PackageError::capnp(fmt::format(
      "message ends prematurely: needs {} bytes, only {} available", needed, available));
}

// Reads up to `size` bytes; returns how many arrived.
std::size_t read_some(std::istream& in, void* destination, std::size_t size) {
  in.read(static_cast<char*>(destination), static_cast<std::streamsize>(size));
  return static_cast<std::size_t>(in.gcount());
}

// Bytes left in a seekable stream, or none when the stream cannot tell.
std::optional<std::uint64_t> remaining_bytes(std::istream& in) {
  std::streambuf* buffer = in.rdbuf();
  if (buffer == nullptr) return std::nullopt;
  const auto here = buffer->pubseekoff(0, std::ios_base::cur, std::ios_base::in);
  if (here == std::streampos(-1)) return std::nullopt;
  const auto end = buffer->pubseekoff(0, std::ios_base::end, std::ios_base::in);
  buffer->pubseekpos(here, std::ios_base::in);
  if (end == std::streampos(-1) || end < here) return std::nullopt;
  return static_cast<std::uint64_t>(end - here);
}

// First allocation for a stream of unknown length; doubled as bytes keep arriving.
constexpr std::uint64_t INITIAL_STREAM_WORDS = std::uint64_t{1} << 20;

}  // namespace

Result<FrameLayout> read_segment_table(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < 4) return tl::unexpected(premature_end(8, bytes.size()));
  const std::uint64_t count = std::uint64_t{load_u32(bytes.data())} + 1;
  if (count > MAX_SEGMENTS) {
    return tl::unexpected(PackageError::capnp(
        fmt::format("message has {} segments, more than the {} allowed", count, MAX_SEGMENTS)));
  }
  FrameLayout layout;
  layout.table_bytes = segment_table_bytes(static_cast<std::uint32_t>(count));
  if (bytes.size() < layout.table_bytes) {
    return tl::unexpected(premature_end(layout.table_bytes, bytes.size()));
  }
  for (std::uint64_t i = 0; i < count; ++i) {
    layout.segment_words += load_u32(bytes.data() + 4 + 4 * i);
  }
  // An empty first segment cannot hold the root pointer.
  if (load_u32(bytes.data() + 4) == 0) {
    return tl::unexpected(PackageError::capnp("message has an empty first segment"));
  }
  return layout;
}

Result<FramedMessage> FramedMessage::from_bytes(std::span<const std::uint8_t> bytes) {
  auto layout = read_segment_table(bytes);
  if (!layout) return tl::unexpected(layout.error());
  const std::uint64_t size = layout->message_bytes();
  if (size > bytes.size()) return tl::unexpected(premature_end(size, bytes.size()));

  FramedMessage message;
  message.layout_ = *layout;
  const std::size_t word_count = static_cast<std::size_t>(size / 8);
  if (reinterpret_cast<std::uintptr_t>(bytes.data()) % alignof(capnp::word) == 0) {
    message.words_ = kj::arrayPtr(reinterpret_cast<const capnp::word*>(bytes.data()), word_count);
  } else {
    message.owned_ = kj::heapArray<capnp::word>(word_count);
    std::memcpy(message.owned_.begin(), bytes.data(), static_cast<std::size_t>(size));
    message.words_ = message.owned_.asPtr();
  }
  return message;
}

Result<FramedMessage> FramedMessage::from_stream(std::istream& in) {
  // The table first: its first word tells how long the rest of it is.
  std::uint8_t first[4];
  std::size_t got = read_some(in, first, sizeof first);
  if (got < sizeof first) return tl::unexpected(premature_end(8, got));
  const std::uint64_t count = std::uint64_t{load_u32(first)} + 1;
  if (count > MAX_SEGMENTS) {
    return tl::unexpected(PackageError::capnp(
        fmt::format("message has {} segments, more than the {} allowed", count, MAX_SEGMENTS)));
  }
  const std::size_t table_bytes = segment_table_bytes(static_cast<std::uint32_t>(count));
  kj::Array<capnp::word> table = kj::heapArray<capnp::word>(table_bytes / 8);
  auto* table_bytes_ptr = reinterpret_cast<std::uint8_t*>(table.begin());
  std::memcpy(table_bytes_ptr, first, sizeof first);
  got = read_some(in, table_bytes_ptr + 4, table_bytes - 4);
  if (got < table_bytes - 4) return tl::unexpected(premature_end(table_bytes, got + 4));
  auto layout = read_segment_table({table_bytes_ptr, table_bytes});
  if (!layout) return tl::unexpected(layout.error());

  // Allocate what the stream can be shown to hold, never just what the table promises.
  const std::uint64_t total_words = table_bytes / 8 + layout->segment_words;
  const auto remaining = remaining_bytes(in);
  if (remaining && *remaining < layout->segment_words * 8) {
    return tl::unexpected(premature_end(layout->message_bytes(), table_bytes + *remaining));
  }
  std::uint64_t capacity =
      remaining ? total_words : std::min(total_words, table_bytes / 8 + INITIAL_STREAM_WORDS);
  kj::Array<capnp::word> words = kj::heapArray<capnp::word>(static_cast<std::size_t>(capacity));
  std::memcpy(words.begin(), table.begin(), table_bytes);
  std::uint64_t filled = table_bytes;
  const std::uint64_t total_bytes = total_words * 8;
  while (filled < total_bytes) {
    if (filled == capacity * 8) {
      capacity = std::min(total_words, capacity * 2);
      kj::Array<capnp::word> larger =
          kj::heapArray<capnp::word>(static_cast<std::size_t>(capacity));
      std::memcpy(larger.begin(), words.begin(), static_cast<std::size_t>(filled));
      words = std::move(larger);
    }
    auto* destination = reinterpret_cast<std::uint8_t*>(words.begin()) + filled;
    const std::size_t wanted = static_cast<std::size_t>(capacity * 8 - filled);
    const std::size_t arrived = read_some(in, destination, wanted);
    filled += arrived;
    if (arrived < wanted) return tl::unexpected(premature_end(total_bytes, filled));
  }

  FramedMessage message;
  message.layout_ = *layout;
  message.owned_ = std::move(words);
  message.words_ = message.owned_.asPtr();
  return message;
}

}  // namespace dova::package
