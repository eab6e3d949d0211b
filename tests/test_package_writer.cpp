// Application::write: events, validation first, the exact shape of the message and failing sinks.

#include <capnp/any.h>
#include <capnp/message.h>
#include <capnp/serialize.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <sstream>

#include "allocation_order.hpp"
#include "application.capnp.h"
#include "dova/package.hpp"
#include "encoding_fixtures.hpp"
#include "reference.hpp"

namespace dova::package {
namespace {

using fixtures::written;

namespace app = application_capnp;
using fixtures::EventRecorder;
using fixtures::LimitedBuf;

// Decodes written bytes with the generated reader and hands the root to `inspect`.
template <class Inspect>
void inspect_package(const std::vector<std::uint8_t>& bytes, Inspect&& inspect) {
  ASSERT_EQ(bytes.size() % 8, 0u);
  kj::Array<capnp::word> words = kj::heapArray<capnp::word>(bytes.size() / 8);
  std::memcpy(words.begin(), bytes.data(), bytes.size());
  capnp::FlatArrayMessageReader reader(words);
  inspect(reader.getRoot<app::Application>());
}

std::uint32_t data_u32(kj::ArrayPtr<const kj::byte> data, std::size_t offset) {
  std::uint32_t value;
  std::memcpy(&value, data.begin() + offset, sizeof value);
  return value;
}

TEST(PackageWriter, EmitsTwoEventsAroundTheWrite) {
  const Application application = fixtures::full_application();
  EventRecorder recorder;
  std::vector<std::uint8_t> bytes;
  ASSERT_TRUE(application.write(bytes).has_value());
  EXPECT_EQ(recorder.events(),
            (std::vector<std::string>{"INFO dova_package: writing application package {tiles=3}",
                                      "INFO dova_package: application package written"}));
}

TEST(PackageWriter, InvalidApplicationWritesNothingAndLogsNothing) {
  // Everything but tiles: validation refuses it before anything is built.
  Application application = fixtures::full_application();
  application.tiles.clear();
  const auto expected = application.validate();
  ASSERT_FALSE(expected.has_value());

  EventRecorder recorder;
  std::vector<std::uint8_t> bytes = {0xAA};
  const auto to_vector = application.write(bytes);
  std::ostringstream stream;
  const auto to_stream = application.write(stream);

  ASSERT_FALSE(to_vector.has_value());
  EXPECT_EQ(to_vector.error(), expected.error());
  ASSERT_FALSE(to_stream.has_value());
  EXPECT_EQ(to_stream.error(), expected.error());
  EXPECT_EQ(bytes, std::vector<std::uint8_t>{0xAA});
  EXPECT_TRUE(stream.str().empty());
  EXPECT_TRUE(recorder.events().empty());
}

TEST(PackageWriter, StoresTheFixedHeader) {
  inspect_package(written(fixtures::full_application()), [](app::Application::Reader root) {
    EXPECT_EQ(root.getSchemaVersion(), 5u);
    EXPECT_EQ(std::string_view(root.getTarget().cStr()), "dova21");
    EXPECT_EQ(root.getTileMemoryBase(), 0x4C000u);
    EXPECT_EQ(root.getTileMemorySize(), 0x9C000u);
    EXPECT_EQ(std::string_view(root.getCompilerVersion().cStr()), "dovac 3.1.4 (\xC3\x9F)");
    // Data bytes 12-15 of the root are not covered by any field.
    EXPECT_EQ(data_u32(capnp::AnyStruct::Reader(root).getDataSection(), 12), 0u);
  });
}

TEST(PackageWriter, EmptyListsAreZeroLengthNotNull) {
  // One tile; every other list empty, also the nested ones of a binding, a host call and a step.
  Application application = reference::sample();
  application.inputs = {Binding{.name = "in", .dtype = "", .shape = {}, .slices = {}}};
  application.host_exchange.pages = {HostPage{.index = 0, .size = 8}};
  HostCall idle;
  idle.name = "idle";
  application.host_exchange.calls = {idle};
  application.profile_tiles = {TileProfilePlan{.physical_tile = 0, .steps = {ProfileStep{}}}};
  TileImage bare;
  bare.physical_tile = 1;
  application.tiles.push_back(bare);

  inspect_package(written(application), [](app::Application::Reader root) {
    EXPECT_TRUE(root.hasTiles());
    for (const bool present :
         {root.hasOutputs(), root.hasWeights(), root.hasEntryPoints(), root.hasDeviceConfigWrites(),
          root.hasDebugSymbols(), root.hasDebugRegions()}) {
      EXPECT_TRUE(present);
    }
    EXPECT_EQ(root.getOutputs().size() + root.getWeights().size() + root.getEntryPoints().size() +
                  root.getDeviceConfigWrites().size() + root.getDebugSymbols().size() +
                  root.getDebugRegions().size(),
              0u);
    ASSERT_EQ(root.getTiles().size(), 2u);
    EXPECT_TRUE(root.getTiles()[1].hasSegments());
    EXPECT_EQ(root.getTiles()[1].getSegments().size(), 0u);

    const auto binding = root.getInputs()[0];
    EXPECT_TRUE(binding.hasShape());
    EXPECT_TRUE(binding.hasSlices());
    EXPECT_EQ(binding.getShape().size() + binding.getSlices().size(), 0u);

    const auto exchange = root.getHostExchange();
    EXPECT_TRUE(exchange.hasAttachOrder());
    EXPECT_EQ(exchange.getAttachOrder().size(), 0u);
    const auto call = exchange.getCalls()[0];
    for (const bool present : {call.hasInputs(), call.hasOutputs(), call.hasInputBatchEnds(),
                               call.hasOutputBatchEnds()}) {
      EXPECT_TRUE(present);
    }

    const auto step = root.getProfileTiles()[0].getSteps()[0];
    EXPECT_TRUE(step.hasMetadata());
    EXPECT_TRUE(step.hasExchangeActivities());
    EXPECT_EQ(step.getMetadata().size() + step.getExchangeActivities().size(), 0u);
  });
}

TEST(PackageWriter, HostExchangeIsWrittenEvenWhenEmpty) {
  inspect_package(written(reference::sample()), [](app::Application::Reader root) {
    ASSERT_TRUE(root.hasHostExchange());
    const auto exchange = root.getHostExchange();
    EXPECT_EQ(exchange.getStartupMark(), 0u);
    EXPECT_EQ(exchange.getCommandPage(), 0u);
    EXPECT_EQ(exchange.getCommandOffset(), 0u);
    EXPECT_TRUE(exchange.hasPages());
    EXPECT_TRUE(exchange.hasAttachOrder());
    EXPECT_TRUE(exchange.hasCalls());
    EXPECT_EQ(
        exchange.getPages().size() + exchange.getAttachOrder().size() + exchange.getCalls().size(),
        0u);
  });
}

TEST(PackageWriter, InvocationsAreStoredAgainstTheirDefaultOfOne) {
  // full_application's calls have invocations 1 and 7; add 2 and the largest value.
  Application application = fixtures::full_application();
  HostCall two;
  two.name = "two";
  two.command = 0x01020304;
  two.phases = 0x05060708;
  two.invocations = 2;
  HostCall most;
  most.name = "most";
  most.invocations = 0xFFFFFFFF;
  application.host_exchange.calls.push_back(two);
  application.host_exchange.calls.push_back(most);

  struct Case {
    std::uint32_t invocations;
    std::uint32_t stored;
  };
  const Case cases[] = {{1, 0}, {7, 6}, {2, 3}, {0xFFFFFFFF, 0xFFFFFFFE}};
  inspect_package(written(application), [&](app::Application::Reader root) {
    const auto calls = root.getHostExchange().getCalls();
    ASSERT_EQ(calls.size(), 4u);
    for (capnp::uint i = 0; i < calls.size(); ++i) {
      const auto data = capnp::AnyStruct::Reader(calls[i]).getDataSection();
      ASSERT_EQ(data.size(), 16u);
      EXPECT_EQ(data_u32(data, 8), cases[i].stored) << "call " << i;
      EXPECT_EQ(calls[i].getInvocations(), cases[i].invocations) << "call " << i;
      EXPECT_EQ(data_u32(data, 12), 0u) << "unused bytes of call " << i;
    }
    const auto data = capnp::AnyStruct::Reader(calls[2]).getDataSection();
    EXPECT_EQ(data_u32(data, 0), 0x01020304u);
    EXPECT_EQ(data_u32(data, 4), 0x05060708u);
  });
}

TEST(PackageWriter, StructListsHaveTheSchemaElementSizes) {
  // A reader of a longer element size than written would see zeros where fields should be; check
  // the data words and pointers each list element was allocated with.
  inspect_package(written(fixtures::full_application()), [](app::Application::Reader root) {
    const auto sizes = [](auto element) {
      const capnp::AnyStruct::Reader any(element);
      return std::pair<std::size_t, std::size_t>(any.getDataSection().size() / 8,
                                                 any.getPointerSection().size());
    };
    using Sizes = std::pair<std::size_t, std::size_t>;
    EXPECT_EQ(sizes(root), Sizes(2, 12));
    EXPECT_EQ(sizes(root.getTiles()[0]), Sizes(2, 1));
    EXPECT_EQ(sizes(root.getTiles()[0].getSegments()[0]), Sizes(2, 1));
    EXPECT_EQ(sizes(root.getInputs()[0]), Sizes(0, 4));
    EXPECT_EQ(sizes(root.getInputs()[0].getSlices()[0]), Sizes(3, 0));
    EXPECT_EQ(sizes(root.getHostExchange()), Sizes(2, 3));
    EXPECT_EQ(sizes(root.getHostExchange().getPages()[0]), Sizes(2, 0));
    EXPECT_EQ(sizes(root.getHostExchange().getCalls()[0]), Sizes(2, 5));
    EXPECT_EQ(sizes(root.getHostExchange().getCalls()[0].getInputs()[0]), Sizes(4, 0));
    EXPECT_EQ(sizes(root.getEntryPoints()[0]), Sizes(1, 1));
    EXPECT_EQ(sizes(root.getDeviceConfigWrites()[0]), Sizes(1, 0));
    EXPECT_EQ(sizes(root.getProfileTiles()[0]), Sizes(1, 1));
    const auto step = root.getProfileTiles()[0].getSteps()[0];
    EXPECT_EQ(sizes(step), Sizes(3, 4));
    EXPECT_EQ(sizes(root.getProfileTiles()[0].getSteps()[1].getMetadata()[0]), Sizes(0, 2));
    EXPECT_EQ(sizes(step.getExchangeActivities()[0]), Sizes(2, 0));
    EXPECT_EQ(sizes(root.getDebugSymbols()[0]), Sizes(1, 1));
    EXPECT_EQ(sizes(root.getDebugRegions()[0]), Sizes(2, 1));
  });
}

TEST(PackageWriter, SameApplicationGivesIdenticalBytes) {
  const Application application = fixtures::full_application();
  const auto first = written(application);
  const auto second = written(application);
  EXPECT_EQ(first, second);

  std::ostringstream stream;
  ASSERT_TRUE(application.write(stream).has_value());
  EXPECT_EQ(fixtures::bytes_of(stream.str()), first);
}

TEST(PackageWriter, AppendsToWhatTheSinkHolds) {
  const Application application = reference::sample();
  const auto alone = written(application);
  std::vector<std::uint8_t> sink = {1, 2, 3};
  ASSERT_TRUE(application.write(sink).has_value());
  ASSERT_EQ(sink.size(), alone.size() + 3);
  EXPECT_EQ(std::vector<std::uint8_t>(sink.begin(), sink.begin() + 3),
            (std::vector<std::uint8_t>{1, 2, 3}));
  EXPECT_EQ(std::vector<std::uint8_t>(sink.begin() + 3, sink.end()), alone);
}

TEST(PackageWriter, FailingSinkIsACapnpErrorAtEveryByte) {
  // The sink refuses after k bytes, for every k short of the whole package: always Capnp (never
  // Io), only the first event, and what the sink took is the start of the package.
  const Application application = reference::extended_sample();
  const auto whole = written(application);
  ASSERT_FALSE(whole.empty());
  for (std::size_t k = 0; k < whole.size(); ++k) {
    LimitedBuf buffer(k);
    std::ostream sink(&buffer);
    EventRecorder recorder;
    const auto result = application.write(sink);
    ASSERT_FALSE(result.has_value()) << "k = " << k;
    EXPECT_EQ(result.error().kind(), PackageError::Kind::Capnp) << "k = " << k;
    EXPECT_EQ(recorder.events(),
              std::vector<std::string>{"INFO dova_package: writing application package {tiles=1}"})
        << "k = " << k;
    ASSERT_EQ(buffer.accepted().size(), k);
    EXPECT_TRUE(
        std::equal(buffer.accepted().begin(), buffer.accepted().end(), whole.begin(),
                   [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; }))
        << "k = " << k;
  }
  // Nothing is left behind: the library writes as before.
  EXPECT_EQ(written(application), whole);
  LimitedBuf roomy(whole.size());
  std::ostream sink(&roomy);
  EXPECT_TRUE(application.write(sink).has_value());
  EXPECT_EQ(fixtures::bytes_of(roomy.accepted()), whole);
}

TEST(PackageWriter, ThrowingOrFailedStreamIsACapnpError) {
  const Application application = reference::sample();
  {
    // A stream set to throw on failure: the exception does not escape.
    LimitedBuf buffer(10);
    std::ostream sink(&buffer);
    sink.exceptions(std::ios::badbit | std::ios::failbit);
    const auto result = application.write(sink);
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error().kind(), PackageError::Kind::Capnp);
  }
  {
    // A stream already failed before the call.
    std::ostringstream sink;
    sink.setstate(std::ios::failbit);
    const auto result = application.write(sink);
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error().kind(), PackageError::Kind::Capnp);
  }
}

TEST(PackageWriter, ObjectsAreAllocatedInTheFixedOrder) {
  const auto bytes = written(fixtures::full_application());
  ASSERT_EQ(bytes[0], 0u) << "expected a single-segment package";
  inspect_package(bytes, [](app::Application::Reader root) {
    fixtures::AllocationOrder order;
    order.structure("root", root);
    order.text("compiler_version", root.getCompilerVersion());
    order.text("target", root.getTarget());
    order.structs("tiles", root.getTiles());
    for (capnp::uint t = 0; t < root.getTiles().size(); ++t) {
      const auto tile = root.getTiles()[t];
      const std::string label = "tiles[" + std::to_string(t) + "]";
      order.structs(label + ".segments", tile.getSegments());
      for (capnp::uint s = 0; s < tile.getSegments().size(); ++s) {
        order.data(label + ".segments[" + std::to_string(s) + "].data",
                   tile.getSegments()[s].getData());
      }
    }
    const std::pair<const char*, capnp::List<app::Binding>::Reader> binding_lists[] = {
        {"inputs", root.getInputs()},
        {"outputs", root.getOutputs()},
        {"weights", root.getWeights()}};
    for (const auto& [name, list] : binding_lists) {
      order.structs(name, list);
      for (capnp::uint b = 0; b < list.size(); ++b) {
        const std::string label = std::string(name) + "[" + std::to_string(b) + "]";
        order.text(label + ".name", list[b].getName());
        order.text(label + ".dtype", list[b].getDtype());
        order.numbers(label + ".shape", list[b].getShape());
        order.structs(label + ".slices", list[b].getSlices());
      }
    }
    const auto exchange = root.getHostExchange();
    order.structure("host_exchange", exchange);
    order.structs("host_exchange.pages", exchange.getPages());
    order.numbers("host_exchange.attach_order", exchange.getAttachOrder());
    order.structs("host_exchange.calls", exchange.getCalls());
    for (capnp::uint c = 0; c < exchange.getCalls().size(); ++c) {
      const auto call = exchange.getCalls()[c];
      const std::string label = "calls[" + std::to_string(c) + "]";
      order.text(label + ".name", call.getName());
      order.numbers(label + ".input_batch_ends", call.getInputBatchEnds());
      order.numbers(label + ".output_batch_ends", call.getOutputBatchEnds());
      order.structs(label + ".inputs", call.getInputs());
      order.structs(label + ".outputs", call.getOutputs());
    }
    order.structs("entry_points", root.getEntryPoints());
    for (capnp::uint e = 0; e < root.getEntryPoints().size(); ++e) {
      order.text("entry_points[" + std::to_string(e) + "].name",
                 root.getEntryPoints()[e].getName());
    }
    order.structs("device_config_writes", root.getDeviceConfigWrites());
    order.structs("profile_tiles", root.getProfileTiles());
    for (capnp::uint p = 0; p < root.getProfileTiles().size(); ++p) {
      const auto steps = root.getProfileTiles()[p].getSteps();
      const std::string label = "profile_tiles[" + std::to_string(p) + "]";
      order.structs(label + ".steps", steps);
      for (capnp::uint s = 0; s < steps.size(); ++s) {
        order.step(label + ".steps[" + std::to_string(s) + "]", steps[s]);
      }
    }
    order.structs("debug_symbols", root.getDebugSymbols());
    for (capnp::uint d = 0; d < root.getDebugSymbols().size(); ++d) {
      order.text("debug_symbols[" + std::to_string(d) + "].name",
                 root.getDebugSymbols()[d].getName());
    }
    order.structs("debug_regions", root.getDebugRegions());
    for (capnp::uint d = 0; d < root.getDebugRegions().size(); ++d) {
      order.text("debug_regions[" + std::to_string(d) + "].name",
                 root.getDebugRegions()[d].getName());
    }
    order.expect_rising();
  });
}

TEST(PackageWriter, MultiSegmentFramingMatchesTheMessageLayer) {
  // Packages larger than the first segment: the framing written to a byte vector is the same as
  // the message layer's own, segment table padding included, for odd and even segment counts.
  std::set<std::uint32_t> counts;
  for (const std::size_t segments : {1u, 2u, 3u, 4u, 5u}) {
    Application application;
    for (std::uint32_t t = 0; t < segments; ++t) {
      TileImage tile;
      tile.physical_tile = t;
      tile.segments = {Segment{.address = TILE_MEMORY_BASE,
                               .memory_size = 0x10000,
                               .data = std::vector<std::uint8_t>(9000 + 8000 * t, 0x5A),
                               .flags = 0}};
      application.tiles.push_back(tile);
    }
    const auto bytes = written(application);
    std::ostringstream stream;
    ASSERT_TRUE(application.write(stream).has_value());
    EXPECT_EQ(fixtures::bytes_of(stream.str()), bytes) << segments;
    std::uint32_t count;
    std::memcpy(&count, bytes.data(), sizeof count);
    counts.insert(count + 1);
    const auto read = Application::read(bytes);
    ASSERT_TRUE(read.has_value()) << read.error();
    EXPECT_EQ(*read, application);
  }
  EXPECT_TRUE(
      std::any_of(counts.begin(), counts.end(), [](auto c) { return c > 1 && c % 2 == 0; }));
  EXPECT_TRUE(
      std::any_of(counts.begin(), counts.end(), [](auto c) { return c > 1 && c % 2 == 1; }));
}

}  // namespace
}  // namespace dova::package
