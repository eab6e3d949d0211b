// Crafted messages that would cost far more to decode than they weigh: each is refused (with
// Capnp, except one kept small enough to reach validation), and the peak memory of the read stays
// within a small multiple of the input. The peak is
// measured by running the read in a forked child whose address space is capped at what it already
// uses plus the allowance: any allocation beyond it fails, and the reader would report that as
// "out of memory" instead of the refusal the test expects.

#include <capnp/any.h>
#include <capnp/message.h>
#include <capnp/serialize.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include "application.capnp.h"
#include "decode_budget.hpp"
#include "dova/package.hpp"
#include "framing.hpp"
#include "message_io.hpp"
#include "reference.hpp"

namespace dova::package {
namespace {

using Kind = PackageError::Kind;

// ---- Word-level access to a single-segment message, as written by the library's writers.

std::uint64_t word(const std::vector<std::uint8_t>& bytes, std::size_t index) {
  std::uint64_t value;
  std::memcpy(&value, bytes.data() + 8 * index, 8);
  return value;
}

void set_word(std::vector<std::uint8_t>& bytes, std::size_t index, std::uint64_t value) {
  std::memcpy(bytes.data() + 8 * index, &value, 8);
}

// Message words are counted from the start of the bytes; word 0 is the one-segment table.
constexpr std::size_t ROOT_POINTER = 1;

// Word index that a struct or list pointer at `at` points to.
std::size_t target_of(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  const auto offset = static_cast<std::int32_t>(word(bytes, at) & 0xFFFFFFFF) >> 2;
  return static_cast<std::size_t>(static_cast<std::int64_t>(at) + 1 + offset);
}

// Word index of pointer `index` of the root struct.
std::size_t root_pointer_slot(const std::vector<std::uint8_t>& bytes, std::size_t index) {
  EXPECT_EQ(word(bytes, 0) & 0xFFFFFFFF, 0u) << "expected a single-segment message";
  const std::uint64_t root = word(bytes, ROOT_POINTER);
  const std::size_t data_words = (root >> 32) & 0xFFFF;
  return target_of(bytes, ROOT_POINTER) + data_words + index;
}

// Word index of pointer `pointer` of element `element` of the struct list whose pointer is at
// `slot`.
std::size_t element_pointer_slot(const std::vector<std::uint8_t>& bytes, std::size_t slot,
                                 std::size_t element, std::size_t pointer) {
  const std::size_t tag = target_of(bytes, slot);
  const std::uint64_t tag_word = word(bytes, tag);
  const std::size_t data_words = (tag_word >> 32) & 0xFFFF;
  const std::size_t pointers = tag_word >> 48;
  return tag + 1 + element * (data_words + pointers) + data_words + pointer;
}

std::uint64_t pointer_offset_bits(std::int64_t offset) {
  return static_cast<std::uint32_t>(static_cast<std::int32_t>(offset) * 4);
}

constexpr std::uint64_t MAX_LIST_ELEMENTS = (std::uint64_t{1} << 29) - 1;
constexpr std::uint64_t VOID_ELEMENTS = 0;
constexpr std::uint64_t INLINE_COMPOSITE = 7;

// Turns the root's list pointer `index` into a list of `count` void elements.
std::vector<std::uint8_t> with_void_list(std::vector<std::uint8_t> bytes, std::size_t index,
                                         std::uint64_t count = MAX_LIST_ELEMENTS) {
  const std::size_t slot = root_pointer_slot(bytes, index);
  const std::uint64_t lower = word(bytes, slot) & 0xFFFFFFFF;
  set_word(bytes, slot, lower | (VOID_ELEMENTS | count << 3) << 32);
  return bytes;
}

// Turns the root's struct list `index` into one of zero-sized structs with the largest count: a
// list of no words whose tag claims half a billion elements.
std::vector<std::uint8_t> with_empty_struct_list(std::vector<std::uint8_t> bytes,
                                                 std::size_t index) {
  const std::size_t slot = root_pointer_slot(bytes, index);
  EXPECT_EQ((word(bytes, slot) >> 32) & 7, INLINE_COMPOSITE);
  const std::size_t tag = target_of(bytes, slot);
  set_word(bytes, tag, MAX_LIST_ELEMENTS << 2);  // struct kind, no data, no pointers
  const std::uint64_t lower = word(bytes, slot) & 0xFFFFFFFF;
  set_word(bytes, slot, lower | INLINE_COMPOSITE << 32);  // zero words follow the tag
  return bytes;
}

// Points the root's pointer `to` at the object of its pointer `from`.
std::vector<std::uint8_t> with_alias(std::vector<std::uint8_t> bytes, std::size_t from,
                                     std::size_t to) {
  const std::size_t source = root_pointer_slot(bytes, from);
  const std::size_t slot = root_pointer_slot(bytes, to);
  const std::size_t target = target_of(bytes, source);
  const std::uint64_t kind = word(bytes, source) & 3;
  const std::uint64_t upper = word(bytes, source) & 0xFFFFFFFF00000000ull;
  const auto offset = static_cast<std::int64_t>(target) - static_cast<std::int64_t>(slot) - 1;
  set_word(bytes, slot, upper | pointer_offset_bits(offset) | kind);
  return bytes;
}

// A valid header in one segment of up to 2^16 words; `fill` adds the rest.
template <class Fill>
std::vector<std::uint8_t> single_segment_package(Fill&& fill) {
  capnp::MallocMessageBuilder message(std::uint64_t{1} << 16);
  auto root = message.initRoot<application_capnp::Application>();
  root.setSchemaVersion(PACKAGE_SCHEMA_VERSION);
  root.setTarget(capnp::Text::Reader(PACKAGE_TARGET.data(), PACKAGE_TARGET.size()));
  root.setTileMemoryBase(TILE_MEMORY_BASE);
  root.setTileMemorySize(TILE_MEMORY_SIZE);
  fill(root);
  const kj::Array<capnp::word> flat = capnp::messageToFlatArray(message);
  std::vector<std::uint8_t> bytes(flat.asBytes().begin(), flat.asBytes().end());
  EXPECT_EQ(word(bytes, 0) & 0xFFFFFFFF, 0u) << "expected a single-segment message";
  return bytes;
}

// A package whose compiler version is a text of `bytes` bytes that its tiles pointer also points
// at: read as a list of tiles, each byte becomes a tile record of many bytes.
std::vector<std::uint8_t> text_as_tiles_package(std::size_t bytes) {
  const std::string text(bytes, 'x');
  return with_alias(single_segment_package([&](application_capnp::Application::Builder root) {
                      root.setCompilerVersion(capnp::Text::Reader(text.data(), text.size()));
                    }),
                    0, 2);
}

// A package whose every tile segment's data pointer aliases the first segment's blob: small on
// the wire, `count` times the blob when decoded.
std::vector<std::uint8_t> aliasing_package(std::uint32_t count, std::uint32_t blob_bytes) {
  const std::vector<std::uint8_t> blob_data(blob_bytes, 0xAB);
  // Built directly: the writer would refuse the overlapping segments.
  std::vector<std::uint8_t> bytes =
      single_segment_package([&](application_capnp::Application::Builder root) {
        auto segments = root.initTiles(1)[0].initSegments(count);
        segments[0].setData(capnp::Data::Reader(blob_data.data(), blob_data.size()));
      });
  const std::size_t segments_slot = element_pointer_slot(bytes, root_pointer_slot(bytes, 2), 0, 0);
  const std::size_t first_data = element_pointer_slot(bytes, segments_slot, 0, 0);
  const std::size_t blob = target_of(bytes, first_data);
  const std::uint64_t upper = word(bytes, first_data) & 0xFFFFFFFF00000000ull;
  for (std::uint32_t i = 1; i < count; ++i) {
    const std::size_t at = element_pointer_slot(bytes, segments_slot, i, 0);
    const auto offset = static_cast<std::int64_t>(blob) - static_cast<std::int64_t>(at) - 1;
    set_word(bytes, at, upper | pointer_offset_bits(offset) | 1);
  }
  return bytes;
}

// A package whose compiler version pointer leads into a chain of `depth` nested structs (each
// holding one pointer to the next) in place of a text.
std::vector<std::uint8_t> nested_package(std::size_t depth) {
  Application application = reference::sample();
  application.compiler_version.assign(8 * (depth + 1), 'x');
  std::vector<std::uint8_t> bytes;
  EXPECT_TRUE(application.write(bytes));
  const std::size_t slot = root_pointer_slot(bytes, 0);
  const std::size_t text = target_of(bytes, slot);
  constexpr std::uint64_t ONE_POINTER_STRUCT = std::uint64_t{1} << 48;  // offset 0: next word
  for (std::size_t k = 0; k < depth; ++k) set_word(bytes, text + k, ONE_POINTER_STRUCT);
  set_word(bytes, text + depth, 0);
  set_word(bytes, slot, ONE_POINTER_STRUCT | (word(bytes, slot) & 0xFFFFFFFF & ~std::uint64_t{3}));
  return bytes;
}

// A bare message: root pointer, then a chain of `depth` one-pointer structs.
std::vector<std::uint8_t> nested_message(std::size_t depth) {
  std::vector<std::uint8_t> bytes(8 * (depth + 2), 0);
  set_word(bytes, 0, std::uint64_t{depth + 1} << 32);
  for (std::size_t k = 0; k < depth; ++k) set_word(bytes, 1 + k, std::uint64_t{1} << 48);
  return bytes;
}

std::vector<std::uint8_t> package_bytes() {
  std::vector<std::uint8_t> bytes;
  EXPECT_TRUE(reference::sample().write(bytes));
  return bytes;
}

std::vector<std::uint8_t> report_bytes() {
  std::vector<std::uint8_t> bytes;
  EXPECT_TRUE(reference::profile_report().write(bytes));
  return bytes;
}

// Delivers its bytes and cannot seek, so a reader cannot learn the length in advance.
class UnseekableSource final : public std::streambuf {
 public:
  explicit UnseekableSource(const std::vector<std::uint8_t>& bytes)
      : bytes_(bytes.begin(), bytes.end()) {
    setg(bytes_.data(), bytes_.data(), bytes_.data() + bytes_.size());
  }

 private:
  std::string bytes_;
};

enum class Source { Span, Stream, UnseekableStream };

template <class T>
Result<T> read_from(Source source, const std::vector<std::uint8_t>& bytes) {
  switch (source) {
    case Source::Span:
      return T::read(bytes);
    case Source::Stream: {
      std::istringstream stream(std::string(bytes.begin(), bytes.end()));
      return T::read(stream);
    }
    case Source::UnseekableStream: {
      UnseekableSource buffer(bytes);
      std::istream stream(&buffer);
      return T::read(stream);
    }
  }
  return tl::unexpected(PackageError::invalid("unknown source"));
}

struct HostileCase {
  const char* name;
  std::function<std::vector<std::uint8_t>()> bytes;
  bool report;  // read as a profile report, otherwise as a package
  Kind expected = Kind::Capnp;
};

const HostileCase HOSTILE_CASES[] = {
    {"package with aliased blob", [] { return aliasing_package(2000, 64 * 1024); }, false},
    {"package tiles: a 256 KiB text read as tiles",
     [] { return text_as_tiles_package(256 * 1024); }, false},
    {"package tiles: void list of 2^29 - 1", [] { return with_void_list(package_bytes(), 2); },
     false},
    {"package tiles: empty structs, 2^29 - 1",
     [] { return with_empty_struct_list(package_bytes(), 2); }, false},
    {"report tiles: void list of 2^29 - 1", [] { return with_void_list(report_bytes(), 0); }, true},
    {"report tiles: empty structs, 2^29 - 1",
     [] { return with_empty_struct_list(report_bytes(), 0); }, true},
    {"segment table promising 32 GiB",
     [] { return std::vector<std::uint8_t>{0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0}; },
     false},
    {"512 segments promising 16 TiB",
     [] {
       std::vector<std::uint8_t> bytes(segment_table_bytes(512) + 64, 0xFF);
       bytes[0] = 0xFF;
       bytes[1] = 0x01;
       bytes[2] = bytes[3] = 0;  // 511: 512 segments
       return bytes;
     },
     true},
    {"package text nested 100 deep", [] { return nested_package(100); }, false},
    // Within the readers' floors a tiny message may still decode to many records, at most about
    // a mebibyte of them; 7,000 empty bindings (of the largest root record) reach validation.
    {"package inputs: void list of 7,000", [] { return with_void_list(package_bytes(), 3, 7000); },
     false, Kind::Invalid},
};

std::optional<Kind> read_kind(const HostileCase& hostile, Source source,
                              const std::vector<std::uint8_t>& bytes, std::string* description) {
  auto outcome = [&](const auto& result) -> std::optional<Kind> {
    if (result) return std::nullopt;
    if (description != nullptr) *description = result.error().message();
    return result.error().kind();
  };
  return hostile.report ? outcome(read_from<ProfileReport>(source, bytes))
                        : outcome(read_from<Application>(source, bytes));
}

constexpr Source SOURCES[] = {Source::Span, Source::Stream, Source::UnseekableStream};

TEST(ResourceBounds, CraftedMessagesAreRefused) {
  for (const HostileCase& hostile : HOSTILE_CASES) {
    const std::vector<std::uint8_t> bytes = hostile.bytes();
    for (Source source : SOURCES) {
      std::string description;
      EXPECT_EQ(read_kind(hostile, source, bytes, &description), hostile.expected)
          << hostile.name << ", source " << static_cast<int>(source);
      EXPECT_EQ(description.find("out of memory"), std::string::npos) << hostile.name;
    }
  }
}

// Bytes of address space the process has mapped now.
std::uint64_t mapped_bytes() {
  std::ifstream statm("/proc/self/statm");
  std::uint64_t pages = 0;
  statm >> pages;
  return pages * static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
}

// Runs `operation` in a child whose address space may grow by at most `allowance` bytes. Returns
// the child's exit status: the operation's own code, or 99 when it died.
int run_with_allowance(std::uint64_t allowance, const std::function<int()>& operation) {
  const pid_t child = fork();
  if (child == 0) {
    const rlimit limit{mapped_bytes() + allowance, RLIM_INFINITY};
    if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(98);
    _exit(operation());
  }
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child) return 97;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 99;
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool SANITIZED = true;
#else
constexpr bool SANITIZED = false;
#endif

// The readers' own budget for decoded records (a multiple of the message with a floor), plus a
// mebibyte for the framed copy, the allocator's growth and the error text.
std::uint64_t allowance_for(std::size_t input_bytes) {
  return DecodeBudget::BYTES_PER_MESSAGE_BYTE * input_bytes + DecodeBudget::MIN_BYTES +
         (std::uint64_t{1} << 20);
}

TEST(ResourceBounds, PeakMemoryStaysNearTheInputSize) {
  if (SANITIZED) GTEST_SKIP() << "the sanitizers' own mappings defeat an address-space cap";
  for (const HostileCase& hostile : HOSTILE_CASES) {
    const std::vector<std::uint8_t> bytes = hostile.bytes();
    for (Source source : SOURCES) {
      const int status = run_with_allowance(allowance_for(bytes.size()), [&] {
        std::string description;
        const auto kind = read_kind(hostile, source, bytes, &description);
        if (kind != hostile.expected) return 1;
        return description.find("out of memory") == std::string::npos ? 0 : 2;
      });
      EXPECT_EQ(status, 0) << hostile.name << ", source " << static_cast<int>(source)
                           << " (1: another outcome, 2: out of memory)";
    }
  }
}

TEST(ResourceBounds, AllowanceIsEnoughForAnHonestPackage) {
  // The same cap lets an honest package of similar size read in full.
  if (SANITIZED) GTEST_SKIP() << "the sanitizers' own mappings defeat an address-space cap";
  Application application = reference::sample();
  application.tiles[0].segments[0].data.assign(512 * 1024, 0x5A);
  application.tiles[0].segments[0].memory_size = 512 * 1024;
  std::vector<std::uint8_t> bytes;
  ASSERT_TRUE(application.write(bytes));
  for (Source source : SOURCES) {
    const int status = run_with_allowance(allowance_for(bytes.size()), [&] {
      const auto read = read_from<Application>(source, bytes);
      return read && *read == application ? 0 : 1;
    });
    EXPECT_EQ(status, 0) << "source " << static_cast<int>(source);
  }
}

TEST(ResourceBounds, NestingPastSixtyFourIsRefusedByTheReaderOptions) {
  // The schemas nest at most five pointers deep, so the readers' own accessors never come near
  // the limit; a traversal of the whole message through the library's reader path meets it.
  const auto traverse = [](std::size_t depth) {
    const std::vector<std::uint8_t> bytes = nested_message(depth);
    auto frame = FramedMessage::from_bytes(bytes);
    EXPECT_TRUE(frame.has_value());
    return decode_message(
        *frame, [](capnp::MessageReader& message, DecodeBudget&) -> Result<std::uint64_t> {
          return message.getRoot<capnp::AnyPointer>().targetSize().wordCount;
        });
  };
  const auto shallow = traverse(63);
  ASSERT_TRUE(shallow.has_value()) << shallow.error();
  EXPECT_EQ(*shallow, 63u);
  const auto deep = traverse(65);
  ASSERT_FALSE(deep.has_value());
  EXPECT_EQ(deep.error().kind(), Kind::Capnp);
  EXPECT_NE(deep.error().message().find("nested"), std::string::npos) << deep.error();
}

}  // namespace
}  // namespace dova::package
