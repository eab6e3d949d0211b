#pragma once

// Reading and writing one framed message, with every Cap'n Proto failure turned into a value.

#include <capnp/message.h>
#include <capnp/serialize.h>
#include <kj/exception.h>

#include <cstdint>
#include <exception>
#include <iosfwd>
#include <new>
#include <string>
#include <vector>

#include "decode_budget.hpp"
#include "dova/package/error.hpp"
#include "framing.hpp"

namespace dova::package {

// Words of traversal a message may cost per word it holds. An honest message is traversed about
// once; a crafted one whose pointers alias one large object, or whose lists hold many zero-sized
// elements, would cost far more and is refused instead of being copied over and over.
inline constexpr std::uint64_t TRAVERSAL_WORDS_PER_MESSAGE_WORD = 4;
// Floor of the traversal budget, so small honest messages are never near the limit.
inline constexpr std::uint64_t MIN_TRAVERSAL_WORDS = 8192;

// Options for every reader of this library: a traversal budget derived from the message's own
// size (so a message of any size reads in full) and a nesting limit of 64.
capnp::ReaderOptions capnp_reader_options(std::uint64_t message_words);

// The Capnp error for an exception that escaped the message layer.
PackageError capnp_error(const kj::Exception& exception);

// Runs `operation`, turning exceptions of the message layer, allocation failures of sizes it
// decoded and failures of streams set to throw into Capnp errors: nothing escapes the library.
template <class Operation>
auto guarded(Operation&& operation) -> decltype(operation()) {
  try {
    return operation();
  } catch (const kj::Exception& exception) {
    return tl::unexpected(capnp_error(exception));
  } catch (const std::bad_alloc&) {
    return tl::unexpected(PackageError::capnp("out of memory while handling the message"));
  } catch (const std::exception& exception) {
    return tl::unexpected(PackageError::capnp(exception.what()));
  }
}

// Runs `decode(reader, budget)` on a framed message, with the library's reader options and a
// decode budget in proportion to the message's size.
template <class Decode>
auto decode_message(const FramedMessage& frame, Decode&& decode)
    -> decltype(decode(std::declval<capnp::MessageReader&>(), std::declval<DecodeBudget&>())) {
  return guarded([&] {
    capnp::FlatArrayMessageReader reader(frame.words(),
                                         capnp_reader_options(frame.segment_words()));
    DecodeBudget budget(frame.segment_words() * sizeof(capnp::word));
    return decode(static_cast<capnp::MessageReader&>(reader), budget);
  });
}

// Runs `build(message)` in a fresh arena whose first segment holds 1024 words and which grows
// heuristically, then appends the framed message to the sink.
template <class Build, class Sink>
Result<void> build_and_write(Build&& build, Sink& sink);

// Appends the framed message to a byte vector or writes it to a stream.
Result<void> write_message(capnp::MessageBuilder& message, std::vector<std::uint8_t>& sink);
Result<void> write_message(capnp::MessageBuilder& message, std::ostream& sink);

inline constexpr unsigned FIRST_SEGMENT_WORDS = 1024;

template <class Build, class Sink>
Result<void> build_and_write(Build&& build, Sink& sink) {
  return guarded([&]() -> Result<void> {
    capnp::MallocMessageBuilder message(FIRST_SEGMENT_WORDS,
                                        capnp::AllocationStrategy::GROW_HEURISTICALLY);
    build(message);
    return write_message(message, sink);
  });
}

}  // namespace dova::package
