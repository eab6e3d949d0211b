#include "bulk_copy.hpp"

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace dova::package {

void bulk_copy(void* destination, const void* source, std::size_t size) noexcept {
  // Empty data may come with null pointers, which memcpy must not be given even for 0 bytes.
  if (size == 0) return;
#if defined(__SSE2__)
  if (size >= STREAMING_COPY_MIN_BYTES) {
    auto* to = static_cast<std::uint8_t*>(destination);
    const auto* from = static_cast<const std::uint8_t*>(source);
    // Up to the destination's next 16-byte boundary, plainly.
    const std::size_t head = (16 - reinterpret_cast<std::uintptr_t>(to) % 16) % 16;
    std::memcpy(to, from, head);
    to += head;
    from += head;
    size -= head;
    // Whole 64-byte lines with streaming stores.
    for (; size >= 64; size -= 64, to += 64, from += 64) {
      const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
      const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + 16));
      const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + 32));
      const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + 48));
      _mm_stream_si128(reinterpret_cast<__m128i*>(to), a);
      _mm_stream_si128(reinterpret_cast<__m128i*>(to + 16), b);
      _mm_stream_si128(reinterpret_cast<__m128i*>(to + 32), c);
      _mm_stream_si128(reinterpret_cast<__m128i*>(to + 48), d);
    }
    // Streaming stores are weakly ordered: make them visible before anything that follows.
    _mm_sfence();
    std::memcpy(to, from, size);
    return;
  }
#endif
  std::memcpy(destination, source, size);
}

}  // namespace dova::package
