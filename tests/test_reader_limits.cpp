// The readers' resource bounds: a message can only cost memory in proportion to its own size.

#include <capnp/message.h>
#include <capnp/serialize.h>
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

#include "application.capnp.h"
#include "dova/package.hpp"
#include "framing.hpp"

namespace dova::package {
namespace {

namespace app = application_capnp;

std::vector<std::uint8_t> to_bytes(capnp::MessageBuilder& message) {
  auto words = capnp::messageToFlatArray(message);
  auto bytes = words.asBytes();
  return {bytes.begin(), bytes.end()};
}

std::uint64_t load_word(const std::vector<std::uint8_t>& bytes, std::size_t word) {
  std::uint64_t value;
  std::memcpy(&value, bytes.data() + word * 8, 8);
  return value;
}

void store_word(std::vector<std::uint8_t>& bytes, std::size_t word, std::uint64_t value) {
  std::memcpy(bytes.data() + word * 8, &value, 8);
}

// A valid-header package whose one tile has `count` segments. Segment 0 holds a blob of
// `blob_bytes`; every other segment's data pointer is then rewritten to point at that same blob,
// so the message is small but decodes to count times the blob.
std::vector<std::uint8_t> aliasing_package(std::uint32_t count, std::uint32_t blob_bytes) {
  capnp::MallocMessageBuilder message(1u << 20);  // one segment, so offsets stay in it
  auto root = message.initRoot<app::Application>();
  root.setSchemaVersion(PACKAGE_SCHEMA_VERSION);
  root.setTarget("dova21");
  root.setTileMemoryBase(TILE_MEMORY_BASE);
  root.setTileMemorySize(TILE_MEMORY_SIZE);
  auto segments = root.initTiles(1)[0].initSegments(count);
  std::vector<std::uint8_t> blob(blob_bytes, 0xAB);
  segments[0].setData(capnp::Data::Reader(blob.data(), blob.size()));
  std::vector<std::uint8_t> bytes = to_bytes(message);
  EXPECT_EQ(load_word(bytes, 0) & 0xFFFFFFFF, 0u) << "expected a single-segment message";

  // Find segment 0's data pointer: a byte-list pointer of blob_bytes elements.
  const std::size_t header_words = 1;
  std::size_t first = 0;
  for (std::size_t w = header_words; w < bytes.size() / 8; ++w) {
    const std::uint64_t p = load_word(bytes, w);
    if ((p & 3) == 1 && ((p >> 32) & 7) == 2 && (p >> 35) == blob_bytes) {
      first = w;
      break;
    }
  }
  EXPECT_NE(first, 0u);
  const std::int64_t offset = static_cast<std::int32_t>(load_word(bytes, first) & 0xFFFFFFFF) >> 2;
  const std::int64_t blob_word = static_cast<std::int64_t>(first) + 1 + offset;
  // Segment elements are 3 words (2 data, 1 pointer) apart.
  for (std::uint32_t i = 1; i < count; ++i) {
    const std::size_t at = first + 3 * i;
    const std::int64_t rel = blob_word - static_cast<std::int64_t>(at) - 1;
    const std::uint64_t lower = (static_cast<std::uint64_t>(rel) << 2 | 1) & 0xFFFFFFFF;
    store_word(bytes, at, lower | (load_word(bytes, first) & 0xFFFFFFFF00000000ull));
  }
  return bytes;
}

TEST(ReaderLimits, AliasedBlobIsRefusedNotCopied) {
  const auto bytes = aliasing_package(2000, 64 * 1024);  // ~100 KiB message, ~128 MiB decoded
  ASSERT_LT(bytes.size(), 200u * 1024);
  auto result = Application::read(bytes);
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error().kind(), PackageError::Kind::Capnp) << result.error();
}

TEST(ReaderLimits, FewAliasesStillRead) {
  // Three pointers at one blob cost three times the blob: within the budget, so the message reads
  // as far as validation (which then refuses the overlapping segments).
  const auto bytes = aliasing_package(3, 64 * 1024);
  auto result = Application::read(bytes);
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error().kind(), PackageError::Kind::Invalid) << result.error();
}

TEST(ReaderLimits, SegmentTablePromisingGigabytesFailsWithoutAllocating) {
  // One segment of 2^32 - 1 words announced, 8 bytes present.
  std::vector<std::uint8_t> bytes = {0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0};
  auto from_span = Application::read(bytes);
  ASSERT_FALSE(from_span.has_value());
  EXPECT_EQ(from_span.error().kind(), PackageError::Kind::Capnp);

  std::istringstream stream(std::string(bytes.begin(), bytes.end()));
  auto from_stream = Application::read(stream);
  ASSERT_FALSE(from_stream.has_value());
  EXPECT_EQ(from_stream.error().kind(), PackageError::Kind::Capnp);
}

}  // namespace
}  // namespace dova::package
