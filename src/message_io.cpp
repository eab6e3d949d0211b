#include "message_io.hpp"

#include <capnp/serialize.h>
#include <kj/io.h>

#include <algorithm>
#include <limits>
#include <ostream>

namespace dova::package {
namespace {

// Forwards to a std::ostream; a refusing stream becomes a message-layer failure.
class OstreamOutput final : public kj::OutputStream {
 public:
  explicit OstreamOutput(std::ostream& sink) : sink_(sink) {}

  void write(const void* buffer, size_t size) override {
    sink_.write(static_cast<const char*>(buffer), static_cast<std::streamsize>(size));
    if (!sink_) KJ_FAIL_REQUIRE("the output stream refused the message bytes");
  }

 private:
  std::ostream& sink_;
};

void store_u32(std::uint8_t* p, std::uint32_t value) {
  p[0] = static_cast<std::uint8_t>(value);
  p[1] = static_cast<std::uint8_t>(value >> 8);
  p[2] = static_cast<std::uint8_t>(value >> 16);
  p[3] = static_cast<std::uint8_t>(value >> 24);
}

}  // namespace

capnp::ReaderOptions capnp_reader_options(std::uint64_t message_words) {
  capnp::ReaderOptions options;
  const std::uint64_t cap =
      std::numeric_limits<std::uint64_t>::max() / TRAVERSAL_WORDS_PER_MESSAGE_WORD;
  options.traversalLimitInWords = std::max(
      MIN_TRAVERSAL_WORDS, std::min(message_words, cap) * TRAVERSAL_WORDS_PER_MESSAGE_WORD);
  options.nestingLimit = 64;
  return options;
}

DecodeBudget::DecodeBudget(std::uint64_t message_bytes)
    : left_(std::max(MIN_BYTES, std::min(message_bytes, std::numeric_limits<std::uint64_t>::max() /
                                                            BYTES_PER_MESSAGE_BYTE) *
                                    BYTES_PER_MESSAGE_BYTE)) {}

void DecodeBudget::charge(std::uint64_t count, std::uint64_t size) {
  if (size != 0 && count > left_ / size) {
    KJ_FAIL_REQUIRE("message decodes to more records than its size allows", count, size);
  }
  left_ -= count * size;
}

PackageError capnp_error(const kj::Exception& exception) {
  // A description may quote a NUL byte of the message (an unterminated text does): read it by its
  // length, not up to the first NUL, and spell such bytes out so the text stays printable.
  std::string description;
  for (const char c : exception.getDescription()) {
    if (c == '\0') {
      description += "\\0";
    } else {
      description += c;
    }
  }
  return PackageError::capnp(std::move(description));
}

Result<void> write_message(capnp::MessageBuilder& message, std::vector<std::uint8_t>& sink) {
  const auto segments = message.getSegmentsForOutput();
  const std::size_t table_bytes = segment_table_bytes(static_cast<std::uint32_t>(segments.size()));
  std::size_t size = table_bytes;
  for (const auto& segment : segments) size += segment.size() * sizeof(capnp::word);

  std::vector<std::uint8_t> table(table_bytes, 0);
  store_u32(table.data(), static_cast<std::uint32_t>(segments.size() - 1));
  for (std::size_t i = 0; i < segments.size(); ++i) {
    store_u32(table.data() + 4 + 4 * i, static_cast<std::uint32_t>(segments[i].size()));
  }
  // Reserve first so that each segment is copied exactly once, and nothing is appended unless
  // there is room for all of it.
  sink.reserve(sink.size() + size);
  sink.insert(sink.end(), table.begin(), table.end());
  for (const auto& segment : segments) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(segment.begin());
    sink.insert(sink.end(), bytes, bytes + segment.size() * sizeof(capnp::word));
  }
  return {};
}

Result<void> write_message(capnp::MessageBuilder& message, std::ostream& sink) {
  OstreamOutput output(sink);
  capnp::writeMessage(output, message);
  return {};
}

}  // namespace dova::package
