#include <gtest/gtest.h>

#include "json_form.hpp"
#include "profile_math.hpp"
#include "reference.hpp"
#include "report_views.hpp"
#include "xml_check.hpp"

namespace dovapkg {
namespace {

namespace dp = dova::package;
using dovapkg::testing::count_of;
using dovapkg::testing::xml_error;

dp::CycleSample sample(std::uint32_t index, dp::ProfileStepKind kind, std::uint32_t start,
                       std::uint32_t end, std::string operation = "op") {
  return dp::CycleSample{.step = dp::ProfileStep{.local_index = index,
                                                 .operation = std::move(operation),
                                                 .kind = kind,
                                                 .kernel = std::string(1, 'k')},
                         .start_cycle = start,
                         .end_cycle = end};
}

// Two tiles; tile 4's middle step wraps the counter.
dp::ProfileReport small_report(std::uint64_t clock_hz) {
  using K = dp::ProfileStepKind;
  return dp::ProfileReport{
      .clock_hz = clock_hz,
      .tiles = {dp::TileProfile{.physical_tile = 4,
                                .samples = {sample(0, K::Compute, 4294967000u, 4294967200u),
                                            sample(1, K::Exchange, 4294967200u, 300),
                                            sample(2, K::Compute, 300, 1300)}},
                dp::TileProfile{.physical_tile = 9,
                                .samples = {sample(0, K::Idle, 10, 60),
                                            sample(1, K::Synchronization, 60, 1060)}}}};
}

TEST(ProfileMath, StepLengthsAreModular) {
  EXPECT_EQ(step_cycles(sample(0, {}, 0xFFFFFFF5u, 7)), 18u);
  EXPECT_EQ(step_cycles(sample(0, {}, 5, 5)), 0u);
  EXPECT_EQ(step_cycles(sample(0, {}, 0, 0xFFFFFFFFu)), 0xFFFFFFFFu);
  // Every reference sample wraps: 18 cycles each, on a time line from 0.
  const dp::ProfileReport report = dp::reference::profile_report();
  const dp::TileProfile& tile = report.tiles[0];
  EXPECT_EQ(tile_timeline(tile), (std::vector<std::uint64_t>{0, 18, 36, 54, 72}));
  const TileTotals totals = tile_totals(tile);
  EXPECT_EQ(totals.cycles, 72u);
  EXPECT_EQ(totals.by_kind, (std::array<std::uint64_t, 4>{18, 18, 18, 18}));
}

TEST(ProfileMath, TileTotalsByKind) {
  const TileTotals totals = tile_totals(small_report(0).tiles[0]);
  EXPECT_EQ(totals.cycles, 200u + 396u + 1000u);
  EXPECT_EQ(totals.by_kind, (std::array<std::uint64_t, 4>{396, 1200, 0, 0}));
}

TEST(ProfileMath, LongestSamplesLongestFirstTiesInReportOrder) {
  const dp::ProfileReport report = small_report(0);
  const auto refs = longest_samples(report, 3);
  ASSERT_EQ(refs.size(), 3u);
  // Tile 4 step 2 and tile 9 step 1 both last 1000 cycles: report order breaks the tie.
  EXPECT_EQ(refs[0].tile, 0u);
  EXPECT_EQ(refs[0].sample, 2u);
  EXPECT_EQ(refs[1].tile, 1u);
  EXPECT_EQ(refs[1].sample, 1u);
  EXPECT_EQ(refs[2].tile, 0u);
  EXPECT_EQ(refs[2].sample, 1u);
  EXPECT_EQ(longest_samples(report, 10).size(), 5u);
  EXPECT_TRUE(longest_samples(report, 0).empty());
}

TEST(ReportCsv, OneRowPerSampleWithQuotedTexts) {
  dp::ProfileReport report = small_report(1'000'000'000);
  report.tiles[1].samples[0].step.operation = "a,b";
  report.tiles[1].samples[0].step.kernel = "say \"hi\"";
  const std::string csv = report_csv(report);
  EXPECT_EQ(csv,
            "tile,local_index,kind,operation,kernel,phase,epoch,start_cycle,end_cycle,cycles,"
            "microseconds\n"
            "4,0,Compute,op,k,0,0,4294967000,4294967200,200,0.200000\n"
            "4,1,Exchange,op,k,0,0,4294967200,300,396,0.396000\n"
            "4,2,Compute,op,k,0,0,300,1300,1000,1.000000\n"
            "9,0,Idle,\"a,b\",\"say \"\"hi\"\"\",0,0,10,60,50,0.050000\n"
            "9,1,Synchronization,op,k,0,0,60,1060,1000,1.000000\n");
  // Without a clock rate the time field stays empty.
  EXPECT_NE(report_csv(small_report(0)).find("4,1,Exchange,op,k,0,0,4294967200,300,396,\n"),
            std::string::npos);
}

TEST(ReportSummary, PerKindSharesAndLongestSteps) {
  const std::string text = report_summary(small_report(1'000'000'000), false);
  EXPECT_NE(text.find("Cycle profile: 2 tiles, 5 steps, clock 1 GHz"), std::string::npos) << text;
  // Tile 4: 1596 cycles, 396 exchange (24.8%) and 1200 compute (75.2%).
  EXPECT_NE(text.find("396 (24.8%)"), std::string::npos) << text;
  EXPECT_NE(text.find("1200 (75.2%)"), std::string::npos) << text;
  EXPECT_NE(text.find("1.60 µs"), std::string::npos) << text;
  EXPECT_NE(text.find("Longest steps"), std::string::npos);
  const std::string untimed = report_summary(small_report(0), false);
  EXPECT_NE(untimed.find("cycles only"), std::string::npos);
  EXPECT_EQ(untimed.find("wall time"), std::string::npos);
}

TEST(ReportSummary, CondensesThousandsOfTilesUnlessAll) {
  dp::ProfileReport report{.clock_hz = 0, .tiles = {}};
  for (std::uint32_t t = 0; t < 3000; ++t) {
    report.tiles.push_back(
        {.physical_tile = t, .samples = {sample(0, dp::ProfileStepKind::Compute, 0, t + 1)}});
  }
  const std::string condensed = report_summary(report, false);
  EXPECT_NE(condensed.find("more tiles (--all lists every row)"), std::string::npos);
  EXPECT_LT(count_of(condensed, "\n"), 60u);
  EXPECT_GT(count_of(report_summary(report, true), "\n"), 3000u);
}

TEST(ReportTrace, EventsFollowTheUnwrappedTimeLine) {
  dp::ProfileReport report = small_report(2'000'000'000);
  report.tiles[0].samples[1].step.exchange_activities = {
      {dp::ExchangeActivityKind::Send, 10, 50},
      // Reaches past the step's 396 cycles: cut at its end.
      {dp::ExchangeActivityKind::Receive, 300, 1000}};
  report.tiles[0].samples[1].step.metadata = {{"a", "1"}, {"a", "2"}, {"b", "3"}};
  const auto trace = parse_json(report_trace(report));
  ASSERT_TRUE(trace) << trace.error().text();
  std::vector<Json> steps;
  std::vector<Json> activities;
  std::vector<std::string> threads;
  for (const Json& event : (*trace)["traceEvents"]) {
    if (event["ph"] == "M" && event["name"] == "thread_name") {
      threads.push_back(event["args"]["name"]);
    } else if (event["ph"] == "X" && event["cat"] == "exchange activity") {
      activities.push_back(event);
    } else if (event["ph"] == "X") {
      steps.push_back(event);
    }
  }
  EXPECT_EQ(threads, (std::vector<std::string>{"tile 4", "tile 9"}));
  ASSERT_EQ(steps.size(), 5u);
  // At 2 GHz a cycle is 0.0005 µs; the wrapped step starts after the first's 200 cycles.
  EXPECT_EQ(steps[1]["name"], "op");
  EXPECT_EQ(steps[1]["cat"], "Exchange");
  EXPECT_DOUBLE_EQ(steps[1]["ts"].get<double>(), 0.1);
  EXPECT_DOUBLE_EQ(steps[1]["dur"].get<double>(), 0.198);
  EXPECT_EQ(steps[1]["tid"], 0);
  EXPECT_EQ(steps[1]["args"]["cycles"], 396);
  EXPECT_EQ(steps[1]["args"]["local_index"], 1);
  EXPECT_EQ(steps[1]["args"]["metadata"]["a"], Json::array({"1", "2"}));
  EXPECT_EQ(steps[1]["args"]["metadata"]["b"], "3");
  EXPECT_DOUBLE_EQ(steps[2]["ts"].get<double>(), 0.298);
  EXPECT_EQ(steps[3]["tid"], 1);
  EXPECT_DOUBLE_EQ(steps[3]["ts"].get<double>(), 0.0);
  ASSERT_EQ(activities.size(), 2u);
  EXPECT_EQ(activities[0]["name"], "Send");
  EXPECT_DOUBLE_EQ(activities[0]["ts"].get<double>(), 0.105);
  EXPECT_DOUBLE_EQ(activities[0]["dur"].get<double>(), 0.02);
  EXPECT_DOUBLE_EQ(activities[1]["ts"].get<double>(), 0.25);
  EXPECT_DOUBLE_EQ(activities[1]["dur"].get<double>(), 0.048);
}

TEST(ReportSvg, OneRectanglePerSampleAndWellFormed) {
  dp::ProfileReport report = small_report(1'000'000'000);
  report.tiles[0].samples[0].step.operation = "<a & \"b\">\x01";
  const std::string svg = report_svg(report);
  EXPECT_EQ(xml_error(svg), std::nullopt);
  EXPECT_EQ(count_of(svg, "<rect class=\"s"), 5u);
  EXPECT_EQ(count_of(svg, "<rect class=\"s1\""), 2u);  // the compute steps
  EXPECT_NE(svg.find("&lt;a &amp; &quot;b&quot;&gt;?"), std::string::npos);
  EXPECT_NE(svg.find(">tile 9<"), std::string::npos);
  EXPECT_EQ(xml_error(report_svg(dp::ProfileReport{})), std::nullopt);
  EXPECT_EQ(xml_error(report_svg(small_report(0))), std::nullopt);
}

TEST(ReportSvg, ThousandsOfTilesMergeIntoReadableRows) {
  dp::ProfileReport report{.clock_hz = 1'000'000'000, .tiles = {}};
  for (std::uint32_t t = 0; t < 3000; ++t) {
    dp::TileProfile tile{.physical_tile = t, .samples = {}};
    std::uint32_t cycle = t * 7919;
    for (std::uint32_t s = 0; s < 20; ++s) {
      const std::uint32_t next = cycle + 100 + (s * 37 + t) % 400;
      tile.samples.push_back(sample(s, static_cast<dp::ProfileStepKind>(s % 4), cycle, next));
      cycle = next;
    }
    report.tiles.push_back(std::move(tile));
  }
  const std::string svg = report_svg(report);
  EXPECT_EQ(xml_error(svg), std::nullopt);
  EXPECT_NE(svg.find("Condensed"), std::string::npos);
  EXPECT_NE(svg.find(">tiles 0–46<"), std::string::npos);  // 3000 tiles in 64 rows
  // Not a rectangle per sample, yet every row is drawn.
  const std::size_t rects = count_of(svg, "<rect class=\"s");
  EXPECT_GT(rects, 120u);
  EXPECT_LT(rects, 100000u);
  EXPECT_LT(svg.size(), 8u << 20);
}

}  // namespace
}  // namespace dovapkg
