#pragma once

// The floor of reading a package: one walk over the message with the raw Cap'n Proto reader that
// touches every field and converts nothing.

#include <cstdint>
#include <span>

namespace dova::bench {

// Returns a checksum of every field, so that no access can be optimised away. `bytes` must be
// word-aligned and hold one framed package.
std::uint64_t traverse_raw(std::span<const std::uint8_t> bytes);

}  // namespace dova::bench
