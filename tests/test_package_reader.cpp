// Application::read on well-formed packages: round trips, both kinds of source, alignment,
// segmentation, absent fields, events and validation.

#include <capnp/any.h>
#include <capnp/message.h>
#include <capnp/serialize.h>
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

#include "application.capnp.h"
#include "dova/package.hpp"
#include "encoding_fixtures.hpp"
#include "package_editing.hpp"
#include "random_application.hpp"
#include "reference.hpp"

namespace dova::package {
namespace {

using fixtures::written;

namespace app = application_capnp;
using fixtures::EditablePackage;
using fixtures::EventRecorder;

std::uint32_t segment_count(const std::vector<std::uint8_t>& bytes) {
  std::uint32_t value;
  std::memcpy(&value, bytes.data(), sizeof value);
  return value + 1;
}

TEST(PackageReader, FullApplicationRoundTrips) {
  const Application application = fixtures::full_application();
  const auto bytes = written(application);
  const auto from_span = Application::read(bytes);
  ASSERT_TRUE(from_span.has_value()) << from_span.error();
  EXPECT_EQ(*from_span, application);

  std::istringstream stream(std::string(bytes.begin(), bytes.end()));
  const auto from_stream = Application::read(stream);
  ASSERT_TRUE(from_stream.has_value()) << from_stream.error();
  EXPECT_EQ(*from_stream, application);
}

TEST(PackageReader, RandomApplicationsRoundTrip) {
  fixtures::RandomApplication generator(0x5EED'D0BA'2021ull);
  for (int i = 0; i < 300; ++i) {
    const Application application = generator.next();
    const auto valid = application.validate();
    ASSERT_TRUE(valid.has_value())
        << "case " << i << ": generator made an invalid application: " << valid.error() << "\n"
        << application;
    const auto bytes = written(application);
    const auto read = Application::read(bytes);
    ASSERT_TRUE(read.has_value()) << "case " << i << ": " << read.error();
    ASSERT_EQ(*read, application) << "case " << i;
    // The writer is a function of the record alone.
    ASSERT_EQ(written(*read), bytes) << "case " << i;
  }
}

TEST(PackageReader, RecordOwnsItsContents) {
  const Application application = fixtures::full_application();
  auto bytes = written(application);
  const auto read = Application::read(bytes);
  std::fill(bytes.begin(), bytes.end(), 0xCD);
  bytes.clear();
  bytes.shrink_to_fit();
  ASSERT_TRUE(read.has_value()) << read.error();
  EXPECT_EQ(*read, application);
}

TEST(PackageReader, SpanIgnoresTrailingBytes) {
  const Application application = fixtures::full_application();
  const auto package = written(application);
  const std::vector<std::vector<std::uint8_t>> tails = {
      {0},
      std::vector<std::uint8_t>(1000, 0xFF),
      // A second, different package after the first.
      written(reference::sample()),
  };
  for (const auto& tail : tails) {
    auto bytes = package;
    bytes.insert(bytes.end(), tail.begin(), tail.end());
    const auto read = Application::read(bytes);
    ASSERT_TRUE(read.has_value()) << read.error();
    EXPECT_EQ(*read, application);
  }
}

TEST(PackageReader, StreamReadsPackagesBackToBack) {
  const Application first = fixtures::full_application();
  const Application second = reference::extended_sample();
  const auto first_bytes = written(first);
  const auto second_bytes = written(second);
  std::stringstream stream;
  ASSERT_TRUE(first.write(stream).has_value());
  ASSERT_TRUE(second.write(stream).has_value());

  const auto one = Application::read(stream);
  ASSERT_TRUE(one.has_value()) << one.error();
  EXPECT_EQ(*one, first);
  EXPECT_EQ(static_cast<std::size_t>(stream.tellg()), first_bytes.size());

  const auto two = Application::read(stream);
  ASSERT_TRUE(two.has_value()) << two.error();
  EXPECT_EQ(*two, second);
  EXPECT_EQ(static_cast<std::size_t>(stream.tellg()), first_bytes.size() + second_bytes.size());

  const auto none = Application::read(stream);
  ASSERT_FALSE(none.has_value());
  EXPECT_EQ(none.error().kind(), PackageError::Kind::Capnp);
}

TEST(PackageReader, UnalignedSpanReadsTheSame) {
  const Application application = fixtures::full_application();
  const auto bytes = written(application);
  std::vector<std::uint8_t> buffer(bytes.size() + 16);
  for (std::size_t shift = 1; shift < 8; ++shift) {
    std::copy(bytes.begin(), bytes.end(), buffer.begin() + static_cast<std::ptrdiff_t>(shift));
    const auto read = Application::read(std::span(buffer.data() + shift, bytes.size()));
    ASSERT_TRUE(read.has_value()) << "shift " << shift << ": " << read.error();
    EXPECT_EQ(*read, application) << "shift " << shift;
  }
}

TEST(PackageReader, MultiSegmentMessageReadsTheSame) {
  const Application application = fixtures::full_application();
  const auto bytes = written(application);
  ASSERT_EQ(segment_count(bytes), 1u);
  // Copying the message into an arena of small fixed segments spreads it over many segments,
  // with far pointers between them.
  for (const unsigned first_segment_words : {8u, 16u, 64u, 256u}) {
    EditablePackage copy(bytes, first_segment_words);
    const auto split = copy.bytes();
    ASSERT_GT(segment_count(split), 1u) << first_segment_words;
    const auto from_span = Application::read(split);
    ASSERT_TRUE(from_span.has_value()) << first_segment_words << ": " << from_span.error();
    EXPECT_EQ(*from_span, application) << first_segment_words;

    std::istringstream stream(std::string(split.begin(), split.end()));
    const auto from_stream = Application::read(stream);
    ASSERT_TRUE(from_stream.has_value()) << first_segment_words << ": " << from_stream.error();
    EXPECT_EQ(*from_stream, application) << first_segment_words;
  }
}

TEST(PackageReader, AbsentFieldsReadAsDefaults) {
  // Everything but the header and the tiles is removed: null lists, a null text and no host
  // exchange read as empty lists, empty text and a host exchange of zeros.
  EditablePackage package(written(fixtures::full_application()));
  auto root = package.root();
  root.disownCompilerVersion();
  root.disownInputs();
  root.disownOutputs();
  root.disownWeights();
  root.disownHostExchange();
  root.disownEntryPoints();
  root.disownDeviceConfigWrites();
  root.disownProfileTiles();
  root.disownDebugSymbols();
  root.disownDebugRegions();
  ASSERT_FALSE(root.hasHostExchange());

  Application expected;
  expected.compiler_version = "";
  expected.tiles = fixtures::full_application().tiles;
  const auto read = Application::read(package.bytes());
  ASSERT_TRUE(read.has_value()) << read.error();
  EXPECT_EQ(*read, expected);
  EXPECT_EQ(read->host_exchange, HostExchange{});
}

// A host exchange with one page for the command word, whose `calls` pointer is replaced by a list
// of structs of the given size, filled by `fill`.
template <class Fill>
Result<Application> read_with_raw_calls(std::uint16_t data_words, std::uint16_t pointers,
                                        unsigned count, Fill&& fill) {
  Application application = reference::sample();
  application.host_exchange.pages = {HostPage{.index = 0, .size = 16}};
  EditablePackage package(written(application));
  auto calls = capnp::AnyStruct::Builder(package.root().getHostExchange())
                   .getPointerSection()[2]
                   .initAsListOfAnyStruct(data_words, pointers, count);
  fill(calls);
  return Application::read(package.bytes());
}

void store_u32(kj::ArrayPtr<kj::byte> data, std::size_t offset, std::uint32_t value) {
  std::memcpy(data.begin() + offset, &value, sizeof value);
}

TEST(PackageReader, ShortHostCallReadsInvocationsAsOne) {
  // Host calls of one data word and one pointer, as a shorter writer would produce.
  const auto read = read_with_raw_calls(1, 1, 2, [](capnp::List<capnp::AnyStruct>::Builder calls) {
    store_u32(calls[0].getDataSection(), 0, 5);
    store_u32(calls[0].getDataSection(), 4, 6);
    calls[0].getPointerSection()[0].setAs<capnp::Text>("short");
  });
  ASSERT_TRUE(read.has_value()) << read.error();
  ASSERT_EQ(read->host_exchange.calls.size(), 2u);
  HostCall first;
  first.name = "short";
  first.command = 5;
  first.phases = 6;
  EXPECT_EQ(read->host_exchange.calls[0], first);
  EXPECT_EQ(read->host_exchange.calls[1], HostCall{});
  EXPECT_EQ(read->host_exchange.calls[1].invocations, 1u);
}

TEST(PackageReader, LongerHostCallKeepsItsKnownFields) {
  // A newer writer's larger struct: the fields this schema knows are where they always were.
  const auto read = read_with_raw_calls(3, 6, 1, [](capnp::List<capnp::AnyStruct>::Builder calls) {
    store_u32(calls[0].getDataSection(), 8, 4);  // invocations stored XOR 1
    store_u32(calls[0].getDataSection(), 16, 0xFFFFFFFF);
    calls[0].getPointerSection()[0].setAs<capnp::Text>("long");
    calls[0].getPointerSection()[5].setAs<capnp::Text>("unknown to this reader");
  });
  ASSERT_TRUE(read.has_value()) << read.error();
  ASSERT_EQ(read->host_exchange.calls.size(), 1u);
  EXPECT_EQ(read->host_exchange.calls[0].name, "long");
  EXPECT_EQ(read->host_exchange.calls[0].invocations, 5u);
}

TEST(PackageReader, StoredInvocationsOfOneReadAsZeroAndFailValidation) {
  const auto read = read_with_raw_calls(2, 5, 1, [](capnp::List<capnp::AnyStruct>::Builder calls) {
    store_u32(calls[0].getDataSection(), 8, 1);
    calls[0].getPointerSection()[0].setAs<capnp::Text>("never");
  });
  Application expected = reference::sample();
  expected.host_exchange.pages = {HostPage{.index = 0, .size = 16}};
  HostCall call;
  call.name = "never";
  call.invocations = 0;
  expected.host_exchange.calls = {call};
  const auto validation = expected.validate();
  ASSERT_FALSE(validation.has_value());
  ASSERT_FALSE(read.has_value());
  EXPECT_EQ(read.error(), validation.error());
}

TEST(PackageReader, EventsOnSuccess) {
  const auto bytes = written(fixtures::full_application());
  EventRecorder recorder;
  ASSERT_TRUE(Application::read(bytes).has_value());
  EXPECT_EQ(recorder.events(),
            (std::vector<std::string>{
                "INFO dova_package: reading application package",
                "INFO dova_package: application package read {tiles=3, compiler=\"dovac 3.1.4 "
                "(\xC3\x9F)\"}"}));
}

TEST(PackageReader, ValidationErrorIsReturnedUnchanged) {
  // The package decodes into records that break a rule; the reader reports exactly what
  // validation of those records reports, and does not announce a package read.
  struct Case {
    const char* label;
    std::uint32_t tile_count;
    std::uint32_t tile_id;
  };
  const Case cases[] = {{"no tiles", 0, 0}, {"duplicate tiles", 2, 3}};
  for (const Case& c : cases) {
    EditablePackage package(written(reference::sample()));
    auto tiles = package.root().initTiles(c.tile_count);
    Application expected = reference::sample();
    expected.tiles.clear();
    for (auto tile : tiles) {
      tile.setPhysicalTile(c.tile_id);
      TileImage record;
      record.physical_tile = c.tile_id;
      expected.tiles.push_back(record);
    }
    const auto validation = expected.validate();
    ASSERT_FALSE(validation.has_value()) << c.label;

    EventRecorder recorder;
    const auto read = Application::read(package.bytes());
    ASSERT_FALSE(read.has_value()) << c.label;
    EXPECT_EQ(read.error(), validation.error()) << c.label;
    EXPECT_EQ(recorder.events(),
              std::vector<std::string>{"INFO dova_package: reading application package"})
        << c.label;
  }
}

TEST(PackageReader, TextsWithEmbeddedNulRoundTrip) {
  // NUL is valid UTF-8: a text holding one is kept whole, not cut at the NUL.
  Application application = reference::sample();
  application.compiler_version = std::string("a\0b", 3);
  application.entry_points = {
      EntryPoint{.name = std::string("\0", 1), .command = 0, .external_syncs = 0}};
  const auto read = Application::read(written(application));
  ASSERT_TRUE(read.has_value()) << read.error();
  EXPECT_EQ(*read, application);
}

TEST(PackageReader, StreamSetToThrowStillYieldsValues) {
  const Application application = fixtures::full_application();
  const auto bytes = written(application);
  {
    std::istringstream stream(std::string(bytes.begin(), bytes.end()));
    stream.exceptions(std::ios::failbit | std::ios::badbit | std::ios::eofbit);
    const auto read = Application::read(stream);
    ASSERT_TRUE(read.has_value()) << read.error();
    EXPECT_EQ(*read, application);
  }
  {
    std::istringstream stream(std::string(bytes.begin(), bytes.end() - 8));
    stream.exceptions(std::ios::failbit | std::ios::badbit | std::ios::eofbit);
    const auto read = Application::read(stream);
    ASSERT_FALSE(read.has_value());
    EXPECT_EQ(read.error().kind(), PackageError::Kind::Capnp);
  }
}

}  // namespace
}  // namespace dova::package
