#include "package_arena.hpp"

#include <algorithm>
#include <cstring>

#include "message_io.hpp"

namespace dova::package {
namespace {

constexpr capnp::uint MAX_SEGMENT_WORDS = (capnp::uint{1} << 29) - 1;

}  // namespace

PackageArena::PackageArena(std::optional<std::uint8_t> fill)
    : fill_(fill), next_words_(FIRST_SEGMENT_WORDS) {}

// Segments go before the message layer's own state, as in the heap arena.
PackageArena::~PackageArena() = default;

kj::ArrayPtr<capnp::word> PackageArena::allocateSegment(capnp::uint minimum_words) {
  KJ_REQUIRE(minimum_words <= MAX_SEGMENT_WORDS, "requested segment exceeds the largest segment");
  const capnp::uint words = std::max(minimum_words, next_words_);
  auto segment = std::unique_ptr<capnp::word[]>(new capnp::word[words]);
  const std::size_t bytes = std::size_t{words} * sizeof(capnp::word);
  if (fill_) {
    std::memset(static_cast<void*>(segment.get()), *fill_, bytes);
  }
  if (segments_.empty()) {
    // The root pointer is placed here and read before anything is written to it.
    std::memset(static_cast<void*>(segment.get()), 0, bytes);
    // The growth size starts from the first segment's size...
    next_words_ = words;
  } else {
    // ...and grows by each later one.
    next_words_ =
        words <= MAX_SEGMENT_WORDS - next_words_ ? next_words_ + words : MAX_SEGMENT_WORDS;
  }
  capnp::word* begin = segment.get();
  segments_.push_back(std::move(segment));
  return kj::arrayPtr(begin, words);
}

}  // namespace dova::package
