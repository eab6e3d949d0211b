// The package writer builds its message in an arena that does not clear memory. These tests fill
// that arena's fresh segments with a pattern and require exactly the bytes that the growable heap
// arena (which clears everything) gives, so that no byte of a package depends on what the memory
// held before, and check that both arenas size their segments alike.

#include <gtest/gtest.h>

#include <capnp/message.h>

#include <cstdint>
#include <string>
#include <vector>

#include "capnp_convert.hpp"
#include "dova/package.hpp"
#include "package_arena.hpp"
#include "uncleared_write.hpp"

namespace dova::package {
namespace {

std::vector<std::uint8_t> pattern(std::size_t size, std::uint8_t seed) {
  std::vector<std::uint8_t> bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(seed + i * 7);
  return bytes;
}

ProfileStep step(std::uint32_t index, std::string operation) {
  return {.local_index = index,
          .phase = 1,
          .epoch = 2,
          .operation = std::move(operation),
          .kind = ProfileStepKind::Exchange,
          .kernel = "",
          .metadata = {{"k", "value with nine"}, {"", ""}},
          .exchange_activities = {{ExchangeActivityKind::Receive, 3, 4}},
          .exchange_event_cycles = 5};
}

// Every list filled; texts, byte data and number lists of lengths that leave padding in their
// last word, and empty ones.
Application every_field(std::size_t segment_bytes, std::size_t tiles) {
  Application app;
  app.compiler_version = "compiler 7";
  for (std::uint32_t t = 0; t < tiles; ++t) {
    app.tiles.push_back({.physical_tile = t,
                         .entry_point = 1,
                         .command_address = 2,
                         .diagnostic_address = 3,
                         .segments = {{TILE_MEMORY_BASE, 64, pattern(13, 1), 1},
                                      {TILE_MEMORY_BASE + 64, 0, {}, 2},
                                      {TILE_MEMORY_BASE + 128,
                                       static_cast<std::uint32_t>(segment_bytes),
                                       pattern(segment_bytes, static_cast<std::uint8_t>(t)), 3}}});
  }
  app.inputs = {{"in", "f16", {1, 2, 3}, {{0, TILE_MEMORY_BASE, 0, 16}}}};
  app.outputs = {{std::string(PROFILE_BINDING_NAME), "u32", {}, {{0, TILE_MEMORY_BASE, 0, 12}}},
                 {"out.long.name.beyond.sixteen", "", {4, 5}, {}}};
  app.weights = {{"w", "int8", {7}, {{0, TILE_MEMORY_BASE, 8, 8}, {1, TILE_MEMORY_BASE, 0, 8}}}};
  app.host_exchange = {.startup_mark = 9,
                       .command_page = 1,
                       .command_offset = 8,
                       .pages = {{1, 4096}, {2, 4096}},
                       .attach_order = {2, 1, 2},
                       .calls = {{.name = "call",
                                  .command = 3,
                                  .phases = 2,
                                  .inputs = {{1, 0, 0, 16}, {2, 16, 16, 16}},
                                  .outputs = {{2, 64, 0, 8}},
                                  .invocations = 2,
                                  .input_batch_ends = {1, 2},
                                  .output_batch_ends = {1}},
                                 {.name = "", .invocations = 1}}};
  app.entry_points = {{"main", 1, 2}, {"", 0, 0}};
  app.device_config_writes = {{0, 1}, {4, 2}, {8, 3}};
  app.profile_tiles = {{0, {step(0, "op"), step(1, "a longer operation name")}}, {1, {}}};
  app.debug_symbols = {{"symbol", 5}};
  app.debug_regions = {{0, TILE_MEMORY_BASE, 16, "region"}, {NO_SINGLE_TILE, 0, 4, "r"}};
  return app;
}

std::vector<std::uint8_t> message_bytes(capnp::MessageBuilder& message) {
  std::vector<std::uint8_t> bytes;
  for (const auto& segment : message.getSegmentsForOutput()) {
    const auto* begin = reinterpret_cast<const std::uint8_t*>(segment.begin());
    bytes.insert(bytes.end(), begin, begin + segment.size() * sizeof(capnp::word));
    bytes.push_back(0xEE);  // segment boundary
  }
  return bytes;
}

std::vector<std::uint8_t> built_in_heap_arena(const Application& app) {
  capnp::MallocMessageBuilder message(1024, capnp::AllocationStrategy::GROW_HEURISTICALLY);
  write_application(message.initRoot<app::Application>(), app);
  return message_bytes(message);
}

std::vector<std::uint8_t> built_in_package_arena(const Application& app, std::uint8_t fill) {
  PackageArena message(fill);
  write_application(cleared(message.initRoot<app::Application>()), app);
  return message_bytes(message);
}

TEST(PackageArena, BytesDoNotDependOnFreshMemory) {
  struct Case {
    const char* name;
    std::size_t segment_bytes;
    std::size_t tiles;
  };
  // Small: one segment. Large: data blobs spill into new segments, with landing pads.
  for (const Case& c : {Case{"one segment", 5, 2}, Case{"many segments", 20'003, 40},
                        Case{"blob larger than the growth size", 300'001, 3}}) {
    SCOPED_TRACE(c.name);
    const Application app = every_field(c.segment_bytes, c.tiles);
    const auto expected = built_in_heap_arena(app);
    EXPECT_EQ(built_in_package_arena(app, 0xA5), expected);
    EXPECT_EQ(built_in_package_arena(app, 0xFF), expected);
  }
}

TEST(PackageArena, WriteGivesTheHeapArenaBytes) {
  const Application app = every_field(70'001, 16);
  ASSERT_TRUE(app.validate()) << app.validate().error();
  std::vector<std::uint8_t> written;
  ASSERT_TRUE(app.write(written));

  capnp::MallocMessageBuilder message(1024, capnp::AllocationStrategy::GROW_HEURISTICALLY);
  write_application(message.initRoot<app::Application>(), app);
  std::vector<std::uint8_t> expected;
  ASSERT_TRUE(write_message(message, expected));
  EXPECT_EQ(written, expected);
}

TEST(PackageArena, SegmentsSizedAsTheHeapArena) {
  capnp::MallocMessageBuilder heap(1024, capnp::AllocationStrategy::GROW_HEURISTICALLY);
  PackageArena arena;
  for (const capnp::uint minimum : {1u, 1u, 5000u, 1u, 100'000u, 7u, 1u, 3'000'000u, 1u}) {
    SCOPED_TRACE(minimum);
    EXPECT_EQ(arena.allocateSegment(minimum).size(), heap.allocateSegment(minimum).size());
  }
}

}  // namespace
}  // namespace dova::package
