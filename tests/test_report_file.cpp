// ProfileReport::write and ProfileReport::read: exact inverses, versions, absent steps,
// undefined enumeration values, sources and sinks.

#include <capnp/message.h>
#include <capnp/serialize.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <limits>
#include <sstream>

#include "allocation_order.hpp"
#include "dova/package.hpp"
#include "encoding_fixtures.hpp"
#include "package_editing.hpp"
#include "profile.capnp.h"
#include "profile_common.capnp.h"
#include "reference.hpp"

namespace dova::package {
namespace {

using fixtures::written;

namespace prof = profile_capnp;
namespace common = profile_common_capnp;
using fixtures::EditableReport;

CycleSample sample(std::uint32_t start, std::uint32_t end, ProfileStep step = {}) {
  return CycleSample{.step = std::move(step), .start_cycle = start, .end_cycle = end};
}

// A step that uses every field, with texts beyond ASCII.
ProfileStep rich_step() {
  return ProfileStep{
      .local_index = 0xFFFFFFFF,
      .phase = 3,
      .epoch = 0x80000000,
      .operation = "conv \xE2\x86\x92 relu",
      .kind = ProfileStepKind::Synchronization,
      .kernel = "k\xF0\x9D\x84\x9E",
      .metadata = {ProfileMetadata{.name = "a", .value = "1"},
                   ProfileMetadata{.name = "", .value = ""},
                   ProfileMetadata{.name = "\xC3\xA9", .value = "x y"}},
      .exchange_activities =
          {ProfileExchangeActivity{
               .kind = ExchangeActivityKind::PartnerBusy, .start_cycle = 9, .end_cycle = 1},
           ProfileExchangeActivity{
               .kind = ExchangeActivityKind::Send, .start_cycle = 0, .end_cycle = 0},
           ProfileExchangeActivity{
               .kind = ExchangeActivityKind::Receive, .start_cycle = 0xFFFFFFFF, .end_cycle = 5}},
      .exchange_event_cycles = 0xFFFFFFFF,
  };
}

struct ReportCase {
  const char* label;
  ProfileReport report;
};

std::vector<ReportCase> report_cases() {
  return {
      {"reference report with wrapped readings", reference::profile_report()},
      {"empty report, clock 0", ProfileReport{.clock_hz = 0, .tiles = {}}},
      {"tile without samples, clock above 2^32",
       ProfileReport{.clock_hz = (std::uint64_t{1} << 32) + 5,
                     .tiles = {TileProfile{.physical_tile = 4, .samples = {}}}}},
      {"largest clock, duplicate tiles, samples out of order",
       ProfileReport{
           .clock_hz = std::numeric_limits<std::uint64_t>::max(),
           .tiles = {TileProfile{.physical_tile = 2, .samples = {sample(50, 60), sample(10, 5)}},
                     TileProfile{.physical_tile = 2, .samples = {sample(0, 0)}},
                     TileProfile{.physical_tile = 0xFFFFFFFF, .samples = {}}}}},
      {"every step field",
       ProfileReport{.clock_hz = 1,
                     .tiles = {TileProfile{.physical_tile = 0,
                                           .samples = {sample(1, 2, rich_step()), sample(3, 4)}}}}},
  };
}

TEST(ReportFile, RoundTrips) {
  for (const ReportCase& c : report_cases()) {
    const auto bytes = written(c.report);
    const auto from_span = ProfileReport::read(bytes);
    ASSERT_TRUE(from_span.has_value()) << c.label << ": " << from_span.error();
    EXPECT_EQ(*from_span, c.report) << c.label;

    std::stringstream stream;
    ASSERT_TRUE(c.report.write(stream).has_value()) << c.label;
    EXPECT_EQ(fixtures::bytes_of(stream.str()), bytes) << c.label << ": stream and vector differ";
    const auto from_stream = ProfileReport::read(stream);
    ASSERT_TRUE(from_stream.has_value()) << c.label << ": " << from_stream.error();
    EXPECT_EQ(*from_stream, c.report) << c.label;

    EXPECT_EQ(written(c.report), bytes) << c.label << ": second write differs";
  }
}

TEST(ReportFile, ReferenceReadingsStayWrapped) {
  const auto read = ProfileReport::read(written(reference::profile_report()));
  ASSERT_TRUE(read.has_value()) << read.error();
  ASSERT_EQ(read->tiles.size(), 1u);
  ASSERT_EQ(read->tiles[0].samples.size(), 4u);
  EXPECT_EQ(read->clock_hz, 1'500'000'000u);
  for (const CycleSample& s : read->tiles[0].samples) EXPECT_LT(s.end_cycle, s.start_cycle);
}

template <class Inspect>
void inspect_report(const std::vector<std::uint8_t>& bytes, Inspect&& inspect) {
  kj::Array<capnp::word> words = kj::heapArray<capnp::word>(bytes.size() / 8);
  std::memcpy(words.begin(), bytes.data(), bytes.size());
  capnp::FlatArrayMessageReader reader(words);
  inspect(reader.getRoot<prof::Profile>());
}

TEST(ReportFile, WritesVersionAndZeroLengthLists) {
  inspect_report(written(ProfileReport{}), [](prof::Profile::Reader root) {
    EXPECT_EQ(root.getSchemaVersion(), PROFILE_SCHEMA_VERSION);
    EXPECT_EQ(root.getClockHz(), 0u);
    EXPECT_TRUE(root.hasTiles());
    EXPECT_EQ(root.getTiles().size(), 0u);
  });
  const ProfileReport one{.clock_hz = 7,
                          .tiles = {TileProfile{.physical_tile = 1, .samples = {}},
                                    TileProfile{.physical_tile = 2, .samples = {sample(1, 2)}}}};
  inspect_report(written(one), [](prof::Profile::Reader root) {
    EXPECT_EQ(root.getSchemaVersion(), PROFILE_SCHEMA_VERSION);
    EXPECT_EQ(root.getClockHz(), 7u);
    ASSERT_EQ(root.getTiles().size(), 2u);
    EXPECT_TRUE(root.getTiles()[0].hasSamples());
    EXPECT_EQ(root.getTiles()[0].getSamples().size(), 0u);
    const auto written_sample = root.getTiles()[1].getSamples()[0];
    EXPECT_TRUE(written_sample.hasStep());
    EXPECT_TRUE(written_sample.getStep().hasMetadata());
    EXPECT_TRUE(written_sample.getStep().hasExchangeActivities());
  });
}

// The reference report with its root edited.
Result<ProfileReport> read_edited(const std::function<void(prof::Profile::Builder)>& edit) {
  EditableReport report(written(reference::profile_report()));
  edit(report.root());
  return ProfileReport::read(report.bytes());
}

TEST(ReportFile, AcceptsVersionsOneToFive) {
  for (std::uint32_t version = 1; version <= 5; ++version) {
    const auto read =
        read_edited([&](prof::Profile::Builder root) { root.setSchemaVersion(version); });
    ASSERT_TRUE(read.has_value()) << "version " << version << ": " << read.error();
    EXPECT_EQ(*read, reference::profile_report()) << "version " << version;
  }
}

TEST(ReportFile, RefusesOtherVersions) {
  for (const std::uint32_t version : {0u, 6u, 7u, 0xFFFFFFFFu}) {
    const auto read =
        read_edited([&](prof::Profile::Builder root) { root.setSchemaVersion(version); });
    ASSERT_FALSE(read.has_value()) << "version " << version;
    EXPECT_EQ(read.error(), PackageError::invalid("unsupported profile schema version " +
                                                  std::to_string(version)));
  }
}

TEST(ReportFile, VersionIsCheckedBeforeTheContent) {
  const auto read = read_edited([](prof::Profile::Builder root) {
    root.setSchemaVersion(0);
    root.getTiles()[0].getSamples()[0].getStep().setKind(static_cast<common::StepKind>(4));
  });
  ASSERT_FALSE(read.has_value());
  EXPECT_EQ(read.error(), PackageError::invalid("unsupported profile schema version 0"));
}

TEST(ReportFile, MessageWithoutVersionIsRefused) {
  // A profile message that never set its version.
  capnp::MallocMessageBuilder message;
  message.initRoot<prof::Profile>().setClockHz(5);
  const auto read = ProfileReport::read(fixtures::message_bytes(message));
  ASSERT_FALSE(read.has_value());
  EXPECT_EQ(read.error(), PackageError::invalid("unsupported profile schema version 0"));
}

TEST(ReportFile, SampleWithoutStepReadsTheDefaultStep) {
  const auto read = read_edited([](prof::Profile::Builder root) {
    ASSERT_TRUE(root.getTiles()[0].getSamples()[1].disownStep() != nullptr);
    ASSERT_FALSE(root.getTiles()[0].getSamples()[1].hasStep());
  });
  ASSERT_TRUE(read.has_value()) << read.error();
  ProfileReport expected = reference::profile_report();
  expected.tiles[0].samples[1].step = ProfileStep{};
  EXPECT_EQ(*read, expected);
  EXPECT_EQ(read->tiles[0].samples[1].step.kind, ProfileStepKind::Exchange);
  EXPECT_EQ(read->tiles[0].samples[1].start_cycle, 0xFFFFFFF6u);
}

struct FaultCase {
  const char* label;
  std::function<void(common::Step::Builder)> plant;
  PackageError expected;
};

TEST(ReportFile, StepFaultsFailTheRead) {
  const std::string bad = "ab\xE0\x80";
  const auto text = [bad] { return capnp::Text::Reader(bad.c_str(), bad.size()); };
  const FaultCase cases[] = {
      {"step kind 4", [](common::Step::Builder s) { s.setKind(static_cast<common::StepKind>(4)); },
       PackageError::schema_enum(4)},
      {"activity kind 3",
       [](common::Step::Builder s) {
         s.getExchangeActivities()[1].setKind(static_cast<common::ExchangeActivityKind>(3));
       },
       PackageError::schema_enum(3)},
      {"operation", [&](common::Step::Builder s) { s.setOperation(text()); },
       PackageError::utf8(2, 1)},
      {"kernel", [&](common::Step::Builder s) { s.setKernel(text()); }, PackageError::utf8(2, 1)},
      {"metadata name", [&](common::Step::Builder s) { s.getMetadata()[0].setName(text()); },
       PackageError::utf8(2, 1)},
      {"metadata value", [&](common::Step::Builder s) { s.getMetadata()[0].setValue(text()); },
       PackageError::utf8(2, 1)},
  };
  for (const FaultCase& c : cases) {
    // Sample 0 of the reference report is the exchange step, with two activities.
    const auto read = read_edited([&](prof::Profile::Builder root) {
      c.plant(root.getTiles()[0].getSamples()[0].getStep());
    });
    ASSERT_FALSE(read.has_value()) << c.label;
    EXPECT_EQ(read.error(), c.expected) << c.label;
  }
}

TEST(ReportFile, FirstSampleFaultWins) {
  const auto read = read_edited([](prof::Profile::Builder root) {
    auto samples = root.getTiles()[0].getSamples();
    samples[3].getStep().setKind(static_cast<common::StepKind>(9));
    samples[1].getStep().setKind(static_cast<common::StepKind>(8));
  });
  ASSERT_FALSE(read.has_value());
  EXPECT_EQ(read.error(), PackageError::schema_enum(8));
}

TEST(ReportFile, TrailingBytesAreIgnored) {
  const ProfileReport report = reference::profile_report();
  auto bytes = written(report);
  const auto second = written(ProfileReport{.clock_hz = 3, .tiles = {}});
  bytes.insert(bytes.end(), second.begin(), second.end());
  bytes.insert(bytes.end(), 13, 0xFF);
  const auto read = ProfileReport::read(bytes);
  ASSERT_TRUE(read.has_value()) << read.error();
  EXPECT_EQ(*read, report);
}

TEST(ReportFile, StreamReadsReportsBackToBack) {
  const ProfileReport first = reference::profile_report();
  const ProfileReport second{.clock_hz = 3,
                             .tiles = {TileProfile{.physical_tile = 1, .samples = {}}}};
  std::stringstream stream;
  ASSERT_TRUE(first.write(stream).has_value());
  ASSERT_TRUE(second.write(stream).has_value());
  const auto first_size = written(first).size();

  const auto one = ProfileReport::read(stream);
  ASSERT_TRUE(one.has_value()) << one.error();
  EXPECT_EQ(*one, first);
  EXPECT_EQ(static_cast<std::size_t>(stream.tellg()), first_size);
  const auto two = ProfileReport::read(stream);
  ASSERT_TRUE(two.has_value()) << two.error();
  EXPECT_EQ(*two, second);
  EXPECT_EQ(static_cast<std::size_t>(stream.tellg()), first_size + written(second).size());
}

TEST(ReportFile, TruncatedInputIsACapnpErrorAtEveryLength) {
  const auto bytes = written(reference::profile_report());
  for (std::size_t length = 0; length < bytes.size(); ++length) {
    const std::span<const std::uint8_t> prefix(bytes.data(), length);
    const auto from_span = ProfileReport::read(prefix);
    ASSERT_FALSE(from_span.has_value()) << length;
    EXPECT_EQ(from_span.error().kind(), PackageError::Kind::Capnp) << length;
    std::istringstream stream(std::string(prefix.begin(), prefix.end()));
    const auto from_stream = ProfileReport::read(stream);
    ASSERT_FALSE(from_stream.has_value()) << length;
    EXPECT_EQ(from_stream.error().kind(), PackageError::Kind::Capnp) << length;
  }
}

TEST(ReportFile, RootThatIsNotAStructIsACapnpError) {
  capnp::MallocMessageBuilder message;
  message.initRoot<capnp::AnyPointer>().initAs<capnp::List<std::uint32_t>>(2);
  const auto read = ProfileReport::read(fixtures::message_bytes(message));
  ASSERT_FALSE(read.has_value());
  EXPECT_EQ(read.error().kind(), PackageError::Kind::Capnp);
}

TEST(ReportFile, FailingSinkIsACapnpErrorAtEveryByte) {
  const ProfileReport report = reference::profile_report();
  const auto whole = written(report);
  for (std::size_t k = 0; k < whole.size(); ++k) {
    fixtures::LimitedBuf buffer(k);
    std::ostream sink(&buffer);
    const auto result = report.write(sink);
    ASSERT_FALSE(result.has_value()) << "k = " << k;
    EXPECT_EQ(result.error().kind(), PackageError::Kind::Capnp) << "k = " << k;
    EXPECT_EQ(
        fixtures::bytes_of(buffer.accepted()),
        std::vector<std::uint8_t>(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(k)))
        << "k = " << k;
  }
  EXPECT_EQ(written(report), whole);
}

TEST(ReportFile, IsNotLogged) {
  fixtures::EventRecorder recorder;
  const auto bytes = written(reference::profile_report());
  ASSERT_TRUE(ProfileReport::read(bytes).has_value());
  EXPECT_FALSE(ProfileReport::read(std::span<const std::uint8_t>()).has_value());
  EXPECT_TRUE(recorder.events().empty());
}

TEST(ReportFile, ObjectsAreAllocatedInTheFixedOrder) {
  ProfileReport report = reference::profile_report();
  report.tiles.push_back(TileProfile{.physical_tile = 3, .samples = {sample(1, 2, rich_step())}});
  const auto bytes = written(report);
  ASSERT_EQ(bytes[0], 0u) << "expected a single-segment report";
  inspect_report(bytes, [](prof::Profile::Reader root) {
    fixtures::AllocationOrder order;
    order.structure("root", root);
    order.structs("tiles", root.getTiles());
    for (capnp::uint t = 0; t < root.getTiles().size(); ++t) {
      const auto samples = root.getTiles()[t].getSamples();
      const std::string label = "tiles[" + std::to_string(t) + "]";
      order.structs(label + ".samples", samples);
      for (capnp::uint s = 0; s < samples.size(); ++s) {
        const std::string item = label + ".samples[" + std::to_string(s) + "].step";
        order.structure(item, samples[s].getStep());
        order.step(item, samples[s].getStep());
      }
    }
    order.expect_rising();
  });
}

}  // namespace
}  // namespace dova::package
