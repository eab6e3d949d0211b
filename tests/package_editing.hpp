#pragma once

// A written package reopened for changes through the generated builders, to craft the messages
// that no correct writer produces.

#include <capnp/message.h>
#include <capnp/serialize.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "application.capnp.h"
#include "encoding_fixtures.hpp"

namespace dova::package::fixtures {

class EditablePackage {
 public:
  // A copy of the package in `bytes`. The copy's arena has segments of `segment_words` words, so a
  // small value spreads the message over many segments.
  explicit EditablePackage(const std::vector<std::uint8_t>& bytes,
                           unsigned segment_words = 1u << 16)
      : message_(segment_words, capnp::AllocationStrategy::FIXED_SIZE) {
    if (bytes.size() < 8 || bytes.size() % 8 != 0) {
      ADD_FAILURE() << "not a package of whole words: " << bytes.size() << " bytes";
      message_.initRoot<application_capnp::Application>();
      return;
    }
    kj::Array<capnp::word> words = kj::heapArray<capnp::word>(bytes.size() / 8);
    std::memcpy(words.begin(), bytes.data(), bytes.size());
    capnp::FlatArrayMessageReader reader(words);
    message_.setRoot(reader.getRoot<application_capnp::Application>());
  }

  application_capnp::Application::Builder root() {
    return message_.getRoot<application_capnp::Application>();
  }
  capnp::MessageBuilder& message() { return message_; }
  std::vector<std::uint8_t> bytes() { return message_bytes(message_); }

 private:
  capnp::MallocMessageBuilder message_;
};

}  // namespace dova::package::fixtures
