#pragma once

// A written package or report reopened for changes through the generated builders, to craft the
// messages that no correct writer produces.

#include <capnp/message.h>
#include <capnp/serialize.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "application.capnp.h"
#include "encoding_fixtures.hpp"
#include "profile.capnp.h"

namespace dova::package::fixtures {

template <class Root>
class EditableMessage {
 public:
  // A copy of the message in `bytes`. The copy's arena has segments of `segment_words` words, so a
  // small value spreads the message over many segments.
  explicit EditableMessage(const std::vector<std::uint8_t>& bytes,
                           unsigned segment_words = 1u << 16)
      : message_(segment_words, capnp::AllocationStrategy::FIXED_SIZE) {
    if (bytes.size() < 8 || bytes.size() % 8 != 0) {
      ADD_FAILURE() << "not a message of whole words: " << bytes.size() << " bytes";
      message_.initRoot<Root>();
      return;
    }
    kj::Array<capnp::word> words = kj::heapArray<capnp::word>(bytes.size() / 8);
    std::memcpy(words.begin(), bytes.data(), bytes.size());
    capnp::FlatArrayMessageReader reader(words);
    message_.setRoot(reader.getRoot<Root>());
  }

  typename Root::Builder root() { return message_.getRoot<Root>(); }
  capnp::MessageBuilder& message() { return message_; }
  std::vector<std::uint8_t> bytes() { return message_bytes(message_); }

 private:
  capnp::MallocMessageBuilder message_;
};

using EditablePackage = EditableMessage<application_capnp::Application>;
using EditableReport = EditableMessage<profile_capnp::Profile>;

}  // namespace dova::package::fixtures
