#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "dova/package.hpp"

namespace dova::package {
namespace {

constexpr std::uint32_t kBase = TILE_MEMORY_BASE;
constexpr std::uint32_t kEnd = TILE_MEMORY_END;
constexpr std::uint32_t kMax32 = std::numeric_limits<std::uint32_t>::max();
constexpr std::uint64_t kMax64 = std::numeric_limits<std::uint64_t>::max();

// Tile 0 with one 8-byte segment at the window's base, half of it initialised.
Application base_application() {
  Application app;
  app.tiles.push_back(TileImage{0, 0, 0, 0, {Segment{kBase, 8, {1, 2, 3, 4}, 0}}});
  return app;
}

Segment& first_segment(Application& app) { return app.tiles[0].segments[0]; }

void add_segment(Application& app, std::uint32_t address, std::uint32_t memory_size,
                 std::vector<std::uint8_t> data = {}) {
  app.tiles[0].segments.push_back(Segment{address, memory_size, std::move(data), 0});
}

Binding binding(std::string name, std::vector<RegionSlice> slices = {}) {
  return Binding{std::move(name), "u8", {}, std::move(slices)};
}

RegionSlice region_slice(std::uint32_t tile, std::uint32_t address, std::uint64_t size) {
  return RegionSlice{tile, address, 0, size};
}

ProfileStep step(std::uint32_t local_index) {
  ProfileStep result;
  result.local_index = local_index;
  return result;
}

// Page 1 of 64 bytes holding the command word at 0, and a call "c" with one 16-byte input slice
// at the page's start in a single batch.
HostCall& add_call(Application& app) {
  HostExchange& host = app.host_exchange;
  host.pages.push_back(HostPage{1, 64});
  host.command_page = 1;
  host.command_offset = 0;
  host.calls.push_back(HostCall{"c", 0, 0, {HostSlice{1, 0, 0, 16}}, {}, 1, {1}, {}});
  return host.calls.back();
}

struct ValidateCase {
  const char* name;
  void (*mutate)(Application&);
  std::string_view expected;  // empty: the application is valid
};

const ValidateCase kValidateCases[] = {
    {"base_application", [](Application&) {}, ""},

    // No tiles.
    {"no_tiles_wins_over_later_rules",
     [](Application& a) {
       a.tiles.clear();
       a.device_config_writes = {{2, 0}};
       a.debug_symbols = {{"", 0}};
     },
     "application has no tiles"},

    // Device configuration writes.
    {"config_duplicate_offset_with_other_value",
     [](Application& a) {
       a.device_config_writes = {{4, 1}, {4, 2}};
     },
     "unaligned or duplicate device configuration write"},
    {"config_unaligned_offset",
     [](Application& a) {
       a.device_config_writes = {{2, 0}};
     },
     "unaligned or duplicate device configuration write"},
    {"config_distinct_aligned_offsets",
     [](Application& a) {
       a.device_config_writes = {{0, 1}, {4, 2}};
     },
     ""},
    {"config_checked_before_tiles",
     [](Application& a) {
       a.device_config_writes = {{2, 0}};
       first_segment(a).address = 0;
     },
     "unaligned or duplicate device configuration write"},

    // Tiles and segments.
    {"duplicate_tile",
     [](Application& a) {
       a.tiles[0].physical_tile = 3;
       a.tiles.push_back(a.tiles[0]);
     },
     "duplicate physical tile 3"},
    {"first_tile_examined_before_second_tile_duplicate",
     [](Application& a) {
       a.tiles[0].physical_tile = 3;
       first_segment(a).address = kBase - 4;
       a.tiles.push_back(TileImage{3, 0, 0, 0, {}});
     },
     "invalid segment on tile 3: address=0x4bffc end=0x4c004 memory_size=8 data_size=4"},
    {"segment_below_window", [](Application& a) { first_segment(a).address = kBase - 4; },
     "invalid segment on tile 0: address=0x4bffc end=0x4c004 memory_size=8 data_size=4"},
    {"segment_ending_at_window_end", [](Application& a) { first_segment(a).address = kEnd - 8; },
     ""},
    {"segment_ending_past_window_end",
     [](Application& a) {
       first_segment(a).address = kEnd - 8;
       first_segment(a).memory_size = 9;
     },
     "invalid segment on tile 0: address=0xe7ff8 end=0xe8001 memory_size=9 data_size=4"},
    {"segment_data_longer_than_memory", [](Application& a) { first_segment(a).memory_size = 3; },
     "invalid segment on tile 0: address=0x4c000 end=0x4c003 memory_size=3 data_size=4"},
    {"segment_end_overflows",
     [](Application& a) {
       first_segment(a).address = 0xffffff00;
       first_segment(a).memory_size = 0x100;
     },
     "segment address overflow"},
    {"segment_end_at_largest_address_does_not_overflow",
     [](Application& a) {
       first_segment(a) = Segment{0xfffffff0, 0xf, {}, 0};
     },
     "invalid segment on tile 0: address=0xfffffff0 end=0xffffffff memory_size=15 data_size=0"},
    {"segment_message_names_its_tile_in_decimal",
     [](Application& a) {
       a.tiles.push_back(TileImage{17, 0, 0, 0, {Segment{kEnd, 1, {}, 0}}});
     },
     "invalid segment on tile 17: address=0xe8000 end=0xe8001 memory_size=1 data_size=0"},
    {"empty_segment_with_data", [](Application& a) { first_segment(a).memory_size = 0; },
     "invalid segment on tile 0: address=0x4c000 end=0x4c000 memory_size=0 data_size=4"},
    {"empty_segment_at_window_end", [](Application& a) { add_segment(a, kEnd, 0); }, ""},
    {"empty_segment_inside_another", [](Application& a) { add_segment(a, kBase + 4, 0); }, ""},
    {"empty_segment_below_window", [](Application& a) { add_segment(a, kBase - 1, 0); },
     "invalid segment on tile 0: address=0x4bfff end=0x4bfff memory_size=0 data_size=0"},

    // Overlapping segments.
    {"same_segment_twice",
     [](Application& a) {
       add_segment(a, kBase, 8, {1, 2, 3, 4});
     },
     "overlapping segments on tile 0: 0x4c000..0x4c008 and 0x4c000..0x4c008"},
    {"touching_segments", [](Application& a) { add_segment(a, kBase + 8, 8); }, ""},
    {"overlap_reported_in_sorted_order",
     [](Application& a) {
       add_segment(a, kBase + 0x100, 16);
       add_segment(a, kBase + 0xf8, 16);
     },
     "overlapping segments on tile 0: 0x4c0f8..0x4c108 and 0x4c100..0x4c110"},
    {"equal_starts_sorted_by_end", [](Application& a) { add_segment(a, kBase, 4); },
     "overlapping segments on tile 0: 0x4c000..0x4c004 and 0x4c000..0x4c008"},
    {"every_segment_checked_before_overlaps",
     [](Application& a) {
       add_segment(a, kBase, 8);
       add_segment(a, kEnd, 1);
     },
     "invalid segment on tile 0: address=0xe8000 end=0xe8001 memory_size=1 data_size=0"},

    // Profile plans.
    {"profile_plan_for_missing_tile",
     [](Application& a) {
       a.profile_tiles = {{5, {}}};
     },
     "invalid tile profile plan"},
    {"two_profile_plans_for_one_tile",
     [](Application& a) {
       a.profile_tiles = {{0, {}}, {0, {}}};
     },
     "invalid tile profile plan"},
    {"profile_step_out_of_place",
     [](Application& a) {
       a.profile_tiles = {{0, {step(0), step(2)}}};
     },
     "invalid tile profile plan"},
    {"profile_plan_without_steps",
     [](Application& a) {
       a.profile_tiles = {{0, {}}};
     },
     ""},
    {"profile_steps_in_place",
     [](Application& a) {
       a.profile_tiles = {{0, {step(0), step(1)}}};
     },
     ""},
    {"profile_plans_checked_before_debug_map",
     [](Application& a) {
       a.profile_tiles = {{5, {}}};
       a.debug_symbols = {{"", 0}};
     },
     "invalid tile profile plan"},

    // Debug map. Symbols and regions share one message.
    {"debug_region_bound_to_no_single_tile",
     [](Application& a) {
       a.debug_regions = {{NO_SINGLE_TILE, 0, 4, "r"}};
     },
     ""},
    {"debug_region_bound_to_no_single_tile_of_size_zero",
     [](Application& a) {
       a.debug_regions = {{NO_SINGLE_TILE, 0, 0, "r"}};
     },
     "invalid package debug map"},
    {"debug_region_outside_tile_window",
     [](Application& a) {
       a.debug_regions = {{0, 0x100, 4, "r"}};
     },
     ""},
    {"debug_region_on_missing_tile",
     [](Application& a) {
       a.debug_regions = {{5, 0, 4, "r"}};
     },
     "invalid package debug map"},
    {"debug_region_without_name",
     [](Application& a) {
       a.debug_regions = {{0, 0, 4, ""}};
     },
     "invalid package debug map"},
    {"debug_region_end_overflows",
     [](Application& a) {
       a.debug_regions = {{0, 0xfffffff0, 0x10, "r"}};
     },
     "invalid package debug map"},
    {"debug_region_end_at_largest_address",
     [](Application& a) {
       a.debug_regions = {{0, 0xffffffef, 0x10, "r"}};
     },
     ""},
    {"debug_symbol_without_name",
     [](Application& a) {
       a.debug_symbols = {{"a", 0}, {"", 0}};
     },
     "invalid package debug map"},
    {"debug_map_checked_before_bindings",
     [](Application& a) {
       a.debug_symbols = {{"", 0}};
       a.inputs = {binding("")};
     },
     "invalid package debug map"},

    // Bindings.
    {"input_and_weight_share_a_name",
     [](Application& a) {
       a.inputs = {binding("x")};
       a.weights = {binding("x")};
     },
     "empty or duplicate binding x"},
    {"binding_without_name", [](Application& a) { a.outputs = {binding("")}; },
     "empty or duplicate binding "},
    {"binding_slice_too_large",
     [](Application& a) { a.inputs = {binding("x", {region_slice(0, kBase, 1ull << 32)})}; },
     "binding x slice is too large"},
    {"binding_slice_of_largest_32bit_size",
     [](Application& a) { a.inputs = {binding("x", {region_slice(0, 0, kMax32)})}; },
     "binding x references invalid tile memory"},
    {"binding_slice_end_overflows",
     [](Application& a) { a.inputs = {binding("x", {region_slice(0, 0xfffffff0, 0x10)})}; },
     "binding address overflow"},
    {"binding_slice_ending_at_window_end",
     [](Application& a) { a.inputs = {binding("x", {region_slice(0, kEnd - 16, 16)})}; }, ""},
    {"binding_slice_ending_past_window_end",
     [](Application& a) { a.inputs = {binding("x", {region_slice(0, kEnd - 16, 17)})}; },
     "binding x references invalid tile memory"},
    {"binding_slice_below_window",
     [](Application& a) { a.inputs = {binding("x", {region_slice(0, kBase - 1, 1)})}; },
     "binding x references invalid tile memory"},
    {"binding_slice_on_missing_tile",
     [](Application& a) { a.inputs = {binding("x", {region_slice(9, kBase, 16)})}; },
     "binding x references invalid tile memory"},
    {"empty_binding_slice_at_window_end",
     [](Application& a) { a.inputs = {binding("x", {region_slice(0, kEnd, 0)})}; }, ""},
    {"empty_binding_slice_on_missing_tile",
     [](Application& a) { a.inputs = {binding("x", {region_slice(9, kEnd, 0)})}; },
     "binding x references invalid tile memory"},
    {"input_reported_before_later_output",
     [](Application& a) {
       a.inputs = {binding("in", {region_slice(9, kBase, 4)})};
       a.outputs = {binding("")};
     },
     "binding in references invalid tile memory"},
    {"binding_name_checked_before_its_slices",
     [](Application& a) {
       a.outputs = {binding("x")};
       a.weights = {binding("x", {region_slice(9, kBase, 4)})};
     },
     "empty or duplicate binding x"},
    {"bindings_checked_before_host_pages",
     [](Application& a) {
       a.inputs = {binding("")};
       a.host_exchange.attach_order = {1};
     },
     "empty or duplicate binding "},

    // Host page table.
    {"duplicate_host_page",
     [](Application& a) {
       a.host_exchange.pages = {{1, 64}, {1, 64}};
     },
     "invalid host page table"},
    {"attach_order_names_missing_page",
     [](Application& a) {
       a.host_exchange.pages = {{1, 64}};
       a.host_exchange.attach_order = {1, 2};
     },
     "invalid host page table"},
    {"attach_order_repeats_and_skips_pages",
     [](Application& a) {
       a.host_exchange.pages = {{1, 64}, {2, 64}};
       a.host_exchange.attach_order = {1, 1};
     },
     ""},
    {"page_table_checked_before_startup",
     [](Application& a) {
       add_call(a);
       a.host_exchange.attach_order = {2};
       a.host_exchange.command_page = 2;
     },
     "invalid host page table"},

    // Host startup protocol.
    {"command_page_ignored_without_calls", [](Application& a) { a.host_exchange.command_page = 7; },
     ""},
    {"command_page_missing",
     [](Application& a) {
       add_call(a);
       a.host_exchange.command_page = 7;
     },
     "invalid host startup protocol"},
    {"command_word_ending_at_page_end",
     [](Application& a) {
       add_call(a);
       a.host_exchange.command_offset = 60;
     },
     ""},
    {"command_word_ending_past_page_end",
     [](Application& a) {
       add_call(a);
       a.host_exchange.command_offset = 61;
     },
     "invalid host startup protocol"},
    {"command_word_end_overflows",
     [](Application& a) {
       add_call(a);
       a.host_exchange.pages[0].size = kMax64;
       a.host_exchange.command_offset = kMax64 - 3;
     },
     "invalid host startup protocol"},
    {"command_word_ending_at_largest_offset",
     [](Application& a) {
       add_call(a);
       a.host_exchange.pages[0].size = kMax64;
       a.host_exchange.command_offset = kMax64 - 4;
     },
     ""},
    {"startup_checked_before_calls",
     [](Application& a) {
       add_call(a).invocations = 0;
       a.host_exchange.command_page = 7;
     },
     "invalid host startup protocol"},

    // Host calls.
    {"call_without_invocations", [](Application& a) { add_call(a).invocations = 0; },
     "host call c has no invocations"},
    {"invocations_checked_before_boundaries",
     [](Application& a) {
       HostCall& call = add_call(a);
       call.invocations = 0;
       call.input_batch_ends = {};
     },
     "host call c has no invocations"},
    {"call_name_inserted_unchanged",
     [](Application& a) {
       HostCall& call = add_call(a);
       call.name = "";
       call.invocations = 0;
     },
     "host call  has no invocations"},
    {"input_boundaries_checked_before_output",
     [](Application& a) {
       HostCall& call = add_call(a);
       call.input_batch_ends = {2};
       call.outputs = {HostSlice{1, 16, 0, 16}};
     },
     "host call c has invalid input batch boundary 2"},
    {"output_batches_short_of_slices",
     [](Application& a) {
       add_call(a).outputs = {HostSlice{1, 16, 0, 16}};
     },
     "host call c output batches cover 0 of 1 slices"},
    {"boundaries_checked_before_slices",
     [](Application& a) {
       HostCall& call = add_call(a);
       call.inputs[0].page = 2;
       call.input_batch_ends = {};
     },
     "host call c input batches cover 0 of 1 slices"},
    {"host_slice_on_missing_page", [](Application& a) { add_call(a).inputs[0].page = 2; },
     "host call c references missing page"},
    {"host_slice_ending_at_page_end",
     [](Application& a) { add_call(a).inputs[0].page_offset = 48; }, ""},
    {"host_slice_ending_past_page_end",
     [](Application& a) { add_call(a).inputs[0].page_offset = 49; },
     "host call c exceeds page bounds"},
    {"host_slice_end_overflows",
     [](Application& a) {
       HostCall& call = add_call(a);
       a.host_exchange.pages[0].size = kMax64;
       call.inputs[0] = HostSlice{1, kMax64, 0, 1};
     },
     "host call c exceeds page bounds"},
    {"input_slices_checked_before_output_slices",
     [](Application& a) {
       HostCall& call = add_call(a);
       call.inputs[0].page_offset = 49;
       call.outputs = {HostSlice{2, 0, 0, 16}};
       call.output_batch_ends = {1};
     },
     "host call c exceeds page bounds"},
    {"earlier_call_reported_first",
     [](Application& a) {
       add_call(a).inputs[0].page = 2;
       a.host_exchange.calls.push_back(HostCall{"d", 0, 0, {}, {}, 0, {}, {}});
     },
     "host call c references missing page"},
    {"call_names_may_repeat_or_be_empty",
     [](Application& a) {
       const HostCall call = add_call(a);
       a.host_exchange.calls.push_back(call);
       a.host_exchange.calls.push_back(call);
       a.host_exchange.calls.back().name = "";
     },
     ""},
};

// Names the case instead of dumping its bytes in test listings.
void PrintTo(const ValidateCase& c, std::ostream* out) { *out << c.name; }

class ValidateTable : public testing::TestWithParam<ValidateCase> {};

TEST_P(ValidateTable, ReportsFirstFailingRule) {
  Application app = base_application();
  GetParam().mutate(app);
  const Result<void> result = app.validate();
  if (GetParam().expected.empty()) {
    EXPECT_TRUE(result.has_value()) << result.error();
  } else {
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error(), PackageError::invalid(std::string(GetParam().expected)));
  }
}

INSTANTIATE_TEST_SUITE_P(Rules, ValidateTable, testing::ValuesIn(kValidateCases),
                         [](const testing::TestParamInfo<ValidateCase>& info) {
                           return std::string(info.param.name);
                         });

TEST(ValidateHostBatchEnds, BoundariesRiseStrictlyAndCoverEverySlice) {
  struct Case {
    std::vector<std::uint32_t> ends;
    std::size_t slice_count;
    std::string_view expected;
  };
  const Case cases[] = {
      {{}, 0, ""},
      {{}, 1, "host call c input batches cover 0 of 1 slices"},
      {{2, 2}, 3, "host call c has invalid input batch boundary 2"},
      {{1, 3}, 2, "host call c has invalid input batch boundary 3"},
      {{0}, 1, "host call c has invalid input batch boundary 0"},
      {{1}, 2, "host call c input batches cover 1 of 2 slices"},
      {{1, 2}, 2, ""},
      // A slice count past 32 bits is compared whole, not truncated to a boundary's width.
      {{kMax32},
       std::size_t{kMax32} + 1,
       "host call c input batches cover 4294967295 of 4294967296 slices"},
  };
  HostCall call;
  call.name = "c";
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << "ends " << testing::PrintToString(c.ends) << ", slices " << c.slice_count);
    const Result<void> result = validate_host_batch_ends(call, "input", c.ends, c.slice_count);
    if (c.expected.empty()) {
      EXPECT_TRUE(result.has_value()) << result.error();
    } else {
      ASSERT_FALSE(result.has_value());
      EXPECT_EQ(result.error(), PackageError::invalid(std::string(c.expected)));
    }
  }
}

TEST(BindingSize, LargestSliceEndSaturating) {
  struct Case {
    std::vector<RegionSlice> slices;
    std::uint64_t expected;
  };
  const Case cases[] = {
      {{}, 0},
      {{{0, 0, 0, 16}, {0, 0, 16, 16}}, 32},
      // Order does not matter, and tiles and tile addresses play no part.
      {{{5, kMax32, 16, 16}, {0, 0, 0, 8}}, 32},
      {{{0, 0, kMax64, 1}}, kMax64},
      {{{0, 0, kMax64 - 1, 1}, {0, 0, 0, 4}}, kMax64},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(binding_size(binding("b", c.slices)), c.expected) << testing::PrintToString(c.slices);
  }
}

}  // namespace
}  // namespace dova::package
