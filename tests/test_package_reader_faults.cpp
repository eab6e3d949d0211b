// Application::read on packages it must refuse: header mismatches, bad texts, undefined
// enumeration values, malformed pointers and framing, truncation; and which of two faults wins.

#include <capnp/any.h>
#include <capnp/message.h>
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <sstream>
#include <string>

#include "application.capnp.h"
#include "dova/package.hpp"
#include "encoding_fixtures.hpp"
#include "package_editing.hpp"
#include "profile_common.capnp.h"

namespace dova::package {
namespace {

namespace app = application_capnp;
namespace common = profile_common_capnp;
using Root = app::Application::Builder;
using fixtures::EditablePackage;

std::vector<std::uint8_t> full_package() { return fixtures::written(fixtures::full_application()); }

capnp::Text::Reader text(const std::string& value) {
  return capnp::Text::Reader(value.c_str(), value.size());
}

// Pointer `index` of a struct, to be overwritten with something its schema does not allow.
template <class StructBuilder>
capnp::AnyPointer::Builder pointer(StructBuilder owner, unsigned index) {
  return capnp::AnyStruct::Builder(std::move(owner)).getPointerSection()[index];
}

// A text pointer to bytes without the terminating NUL.
void set_unterminated(capnp::AnyPointer::Builder field, std::string_view bytes) {
  field.setAs<capnp::Data>(
      capnp::Data::Reader(reinterpret_cast<const kj::byte*>(bytes.data()), bytes.size()));
}

const PackageError incompatible = PackageError::invalid("incompatible package header");

// What a read must fail with: exactly this error, or (for the message layer's own faults, whose
// wording belongs to that layer) any Capnp error.
struct Expected {
  std::optional<PackageError> exact;
  static Expected error(PackageError error) { return {std::move(error)}; }
  static Expected capnp() { return {std::nullopt}; }
};

void expect_failure(const Result<Application>& result, const Expected& expected,
                    const std::string& label) {
  ASSERT_FALSE(result.has_value()) << label << ": read succeeded";
  if (expected.exact) {
    EXPECT_EQ(result.error(), *expected.exact) << label;
  } else {
    EXPECT_EQ(result.error().kind(), PackageError::Kind::Capnp) << label << ": " << result.error();
  }
}

struct EditCase {
  std::string label;
  std::function<void(Root)> edit;
  Expected expected;
};

void run_edit_cases(const std::vector<EditCase>& cases) {
  const auto base = full_package();
  for (const EditCase& c : cases) {
    EditablePackage package(base);
    c.edit(package.root());
    const auto bytes = package.bytes();
    expect_failure(Application::read(bytes), c.expected, c.label);
    std::istringstream stream(std::string(bytes.begin(), bytes.end()));
    expect_failure(Application::read(stream), c.expected, c.label + " (stream)");
  }
}

std::function<void(Root)> set_target(std::string value) {
  return [value](Root root) { root.setTarget(text(value)); };
}

TEST(PackageReaderFaults, HeaderIsCheckedFieldByFieldInOrder) {
  const auto ok = Expected::error(incompatible);
  run_edit_cases({
      {"schema version 4", [](Root r) { r.setSchemaVersion(4); }, ok},
      {"schema version 6", [](Root r) { r.setSchemaVersion(6); }, ok},
      {"schema version 0", [](Root r) { r.setSchemaVersion(0); }, ok},
      {"schema version max", [](Root r) { r.setSchemaVersion(0xFFFFFFFF); }, ok},
      {"target in upper case", set_target("DOVA21"), ok},
      {"target capitalised", set_target("Dova21"), ok},
      {"target with trailing blank", set_target("dova21 "), ok},
      {"target with leading blank", set_target(" dova21"), ok},
      {"target missing its last character", set_target("dova2"), ok},
      {"target with a character more", set_target("dova211"), ok},
      {"target empty", set_target(""), ok},
      {"target with embedded NUL", set_target(std::string("dova21\0", 7)), ok},
      {"target absent", [](Root r) { r.disownTarget(); }, ok},
      {"tile memory base + 1", [](Root r) { r.setTileMemoryBase(TILE_MEMORY_BASE + 1); }, ok},
      {"tile memory base - 1", [](Root r) { r.setTileMemoryBase(TILE_MEMORY_BASE - 1); }, ok},
      {"tile memory size + 1", [](Root r) { r.setTileMemorySize(TILE_MEMORY_SIZE + 1); }, ok},
      {"tile memory size - 1", [](Root r) { r.setTileMemorySize(TILE_MEMORY_SIZE - 1); }, ok},
      {"window from 0", [](Root r) { r.setTileMemoryBase(0); }, ok},
      // A target that is not UTF-8 is a text fault while the version matches ...
      {"target not UTF-8", set_target("dova\xFF"), Expected::error(PackageError::utf8(4, 1))},
      {"target ends inside a sequence", set_target("dova2\xC3"),
       Expected::error(PackageError::utf8(5, std::nullopt))},
      {"target without NUL", [](Root r) { set_unterminated(pointer(r, 1), "dova21"); },
       Expected::capnp()},
      {"target not UTF-8 and base wrong",
       [](Root r) {
         r.setTarget(text("dova\xFF"));
         r.setTileMemoryBase(0);
       },
       Expected::error(PackageError::utf8(4, 1))},
      // ... but a package of another version is refused before its target is looked at.
      {"target not UTF-8, version 6",
       [](Root r) {
         r.setSchemaVersion(6);
         r.setTarget(text("dova\xFF"));
       },
       ok},
      {"target without NUL, version 6",
       [](Root r) {
         r.setSchemaVersion(6);
         set_unterminated(pointer(r, 1), "dova21");
       },
       ok},
      // The header comes before everything else.
      {"compiler version not UTF-8, version 6",
       [](Root r) {
         r.setSchemaVersion(6);
         r.setCompilerVersion(text("\xFF"));
       },
       ok},
      {"no tiles, size wrong",
       [](Root r) {
         r.initTiles(0);
         r.setTileMemorySize(0);
       },
       ok},
  });
}

TEST(PackageReaderFaults, MalformedPointersAreCapnpErrors) {
  const auto capnp = Expected::capnp();
  run_edit_cases({
      {"tiles is a struct", [](Root r) { pointer(r, 2).initAsAnyStruct(1, 0); }, capnp},
      {"host exchange is a list",
       [](Root r) { pointer(r, 6).initAs<capnp::List<std::uint32_t>>(2); }, capnp},
      {"segment data is a struct list",
       [](Root r) { pointer(r.getTiles()[0].getSegments()[0], 0).initAsListOfAnyStruct(1, 0, 2); },
       capnp},
      {"binding name is a number list",
       [](Root r) { pointer(r.getInputs()[0], 0).initAs<capnp::List<std::uint32_t>>(2); }, capnp},
      {"binding shape is a text",
       [](Root r) { pointer(r.getInputs()[0], 2).setAs<capnp::Text>("ab"); }, capnp},
      {"host call inputs is a bit list",
       [](Root r) { pointer(r.getHostExchange().getCalls()[0], 1).initAs<capnp::List<bool>>(3); },
       capnp},
      {"compiler version without NUL", [](Root r) { set_unterminated(pointer(r, 0), "dovac"); },
       capnp},
      {"metadata value without NUL",
       [](Root r) {
         set_unterminated(pointer(r.getProfileTiles()[0].getSteps()[1].getMetadata()[0], 1), "v");
       },
       capnp},
  });
}

TEST(PackageReaderFaults, RootThatIsNotAStructIsACapnpError) {
  capnp::MallocMessageBuilder message;
  message.initRoot<capnp::AnyPointer>().initAs<capnp::List<std::uint32_t>>(4);
  expect_failure(Application::read(fixtures::message_bytes(message)), Expected::capnp(),
                 "root list");
}

// One place where a fault can sit, in the order in which the reader meets them. A planted fault
// carries a marker so that the error tells which one was reported: a bad text has a valid prefix
// of `marker` bytes, an undefined enumeration value is 100 + marker.
enum class FaultKind { Text, Enum, Pointer };

struct FaultSite {
  const char* label;
  FaultKind kind;
  std::function<void(Root, const std::string& bad_text, std::uint16_t bad_value)> plant;
};

common::Step::Builder step(Root root, unsigned plan, unsigned index) {
  return root.getProfileTiles()[plan].getSteps()[index];
}

std::vector<FaultSite> fault_sites() {
  using K = FaultKind;
  using S = const std::string&;
  using V = std::uint16_t;
  return {
      {"compiler_version", K::Text, [](Root r, S t, V) { r.setCompilerVersion(text(t)); }},
      {"tiles[0].segments", K::Pointer,
       [](Root r, S, V) { pointer(r.getTiles()[0], 0).initAsAnyStruct(1, 0); }},
      {"inputs[0].name", K::Text, [](Root r, S t, V) { r.getInputs()[0].setName(text(t)); }},
      {"inputs[0].dtype", K::Text, [](Root r, S t, V) { r.getInputs()[0].setDtype(text(t)); }},
      {"inputs[1].name", K::Text, [](Root r, S t, V) { r.getInputs()[1].setName(text(t)); }},
      {"outputs[0].name", K::Text, [](Root r, S t, V) { r.getOutputs()[0].setName(text(t)); }},
      {"outputs[1].dtype", K::Text, [](Root r, S t, V) { r.getOutputs()[1].setDtype(text(t)); }},
      {"weights[0].name", K::Text, [](Root r, S t, V) { r.getWeights()[0].setName(text(t)); }},
      {"calls[0].name", K::Text,
       [](Root r, S t, V) { r.getHostExchange().getCalls()[0].setName(text(t)); }},
      {"calls[1].name", K::Text,
       [](Root r, S t, V) { r.getHostExchange().getCalls()[1].setName(text(t)); }},
      {"entry_points[0].name", K::Text,
       [](Root r, S t, V) { r.getEntryPoints()[0].setName(text(t)); }},
      {"entry_points[1].name", K::Text,
       [](Root r, S t, V) { r.getEntryPoints()[1].setName(text(t)); }},
      {"plan 0 step 0 operation", K::Text,
       [](Root r, S t, V) { step(r, 0, 0).setOperation(text(t)); }},
      {"plan 0 step 0 kind", K::Enum,
       [](Root r, S, V v) { step(r, 0, 0).setKind(static_cast<common::StepKind>(v)); }},
      {"plan 0 step 0 kernel", K::Text, [](Root r, S t, V) { step(r, 0, 0).setKernel(text(t)); }},
      {"plan 0 step 0 activity 2 kind", K::Enum,
       [](Root r, S, V v) {
         step(r, 0, 0).getExchangeActivities()[2].setKind(
             static_cast<common::ExchangeActivityKind>(v));
       }},
      {"plan 0 step 1 operation", K::Text,
       [](Root r, S t, V) { step(r, 0, 1).setOperation(text(t)); }},
      {"plan 0 step 1 kind", K::Enum,
       [](Root r, S, V v) { step(r, 0, 1).setKind(static_cast<common::StepKind>(v)); }},
      {"plan 0 step 1 kernel", K::Text, [](Root r, S t, V) { step(r, 0, 1).setKernel(text(t)); }},
      {"plan 0 step 1 metadata 0 name", K::Text,
       [](Root r, S t, V) { step(r, 0, 1).getMetadata()[0].setName(text(t)); }},
      {"plan 0 step 1 metadata 0 value", K::Text,
       [](Root r, S t, V) { step(r, 0, 1).getMetadata()[0].setValue(text(t)); }},
      {"plan 0 step 1 metadata 1 name", K::Text,
       [](Root r, S t, V) { step(r, 0, 1).getMetadata()[1].setName(text(t)); }},
      {"plan 0 step 1 activity 0 kind", K::Enum,
       [](Root r, S, V v) {
         step(r, 0, 1).getExchangeActivities()[0].setKind(
             static_cast<common::ExchangeActivityKind>(v));
       }},
      {"plan 1 step 0 kernel", K::Text, [](Root r, S t, V) { step(r, 1, 0).setKernel(text(t)); }},
      {"debug_symbols[0].name", K::Text,
       [](Root r, S t, V) { r.getDebugSymbols()[0].setName(text(t)); }},
      {"debug_symbols[1].name", K::Text,
       [](Root r, S t, V) { r.getDebugSymbols()[1].setName(text(t)); }},
      {"debug_regions[0].name", K::Text,
       [](Root r, S t, V) { r.getDebugRegions()[0].setName(text(t)); }},
      {"debug_regions[1].name", K::Text,
       [](Root r, S t, V) { r.getDebugRegions()[1].setName(text(t)); }},
  };
}

void plant(const FaultSite& site, Root root, std::uint16_t marker) {
  site.plant(root, std::string(marker, 'a') + "\xFF", static_cast<std::uint16_t>(100 + marker));
}

Expected expected_for(const FaultSite& site, std::uint16_t marker) {
  switch (site.kind) {
    case FaultKind::Text:
      return Expected::error(PackageError::utf8(marker, 1));
    case FaultKind::Enum:
      return Expected::error(PackageError::schema_enum(static_cast<std::uint16_t>(100 + marker)));
    case FaultKind::Pointer:
      break;
  }
  return Expected::capnp();
}

TEST(PackageReaderFaults, EveryFaultSiteIsReported) {
  const auto base = full_package();
  const auto sites = fault_sites();
  for (std::uint16_t i = 0; i < sites.size(); ++i) {
    EditablePackage package(base);
    plant(sites[i], package.root(), i);
    expect_failure(Application::read(package.bytes()), expected_for(sites[i], i), sites[i].label);
  }
}

TEST(PackageReaderFaults, FirstFaultInReadingOrderWins) {
  const auto base = full_package();
  const auto sites = fault_sites();
  for (std::uint16_t i = 0; i < sites.size(); ++i) {
    for (std::uint16_t j = i + 1; j < sites.size(); ++j) {
      EditablePackage package(base);
      // Planted later one first: the order of planting must not matter.
      plant(sites[j], package.root(), j);
      plant(sites[i], package.root(), i);
      expect_failure(Application::read(package.bytes()), expected_for(sites[i], i),
                     std::string(sites[i].label) + " before " + sites[j].label);
    }
  }
}

TEST(PackageReaderFaults, NestedTextFaultCarriesItsExactPosition) {
  // A metadata value deep in a profile plan, with each way a sequence can go wrong.
  struct Case {
    const char* label;
    std::string value;
    PackageError expected;
  };
  const Case cases[] = {
      {"ends inside a sequence", "ok\xE2\x82", PackageError::utf8(2, std::nullopt)},
      {"bad second byte", "\xC3\xA9\xE2(", PackageError::utf8(2, 1)},
      {"bad third byte", "abc\xE2\x82(", PackageError::utf8(3, 2)},
      {"bad fourth byte", "\xF0\x9D\x84(", PackageError::utf8(0, 3)},
      {"surrogate", "x\xED\xA0\x80", PackageError::utf8(1, 1)},
  };
  std::vector<EditCase> edits;
  for (const Case& c : cases) {
    edits.push_back(
        {c.label,
         [value = c.value](Root r) { step(r, 0, 1).getMetadata()[1].setValue(text(value)); },
         Expected::error(c.expected)});
  }
  run_edit_cases(edits);
}

TEST(PackageReaderFaults, LargestEnumValuesAreReportedRaw) {
  run_edit_cases({
      {"step kind 4", [](Root r) { step(r, 0, 0).setKind(static_cast<common::StepKind>(4)); },
       Expected::error(PackageError::schema_enum(4))},
      {"step kind 0xFFFF",
       [](Root r) { step(r, 0, 0).setKind(static_cast<common::StepKind>(0xFFFF)); },
       Expected::error(PackageError::schema_enum(0xFFFF))},
      {"activity kind 3",
       [](Root r) {
         step(r, 0, 0).getExchangeActivities()[0].setKind(
             static_cast<common::ExchangeActivityKind>(3));
       },
       Expected::error(PackageError::schema_enum(3))},
  });
}

TEST(PackageReaderFaults, TruncatedInputIsACapnpErrorAtEveryLength) {
  const auto bytes = full_package();
  for (std::size_t length = 0; length < bytes.size(); ++length) {
    const std::vector<std::uint8_t> prefix(bytes.begin(),
                                           bytes.begin() + static_cast<std::ptrdiff_t>(length));
    expect_failure(Application::read(prefix), Expected::capnp(),
                   "span of " + std::to_string(length));
    std::istringstream stream(std::string(prefix.begin(), prefix.end()));
    expect_failure(Application::read(stream), Expected::capnp(),
                   "stream of " + std::to_string(length));
  }
}

TEST(PackageReaderFaults, EmptyInputEmitsOnlyTheFirstEvent) {
  fixtures::EventRecorder recorder;
  expect_failure(Application::read(std::span<const std::uint8_t>()), Expected::capnp(), "span");
  std::istringstream stream;
  expect_failure(Application::read(stream), Expected::capnp(), "stream");
  EXPECT_EQ(recorder.events(),
            std::vector<std::string>(2, "INFO dova_package: reading application package"));
}

TEST(PackageReaderFaults, MalformedFraming) {
  const auto package = full_package();
  auto shrunk = package;
  // The table claims half the segment: the message's pointers then reach past its end.
  const std::uint32_t words = static_cast<std::uint32_t>((package.size() - 8) / 8);
  const std::uint32_t half = words / 2;
  std::memcpy(shrunk.data() + 4, &half, 4);
  shrunk.resize(8 + half * 8);

  struct Case {
    const char* label;
    std::vector<std::uint8_t> bytes;
  };
  const Case cases[] = {
      {"three bytes", {0, 0, 0}},
      {"count without sizes", {0, 0, 0, 0}},
      {"empty first segment", {0, 0, 0, 0, 0, 0, 0, 0}},
      {"promised word missing", {0, 0, 0, 0, 1, 0, 0, 0}},
      {"2^32 segments", {0xFF, 0xFF, 0xFF, 0xFF, 1, 0, 0, 0}},
      {"600 segments", {0x57, 0x02, 0, 0, 1, 0, 0, 0}},
      {"second segment missing",
       {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {"segment shorter than its content", shrunk},
  };
  for (const Case& c : cases) {
    expect_failure(Application::read(c.bytes), Expected::capnp(), c.label);
    std::istringstream stream(std::string(c.bytes.begin(), c.bytes.end()));
    expect_failure(Application::read(stream), Expected::capnp(),
                   std::string(c.label) + " (stream)");
  }
}

TEST(PackageReaderFaults, NullRootReadsAsADefaultApplicationAndFailsTheHeader) {
  // One segment holding only a null root pointer: by the message rules every field has its
  // default, so schema_version is 0.
  const std::vector<std::uint8_t> bytes = {0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  expect_failure(Application::read(bytes), Expected::error(incompatible), "null root");
}

TEST(PackageReaderFaults, CapnpErrorKeepsItsWholeDescription) {
  // The message layer quotes the offending byte of an unterminated text, a NUL, in its
  // description; the error must still carry the explanation that follows it.
  EditablePackage package(full_package());
  set_unterminated(pointer(package.root(), 0), "dovac");
  const auto read = Application::read(package.bytes());
  ASSERT_FALSE(read.has_value());
  ASSERT_EQ(read.error().kind(), PackageError::Kind::Capnp);
  EXPECT_EQ(read.error().message().find('\0'), std::string::npos);
  EXPECT_NE(read.error().message().find("not NUL-terminated"), std::string::npos)
      << read.error().message();
}

}  // namespace
}  // namespace dova::package
