// The readers' resource bounds: a message can only cost memory in proportion to its own size.

#include <capnp/any.h>
#include <capnp/message.h>
#include <capnp/serialize.h>
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <span>
#include <sstream>
#include <streambuf>

#include "application.capnp.h"
#include "dova/package.hpp"
#include "framing.hpp"
#include "message_io.hpp"
#include "profile.capnp.h"

namespace dova::package {
namespace {

namespace app = application_capnp;
namespace prof = profile_capnp;

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

TEST(ReaderLimits, TraversalBudgetFollowsTheMessageSize) {
  struct Case {
    std::uint64_t message_words;
    std::uint64_t budget;
  };
  const Case cases[] = {
      {0, MIN_TRAVERSAL_WORDS},
      {1, MIN_TRAVERSAL_WORDS},
      {MIN_TRAVERSAL_WORDS / TRAVERSAL_WORDS_PER_MESSAGE_WORD, MIN_TRAVERSAL_WORDS},
      {8'388'608, 8'388'608 * TRAVERSAL_WORDS_PER_MESSAGE_WORD},
      {std::uint64_t{1} << 40, (std::uint64_t{1} << 40) * TRAVERSAL_WORDS_PER_MESSAGE_WORD},
  };
  for (const Case& c : cases) {
    const capnp::ReaderOptions options = capnp_reader_options(c.message_words);
    EXPECT_EQ(options.traversalLimitInWords, c.budget) << c.message_words;
    EXPECT_EQ(options.nestingLimit, 64) << c.message_words;
  }
  // The largest sizes saturate instead of wrapping around to a small budget.
  const auto largest = capnp_reader_options(std::numeric_limits<std::uint64_t>::max());
  EXPECT_GE(largest.traversalLimitInWords, std::numeric_limits<std::uint64_t>::max() / 2);
}

// A report whose one tile has `count` samples, all of whose step pointers lead to sample 0's step,
// which holds an operation text of `text_bytes`.
std::vector<std::uint8_t> aliasing_report(std::uint32_t count, std::uint32_t text_bytes) {
  capnp::MallocMessageBuilder message(1u << 20);  // one segment, so offsets stay in it
  auto root = message.initRoot<prof::Profile>();
  root.setSchemaVersion(PROFILE_SCHEMA_VERSION);
  auto samples = root.initTiles(1)[0].initSamples(count);
  const std::string text(text_bytes, 'x');
  samples[0].initStep().setOperation(text);
  std::vector<std::uint8_t> bytes = to_bytes(message);
  EXPECT_EQ(load_word(bytes, 0) & 0xFFFFFFFF, 0u) << "expected a single-segment message";

  // Sample 0's step pointer: the only struct pointer to 3 data words and 4 pointers.
  std::size_t first = 0;
  for (std::size_t w = 1; w < bytes.size() / 8; ++w) {
    const std::uint64_t p = load_word(bytes, w);
    if (p != 0 && (p & 3) == 0 && ((p >> 32) & 0xFFFF) == 3 && (p >> 48) == 4) {
      first = w;
      break;
    }
  }
  EXPECT_NE(first, 0u);
  const std::int64_t offset = static_cast<std::int32_t>(load_word(bytes, first) & 0xFFFFFFFF) >> 2;
  const std::int64_t step_word = static_cast<std::int64_t>(first) + 1 + offset;
  // Samples are 2 words (1 data, 1 pointer) apart.
  for (std::uint32_t i = 1; i < count; ++i) {
    const std::size_t at = first + 2 * i;
    const std::int64_t rel = step_word - static_cast<std::int64_t>(at) - 1;
    const std::uint64_t lower = (static_cast<std::uint64_t>(rel) << 2) & 0xFFFFFFFF;
    store_word(bytes, at, lower | (load_word(bytes, first) & 0xFFFFFFFF00000000ull));
  }
  return bytes;
}

TEST(ReaderLimits, AliasedReportStepIsRefusedNotCopied) {
  const auto bytes = aliasing_report(2000, 64 * 1024);
  ASSERT_LT(bytes.size(), 200u * 1024);
  const auto result = ProfileReport::read(bytes);
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error().kind(), PackageError::Kind::Capnp) << result.error();
}

TEST(ReaderLimits, FewAliasesInAReportStillRead) {
  // A report is not validated: the three samples simply share one step's contents.
  const auto result = ProfileReport::read(aliasing_report(3, 64 * 1024));
  ASSERT_TRUE(result.has_value()) << result.error();
  ASSERT_EQ(result->tiles.size(), 1u);
  ASSERT_EQ(result->tiles[0].samples.size(), 3u);
  for (const CycleSample& sample : result->tiles[0].samples) {
    EXPECT_EQ(sample.step.operation, std::string(64 * 1024, 'x'));
  }
}

// Serves bytes from memory without telling their length, as a pipe would.
class UnseekableBuf final : public std::streambuf {
 public:
  explicit UnseekableBuf(std::span<const std::uint8_t> bytes) {
    char* begin = const_cast<char*>(reinterpret_cast<const char*>(bytes.data()));
    setg(begin, begin, begin + bytes.size());
  }
};

// `tiles` tiles, each with one segment that fills the whole window.
Application window_filling_application(std::uint32_t tiles) {
  Application application;
  for (std::uint32_t t = 0; t < tiles; ++t) {
    std::vector<std::uint8_t> data(TILE_MEMORY_SIZE, static_cast<std::uint8_t>(t));
    data.front() = 0xA5;
    data.back() = static_cast<std::uint8_t>(~t);
    application.tiles.push_back(TileImage{.physical_tile = t,
                                          .entry_point = 0,
                                          .command_address = 0,
                                          .diagnostic_address = 0,
                                          .segments = {Segment{.address = TILE_MEMORY_BASE,
                                                               .memory_size = TILE_MEMORY_SIZE,
                                                               .data = std::move(data),
                                                               .flags = t}}});
  }
  return application;
}

TEST(ReaderLimits, PackageAboveTheDefaultTraversalLimitReadsInFull) {
  // Enough tiles to pass 8,388,608 words (64 MiB), the message layer's default traversal limit.
  const Application application = window_filling_application(110);
  std::vector<std::uint8_t> bytes;
  const auto written = application.write(bytes);
  ASSERT_TRUE(written.has_value()) << written.error();
  ASSERT_GT(bytes.size() / 8, 8'388'608u);
  const auto read = Application::read(bytes);
  ASSERT_TRUE(read.has_value()) << read.error();
  EXPECT_TRUE(*read == application);
}

TEST(ReaderLimits, UnseekableStreamGrowsItsBufferAsBytesArrive) {
  // A stream that cannot tell its length, with a package larger than the first allocation made
  // for such a stream (2^20 words): the buffer is grown, twice, while the bytes arrive.
  const Application application = window_filling_application(30);
  std::vector<std::uint8_t> bytes;
  ASSERT_TRUE(application.write(bytes).has_value());
  ASSERT_GT(bytes.size() / 8, std::size_t{1} << 21);
  bytes.insert(bytes.end(), {1, 2, 3});
  UnseekableBuf buffer(bytes);
  std::istream stream(&buffer);
  const auto read = Application::read(stream);
  ASSERT_TRUE(read.has_value()) << read.error();
  EXPECT_TRUE(*read == application);
  // Exactly the package was consumed.
  EXPECT_EQ(stream.get(), 1);
}

TEST(ReaderLimits, UnseekableStreamStopsAtWhatArrives) {
  // The table promises far more than the stream holds, and the stream cannot say how much it
  // holds: the read fails once the bytes run out.
  std::vector<std::uint8_t> bytes = {0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0x0F};
  bytes.resize(bytes.size() + 4096, 0);
  UnseekableBuf buffer(bytes);
  std::istream stream(&buffer);
  const auto result = Application::read(stream);
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error().kind(), PackageError::Kind::Capnp);
}

// A header-valid package whose `inputs` pointer (pointer 3 of the root) is a byte list of `count`
// bytes. The message layer reads a byte list as a list of structs with one data byte each, so a
// small message would stand for `count` bindings of a hundred bytes or more each.
std::vector<std::uint8_t> byte_list_as_bindings(std::uint32_t count) {
  capnp::MallocMessageBuilder message;
  auto root = message.initRoot<app::Application>();
  root.setSchemaVersion(PACKAGE_SCHEMA_VERSION);
  root.setTarget("dova21");
  root.setTileMemoryBase(TILE_MEMORY_BASE);
  root.setTileMemorySize(TILE_MEMORY_SIZE);
  capnp::toAny(root).getPointerSection()[3].initAs<capnp::Data>(count);
  return to_bytes(message);
}

TEST(ReaderLimits, RecordsBeyondTheMessageSizeAreRefused) {
  const auto bytes = byte_list_as_bindings(4u << 20);  // 4 MiB message, ~0.5 GiB of bindings
  const auto result = Application::read(bytes);
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error().kind(), PackageError::Kind::Capnp) << result.error();
  EXPECT_NE(result.error().message().find("more records than its size allows"), std::string::npos)
      << result.error();
}

TEST(ReaderLimits, DecodeBudgetChargesInProportionToTheMessage) {
  DecodeBudget small(16);
  EXPECT_EQ(small.left(), DecodeBudget::MIN_BYTES);
  DecodeBudget budget(std::uint64_t{1} << 30);
  EXPECT_EQ(budget.left(), (std::uint64_t{1} << 30) * DecodeBudget::BYTES_PER_MESSAGE_BYTE);
  budget.charge(1000, 8);
  EXPECT_EQ(budget.left(), (std::uint64_t{1} << 30) * DecodeBudget::BYTES_PER_MESSAGE_BYTE - 8000);
  // A count whose product with the size would overflow is refused, not wrapped.
  EXPECT_THROW(budget.charge(std::numeric_limits<std::uint64_t>::max(), 16), kj::Exception);
  EXPECT_NO_THROW(budget.charge(0, 16));
  DecodeBudget huge(std::numeric_limits<std::uint64_t>::max());
  EXPECT_GE(huge.left(), std::numeric_limits<std::uint64_t>::max() / 16);
}

}  // namespace
}  // namespace dova::package
