#include <fmt/format.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "dova/package.hpp"

namespace dova::package {
namespace {

using Bytes = std::vector<std::uint8_t>;

// An image of `size` zero bytes with the given parts written at their offsets.
Bytes image_of(std::size_t size, const std::vector<std::pair<std::size_t, Bytes>>& parts) {
  Bytes image(size, 0);
  for (const auto& [offset, bytes] : parts) std::ranges::copy(bytes, image.begin() + offset);
  return image;
}

// An event as one line, fields in order; texts quoted so that their type shows.
std::string describe(const LogEvent& event) {
  std::string line = fmt::format("{} {} {}", to_string(event.level), event.target, event.message);
  for (const LogField& field : event.fields) {
    if (const auto* number = std::get_if<std::uint64_t>(&field.value)) {
      line += fmt::format(" {}={}", field.name, *number);
    } else {
      line += fmt::format(" {}=\"{}\"", field.name, std::get<std::string_view>(field.value));
    }
  }
  return line;
}

std::string trace_line(std::uint32_t tile, const std::string& load_base, std::size_t bytes) {
  return "TRACE dova_package reconstructing tile image physical_tile=" + std::to_string(tile) +
         " load_base=\"" + load_base + "\" image_bytes=" + std::to_string(bytes);
}

// Records every event emitted during a test and puts back the previous subscriber afterwards.
class TileImageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ =
        set_log_subscriber([this](const LogEvent& event) { events_.push_back(describe(event)); });
  }
  void TearDown() override { set_log_subscriber(std::move(previous_)); }

  std::vector<std::string> events_;

 private:
  LogSubscriber previous_;
};

struct ImageCase {
  std::string name;
  std::vector<Segment> segments;
  Bytes expected;
  std::string load_base;
};

TEST_F(TileImageTest, BuildsImageAndReportsIt) {
  const std::vector<ImageCase> cases = {
      {"data then zero fill", {{0x4c000, 8, {1, 2, 3, 4}, 5}}, {1, 2, 3, 4, 0, 0, 0, 0}, "0x4c000"},
      {"higher segment listed first",
       {{0x4c100, 4, {0xaa, 0xbb}, 0}, {0x4c000, 2, {0x11, 0x22}, 0}},
       image_of(0x104, {{0, {0x11, 0x22}}, {0x100, {0xaa, 0xbb}}}),
       "0x4c000"},
      {"lower segment listed first",
       {{0x4c000, 2, {0x11, 0x22}, 0}, {0x4c100, 4, {0xaa, 0xbb}, 0}},
       image_of(0x104, {{0, {0x11, 0x22}}, {0x100, {0xaa, 0xbb}}}),
       "0x4c000"},
      {"empty segment sets the base",
       {{0x4c010, 4, {1, 2, 3, 4}, 0}, {0x4c000, 0, {}, 0}},
       image_of(20, {{16, {1, 2, 3, 4}}}),
       "0x4c000"},
      {"only an empty segment", {{0x4c000, 0, {}, 0}}, {}, "0x4c000"},
      // The later segment's data wins; its zero tail does not erase earlier data.
      {"later data wins on overlap",
       {{0x4c000, 4, {1, 2, 3, 4}, 0}, {0x4c002, 4, {9}, 0}},
       {1, 2, 9, 4, 0, 0},
       "0x4c000"},
      // Not validated: outside the tile window, up to the last 32-bit address.
      {"segment ending at the top of the address space",
       {{0xfffffff0, 15, {7}, 0}},
       image_of(15, {{0, {7}}}),
       "0xfffffff0"},
  };
  for (const ImageCase& c : cases) {
    SCOPED_TRACE(c.name);
    events_.clear();
    Application app;
    app.tiles = {{1, 0, 0, 0, {{0x50000, 4, {0xff}, 0}}}, {6, 0, 0, 0, c.segments}};
    const auto image = app.tile_image(6);
    ASSERT_TRUE(image.has_value()) << image.error();
    EXPECT_EQ(*image, c.expected);
    EXPECT_EQ(events_, std::vector{trace_line(6, c.load_base, c.expected.size())});
  }
}

TEST_F(TileImageTest, UsesFirstTileWithTheId) {
  Application app;
  app.tiles = {{4, 0, 0, 0, {{0x4c000, 2, {1, 2}, 0}}}, {4, 0, 0, 0, {{0x4c000, 3, {3}, 0}}}};
  const auto image = app.tile_image(4);
  ASSERT_TRUE(image.has_value()) << image.error();
  EXPECT_EQ(*image, (Bytes{1, 2}));
}

struct FailureCase {
  std::string name;
  std::vector<TileImage> tiles;
  std::uint32_t requested;
  std::string message;
};

TEST_F(TileImageTest, RefusesWithoutImageOrEvent) {
  const TileImage tile0{0, 0, 0, 0, {{0x4c000, 4, {1}, 0}}};
  const std::vector<FailureCase> cases = {
      {"unknown tile", {tile0}, 7, "unknown tile 7"},
      {"application without tiles", {}, 0, "unknown tile 0"},
      {"tile without segments", {tile0, {3, 0, 0, 0, {}}}, 3, "tile has no loadable segments"},
      {"data longer than memory size",
       {{3, 0, 0, 0, {{0x4c000, 8, {}, 0}, {0x4c010, 2, {1, 2, 3}, 0}}}},
       3,
       "invalid segment on tile 3: address=0x4c010 memory_size=2 data_size=3"},
      {"data in an empty segment",
       {{3, 0, 0, 0, {{0x4c000, 0, {1}, 0}}}},
       3,
       "invalid segment on tile 3: address=0x4c000 memory_size=0 data_size=1"},
      {"end past 32 bits",
       {{3, 0, 0, 0, {{0x4c000, 4, {}, 0}, {0xfffffff0, 16, {}, 0}}}},
       3,
       "invalid segment on tile 3: address=0xfffffff0 memory_size=16 data_size=0"},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    events_.clear();
    Application app;
    app.tiles = c.tiles;
    const auto image = app.tile_image(c.requested);
    ASSERT_FALSE(image.has_value());
    EXPECT_EQ(image.error(), PackageError::invalid(c.message));
    EXPECT_TRUE(events_.empty());
  }
}

}  // namespace
}  // namespace dova::package
