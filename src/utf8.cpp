#include "utf8.hpp"

#include <cstdint>
#include <cstring>

namespace dova::package {
namespace {

constexpr std::uint64_t HIGH_BITS = 0x8080808080808080ull;

bool is_continuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Width of a sequence by its lead byte; 0 for bytes that cannot start one (continuations, the
// overlong leads C0 and C1, and F5 and above).
int sequence_width(unsigned char lead) {
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

// The allowed range of the byte after the lead: it excludes overlongs, surrogates and code points
// above U+10FFFF.
bool second_byte_allowed(unsigned char lead, unsigned char second) {
  switch (lead) {
    case 0xE0:
      return second >= 0xA0 && second <= 0xBF;
    case 0xED:
      return second >= 0x80 && second <= 0x9F;
    case 0xF0:
      return second >= 0x90 && second <= 0xBF;
    case 0xF4:
      return second >= 0x80 && second <= 0x8F;
    default:
      return is_continuation(second);
  }
}

}  // namespace

std::optional<Utf8Fault> find_utf8_fault(std::string_view text) noexcept {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t size = text.size();
  std::size_t i = 0;
  while (i < size) {
    // ASCII fast path: eight bytes at a time while none has its high bit set.
    while (i + 8 <= size) {
      std::uint64_t chunk;
      std::memcpy(&chunk, bytes + i, sizeof chunk);
      if (chunk & HIGH_BITS) break;
      i += 8;
    }
    if (i >= size) break;
    const unsigned char lead = bytes[i];
    if (lead < 0x80) {
      ++i;
      continue;
    }
    const int width = sequence_width(lead);
    if (width == 0) return Utf8Fault{i, 1};
    // Each further byte is checked as it comes; running out of input is an incomplete sequence.
    for (int k = 1; k < width; ++k) {
      if (i + k >= size) return Utf8Fault{i, std::nullopt};
      const unsigned char next = bytes[i + k];
      const bool ok = k == 1 ? second_byte_allowed(lead, next) : is_continuation(next);
      if (!ok) return Utf8Fault{i, static_cast<std::size_t>(k)};
    }
    i += width;
  }
  return std::nullopt;
}

}  // namespace dova::package
