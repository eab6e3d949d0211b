#pragma once

// Copying the large byte strings of a package into its message.

#include <cstddef>

namespace dova::package {

// Below this, a plain copy; from it on, the copy's stores bypass the cache.
inline constexpr std::size_t STREAMING_COPY_MIN_BYTES = std::size_t{32} << 10;

// Copies `size` bytes. A large copy goes to memory that the writer fills once and reads again
// only when the whole message is framed, long after: its stores go straight to memory, without
// first reading each destination line into the cache.
void bulk_copy(void* destination, const void* source, std::size_t size) noexcept;

}  // namespace dova::package
