#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <utility>

#include "dova/package.hpp"

namespace dova::package {
namespace {

// Every list that the order tests swap holds two unequal elements.
Application two_of_everything() {
  Application app;
  app.tiles = {TileImage{0, 1, 2, 3, {Segment{0x4c000, 8, {1}, 0}, Segment{0x4c010, 8, {2}, 0}}},
               TileImage{1, 1, 2, 3, {}}};
  app.inputs = {
      Binding{"in", "u8", {2, 3}, {RegionSlice{0, 0x4c100, 0, 4}, RegionSlice{1, 0x4c100, 4, 4}}}};
  ProfileStep step;
  step.metadata = {{"a", "1"}, {"b", "2"}};
  app.profile_tiles = {TileProfilePlan{0, {step}}};
  app.host_exchange.pages = {{1, 64}, {2, 64}};
  app.host_exchange.attach_order = {1, 2};
  return app;
}

TEST(Records, DefaultApplicationHasNoTilesAndFailsValidation) {
  const Application app;
  EXPECT_EQ(app.compiler_version, "0.1.0");
  EXPECT_EQ(app.host_exchange, HostExchange{});
  const Result<void> result = app.validate();
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error(), PackageError::invalid("application has no tiles"));
}

TEST(Records, EqualityFollowsListOrder) {
  struct Case {
    const char* list;
    void (*swap_two)(Application&);
  };
  const Case cases[] = {
      {"tiles", [](Application& a) { std::swap(a.tiles[0], a.tiles[1]); }},
      {"segments",
       [](Application& a) { std::swap(a.tiles[0].segments[0], a.tiles[0].segments[1]); }},
      {"binding slices",
       [](Application& a) { std::swap(a.inputs[0].slices[0], a.inputs[0].slices[1]); }},
      {"binding shape",
       [](Application& a) { std::swap(a.inputs[0].shape[0], a.inputs[0].shape[1]); }},
      {"metadata pairs",
       [](Application& a) {
         auto& metadata = a.profile_tiles[0].steps[0].metadata;
         std::swap(metadata[0], metadata[1]);
       }},
      {"attach order",
       [](Application& a) {
         auto& order = a.host_exchange.attach_order;
         std::swap(order[0], order[1]);
       }},
  };
  const Application source = two_of_everything();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.list);
    Application swapped = source;
    c.swap_two(swapped);
    EXPECT_NE(swapped, source);
    c.swap_two(swapped);
    EXPECT_EQ(swapped, source);
  }
}

TEST(Records, UninterpretedFlagsTakePartInEquality) {
  const Segment segment{0x4c000, 8, {1, 2, 3, 4}, 0};
  Segment flagged = segment;
  flagged.flags = 1;
  EXPECT_NE(flagged, segment);

  Application app = two_of_everything();
  const Application source = app;
  app.tiles[0].segments[1].flags = 1;
  EXPECT_NE(app, source);
}

TEST(Records, CopiesShareNothing) {
  const Segment source{0x4c000, 8, {1, 2, 3, 4}, 0};
  Segment copy = source;
  EXPECT_EQ(copy, source);
  copy.data[0] = 9;
  EXPECT_EQ(source.data, (std::vector<std::uint8_t>{1, 2, 3, 4}));
  EXPECT_NE(copy, source);

  const Application app = two_of_everything();
  Application app_copy = app;
  app_copy.tiles[0].segments[0].data.push_back(7);
  app_copy.profile_tiles[0].steps[0].metadata[0].value = "changed";
  EXPECT_EQ(app.tiles[0].segments[0].data, (std::vector<std::uint8_t>{1}));
  EXPECT_EQ(app.profile_tiles[0].steps[0].metadata[0].value, "1");
}

TEST(Records, TileImageTextFormNamesFieldsInOrder) {
  const TileImage tile{3, 1, 2, 4, {Segment{0x4c000, 8, {1, 2, 3, 4}, 5}}};
  std::ostringstream out;
  out << tile;
  EXPECT_EQ(out.str(),
            "TileImage { physical_tile: 3, entry_point: 1, command_address: 2, "
            "diagnostic_address: 4, segments: [Segment { address: 311296, memory_size: 8, "
            "data: [1, 2, 3, 4], flags: 5 }] }");
}

}  // namespace
}  // namespace dova::package
