#pragma once

#include <cstdint>

namespace dova::package {

// The memory that decoding one message may claim for its records, in proportion to the message's
// own size. Cap'n Proto lets a crafted message claim far more than it holds (elements of zero size,
// a byte list read as a list of structs, pointers aliasing one object); every conversion charges
// what it allocates here, and an exhausted budget fails the read as a message-layer error.
class DecodeBudget {
 public:
  // Records take up to a few times the bytes they occupy in an honest message; the floor keeps
  // small messages clear of the limit.
  static constexpr std::uint64_t BYTES_PER_MESSAGE_BYTE = 8;
  static constexpr std::uint64_t MIN_BYTES = std::uint64_t{1} << 20;

  explicit DecodeBudget(std::uint64_t message_bytes);
  // Charges `count` items of `size` bytes each; throws the message layer's exception when the
  // budget cannot cover them.
  void charge(std::uint64_t count, std::uint64_t size);
  std::uint64_t left() const { return left_; }

 private:
  std::uint64_t left_;
};

}  // namespace dova::package
