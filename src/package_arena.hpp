#pragma once

// The arena of the package writer. Its segments are sized exactly as those of the growable heap
// arena (a first segment of 1024 words; each later one at least the words requested and at least
// the growth size, which starts at the first segment's size and grows by each later segment, up
// to the largest segment), so a message built in it has the same bytes. What differs is clearing. The heap arena clears every segment in full,
// up to twice the words a large message uses, and every byte string is then copied over cleared
// words. This arena clears only the first segment, which holds the root pointer; the writer clears
// each other object as soon as it is allocated (uncleared_write.hpp), so every word of the message
// is written by the writer or by the message layer itself, and byte strings are written once.

#include <capnp/message.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace dova::package {

class PackageArena final : public capnp::MessageBuilder {
 public:
  // `fill`: a byte to fill new segments with instead of leaving them as they come. Tests use it
  // to show that no word of a message depends on the arena's memory.
  explicit PackageArena(std::optional<std::uint8_t> fill = std::nullopt);
  ~PackageArena() override;

  kj::ArrayPtr<capnp::word> allocateSegment(capnp::uint minimum_words) override;

 private:
  std::optional<std::uint8_t> fill_;
  capnp::uint next_words_;
  std::vector<std::unique_ptr<capnp::word[]>> segments_;
};

}  // namespace dova::package
