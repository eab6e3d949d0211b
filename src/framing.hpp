#pragma once

// The standard unpacked stream framing of a message: a segment table (segment count minus one and
// each segment's length in words, little-endian 32-bit values, padded to a multiple of 8 bytes),
// then the segments. These functions read the table without trusting it and load one framed
// message into word-aligned memory.

#include <capnp/common.h>
#include <kj/array.h>

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <span>

#include "dova/package/error.hpp"

namespace dova::package {

// More segments than any honest writer produces; the table alone would then be large.
inline constexpr std::uint32_t MAX_SEGMENTS = 512;

// Bytes of the segment table for `segment_count` segments, padding included.
constexpr std::size_t segment_table_bytes(std::uint32_t segment_count) {
  return (static_cast<std::size_t>(segment_count) + 2) / 2 * 8;
}

struct FrameLayout {
  std::size_t table_bytes = 0;      // size of the segment table
  std::uint64_t segment_words = 0;  // total words of all segments
  std::uint64_t message_bytes() const { return table_bytes + segment_words * 8; }
};

// Reads the segment table at the start of `bytes`. Fails when `bytes` is too short to hold the
// whole table, or the table is malformed; the segments themselves need not be present.
Result<FrameLayout> read_segment_table(std::span<const std::uint8_t> bytes);

// One framed message in word-aligned memory: either a view of the caller's bytes or an owned copy.
class FramedMessage {
 public:
  kj::ArrayPtr<const capnp::word> words() const { return words_; }
  std::uint64_t segment_words() const { return layout_.segment_words; }

  // A view of `bytes` when they are word-aligned, otherwise a copy of the message's bytes.
  // Bytes after the message are ignored.
  static Result<FramedMessage> from_bytes(std::span<const std::uint8_t> bytes);
  // Reads exactly one message from the stream, which is left just past it. The table's promised
  // size is not trusted: memory grows with the bytes that actually arrive.
  static Result<FramedMessage> from_stream(std::istream& in);

 private:
  FrameLayout layout_;
  kj::Array<capnp::word> owned_;
  kj::ArrayPtr<const capnp::word> words_;
};

}  // namespace dova::package
