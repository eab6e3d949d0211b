#pragma once

// UTF-8 validation with the position and length of the first fault.

#include <cstddef>
#include <optional>
#include <string_view>

namespace dova::package {

struct Utf8Fault {
  std::size_t valid_up_to = 0;  // length of the valid prefix
  // Length of the invalid sequence (1 to 3), or none when the input ends inside a sequence that
  // could still have been valid.
  std::optional<std::size_t> error_len;
};

// The first fault of `text`, or none when it is valid UTF-8 (no overlongs, no surrogates, nothing
// above U+10FFFF).
std::optional<Utf8Fault> find_utf8_fault(std::string_view text) noexcept;

}  // namespace dova::package
