// The profiling workflow run as processes: simulate, profile, report and demo.

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "demo_app.hpp"
#include "json_form.hpp"
#include "process.hpp"
#include "reference.hpp"
#include "xml_check.hpp"

namespace dovapkg::testing {
namespace {

namespace dp = dova::package;

void put_u32(std::vector<std::uint8_t>& bytes, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

dp::ProfileStep step(std::uint32_t index, dp::ProfileStepKind kind, const std::string& operation) {
  return dp::ProfileStep{.local_index = index,
                         .operation = operation,
                         .kind = kind,
                         .kernel = fmt::format("kernel.{}", operation)};
}

// Tiles 3 and 5 profiled. The output buffer holds a 16-byte output, then "profile.cycles" with
// tile 5's three readings before tile 3's four.
dp::Application profiled_app() {
  using K = dp::ProfileStepKind;
  dp::Application app = dp::reference::sample();
  for (std::uint32_t t : {3u, 5u}) {
    dp::TileImage tile = app.tiles[0];
    tile.physical_tile = t;
    app.tiles.push_back(tile);
  }
  app.profile_tiles = {
      {.physical_tile = 3,
       .steps = {step(0, K::Compute, "mm"), step(1, K::Exchange, "gather"),
                 step(2, K::Idle, "wait")}},
      {.physical_tile = 5,
       .steps = {step(0, K::Synchronization, "sync"), step(1, K::Compute, "mm2")}}};
  app.outputs = {{.name = "prefix",
                  .dtype = "u8",
                  .shape = {16},
                  .slices = {{.tile = 0, .tile_address = 0x4c000, .file_offset = 0, .size = 16}}},
                 {.name = "profile.cycles",
                  .dtype = "u32",
                  .shape = {7},
                  .slices = {{.tile = 5, .tile_address = 0xe0000, .file_offset = 0, .size = 12},
                             {.tile = 3, .tile_address = 0xe0000, .file_offset = 12, .size = 16}}}};
  return app;
}

// Tile 3: 100 cycles of compute, 206 of exchange across the wrap, 100 idle. Tile 5: 250 of
// synchronisation, 1000 of compute.
const std::vector<std::uint32_t> TILE3 = {0xFFFFFF00u, 0xFFFFFF64u, 0x32u, 0x96u};
const std::vector<std::uint32_t> TILE5 = {100, 350, 1350};

std::vector<std::uint8_t> known_output() {
  std::vector<std::uint8_t> bytes(16, 0xA5);
  for (std::uint32_t r : TILE5) put_u32(bytes, r);
  for (std::uint32_t r : TILE3) put_u32(bytes, r);
  return bytes;
}

class ProfileWorkflow : public ToolTest {
 protected:
  void SetUp() override {
    ToolTest::SetUp();
    std::vector<std::uint8_t> bytes;
    ASSERT_TRUE(profiled_app().write(bytes));
    write_bytes(path("app.dovapkg"), bytes);
    write_bytes(path("output.bin"), known_output());
  }
  // Profiles the known readings at the clock rate into report.dovaprof.
  void profile(const std::string& clock) const {
    const ToolRun run_profile =
        run({"profile", "app.dovapkg", "output.bin", "--clock-hz", clock, "-o", "report.dovaprof"});
    ASSERT_EQ(run_profile.status, 0) << run_profile.err;
  }
};

TEST_F(ProfileWorkflow, KnownReadingsGiveTheExpectedTotals) {
  profile("1GHz");
  const ToolRun json = run({"report", "report.dovaprof", "--json"});
  ASSERT_EQ(json.status, 0) << json.err;
  const auto parsed = parse_json(json.out);
  ASSERT_TRUE(parsed) << parsed.error().text();
  const auto report = report_from_json(*parsed);
  ASSERT_TRUE(report) << report.error().text();
  EXPECT_EQ(report->clock_hz, 1'000'000'000u);
  ASSERT_EQ(report->tiles.size(), 2u);
  EXPECT_EQ(report->tiles[0].physical_tile, 3u);  // plan order
  ASSERT_EQ(report->tiles[0].samples.size(), 3u);
  for (std::size_t k = 0; k < 3; ++k) {
    EXPECT_EQ(report->tiles[0].samples[k].start_cycle, TILE3[k]);
    EXPECT_EQ(report->tiles[0].samples[k].end_cycle, TILE3[k + 1]);
  }
  EXPECT_EQ(report->tiles[0].samples[1].step.operation, "gather");

  const ToolRun summary = run({"report", "report.dovaprof"});
  ASSERT_EQ(summary.status, 0) << summary.err;
  for (const char* expected :
       {"Cycle profile: 2 tiles, 5 steps, clock 1 GHz", "Longest tile: 1250 cycles, 1.25 µs",
        // tile 3: 406 cycles; exchange 206 across the wrap
        "3      3           406", "206 (50.7%)", "100 (24.6%)",
        // tile 5 and all tiles
        "5      2          1250", "all      5          1656", "1100 (66.4%)"}) {
    EXPECT_NE(summary.out.find(expected), std::string::npos) << expected << "\n" << summary.out;
  }

  const ToolRun csv = run({"report", "report.dovaprof", "--csv"});
  ASSERT_EQ(csv.status, 0);
  EXPECT_NE(csv.out.find("3,1,Exchange,gather,kernel.gather,0,0,4294967140,50,206,0.206000\n"),
            std::string::npos)
      << csv.out;
  EXPECT_NE(csv.out.find("5,1,Compute,mm2,kernel.mm2,0,0,350,1350,1000,1.000000\n"),
            std::string::npos);
}

TEST_F(ProfileWorkflow, ClockRateZeroGivesCyclesOnly) {
  profile("0");
  const ToolRun summary = run({"report", "report.dovaprof"});
  ASSERT_EQ(summary.status, 0);
  EXPECT_NE(summary.out.find("cycles only"), std::string::npos);
  const ToolRun csv = run({"report", "report.dovaprof", "--csv"});
  EXPECT_NE(csv.out.find(",206,\n"), std::string::npos) << csv.out;
}

TEST_F(ProfileWorkflow, TraceEventsMatchTheSamples) {
  profile("1GHz");
  const ToolRun trace = run({"report", "report.dovaprof", "--trace", "trace.json"});
  ASSERT_EQ(trace.status, 0) << trace.err;
  EXPECT_EQ(trace.out, "wrote trace trace.json\n");
  const auto json = parse_json(read_text(path("trace.json")));
  ASSERT_TRUE(json) << json.error().text();
  std::vector<Json> steps;
  std::map<int, std::string> tracks;
  for (const Json& event : (*json)["traceEvents"]) {
    if (event["ph"] == "X") steps.push_back(event);
    if (event["ph"] == "M" && event["name"] == "thread_name") {
      tracks[event["tid"].get<int>()] = event["args"]["name"];
    }
  }
  EXPECT_EQ(tracks, (std::map<int, std::string>{{0, "tile 3"}, {1, "tile 5"}}));
  struct Expected {
    int tid;
    const char* name;
    const char* kind;
    double ts;
    double dur;
  };
  // 1 GHz: a cycle is a thousandth of a microsecond, and the wrapped step lasts 206 cycles.
  const Expected expected[] = {{0, "mm", "Compute", 0, 0.1},
                               {0, "gather", "Exchange", 0.1, 0.206},
                               {0, "wait", "Idle", 0.306, 0.1},
                               {1, "sync", "Synchronization", 0, 0.25},
                               {1, "mm2", "Compute", 0.25, 1.0}};
  ASSERT_EQ(steps.size(), std::size(expected));
  for (std::size_t i = 0; i < steps.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(steps[i]["tid"], expected[i].tid);
    EXPECT_EQ(steps[i]["name"], expected[i].name);
    EXPECT_EQ(steps[i]["cat"], expected[i].kind);
    EXPECT_NEAR(steps[i]["ts"].get<double>(), expected[i].ts, 1e-9);
    EXPECT_NEAR(steps[i]["dur"].get<double>(), expected[i].dur, 1e-9);
    EXPECT_EQ(steps[i]["args"]["kernel"], std::string("kernel.") + expected[i].name);
  }
}

TEST_F(ProfileWorkflow, SvgHasOneRectanglePerSample) {
  profile("1GHz");
  const ToolRun svg = run({"report", "report.dovaprof", "--svg", "timeline.svg"});
  ASSERT_EQ(svg.status, 0) << svg.err;
  const std::string text = read_text(path("timeline.svg"));
  EXPECT_EQ(xml_error(text), std::nullopt);
  EXPECT_EQ(count_of(text, "<rect class=\"s"), 5u);
  EXPECT_NE(text.find(">tile 5<"), std::string::npos);
}

TEST_F(ProfileWorkflow, SimulateIsDeterministicAndProfilesCleanly) {
  const ToolRun first = run({"simulate", "app.dovapkg", "-o", "a.bin", "--seed", "7"});
  ASSERT_EQ(first.status, 0) << first.err;
  EXPECT_EQ(first.out, "wrote a.bin (44 bytes, 7 readings of 2 profiled tiles, seed 7)\n");
  ASSERT_EQ(run({"simulate", "app.dovapkg", "-o", "b.bin", "--seed", "7"}).status, 0);
  ASSERT_EQ(run({"simulate", "app.dovapkg", "-o", "c.bin", "--seed", "8"}).status, 0);
  const std::vector<std::uint8_t> a = read_bytes(path("a.bin"));
  EXPECT_EQ(a, read_bytes(path("b.bin")));
  EXPECT_NE(a, read_bytes(path("c.bin")));
  // The other output stays zero.
  EXPECT_EQ(std::vector<std::uint8_t>(a.begin(), a.begin() + 16), std::vector<std::uint8_t>(16));

  const ToolRun report_run =
      run({"profile", "app.dovapkg", "a.bin", "--clock-hz", "850MHz", "-o", "report.dovaprof"});
  ASSERT_EQ(report_run.status, 0) << report_run.err;
  auto report = dp::ProfileReport::read(read_bytes(path("report.dovaprof")));
  ASSERT_TRUE(report) << report.error();
  EXPECT_EQ(report->clock_hz, 850'000'000u);
  ASSERT_EQ(report->tiles.size(), 2u);
  for (const dp::TileProfile& tile : report->tiles) {
    for (const dp::CycleSample& sample : tile.samples) {
      const std::uint32_t cycles = sample.end_cycle - sample.start_cycle;
      EXPECT_GE(cycles, 150u);
      EXPECT_LE(cycles, 25000u);
    }
  }
}

struct ProfileError {
  const char* name;
  std::vector<std::string> args;
  const char* error;      // standard error, whole
  const char* not_there;  // a file that must not have been written
};

// Test names and failure messages show the case, not its bytes.
void PrintTo(const ProfileError& value, std::ostream* out) { *out << value.name; }

class ProfileErrors : public ProfileWorkflow, public ::testing::WithParamInterface<ProfileError> {};

TEST_P(ProfileErrors, ExitOneWithTheMessage) {
  std::vector<std::uint8_t> bytes;
  ASSERT_TRUE(dp::reference::extended_sample().write(bytes));
  write_bytes(path("plain.dovapkg"), bytes);
  std::vector<std::uint8_t> short_output = known_output();
  short_output.pop_back();
  write_bytes(path("short.bin"), short_output);
  write_text(path("garbage.dovaprof"), "not a report");
  const ToolRun result = run(GetParam().args);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, GetParam().error);
  EXPECT_FALSE(std::filesystem::exists(path(GetParam().not_there)));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProfileErrors,
    ::testing::Values(
        ProfileError{"SimulateWithoutProfileBinding",
                     {"simulate", "plain.dovapkg", "-o", "out.bin"},
                     "error: Invalid(\"application has no cycle profile binding\")\n",
                     "out.bin"},
        ProfileError{"SimulateMissingPackage",
                     {"simulate", "none.dovapkg", "-o", "out.bin"},
                     "error: none.dovapkg: Io(No such file or directory)\n",
                     "out.bin"},
        ProfileError{"ProfileShortOutput",
                     {"profile", "app.dovapkg", "short.bin", "--clock-hz", "1", "-o", "r"},
                     "error: Invalid(\"profile binding exceeds runtime output\")\n",
                     "r"},
        ProfileError{"ProfileWithoutProfileBinding",
                     {"profile", "plain.dovapkg", "output.bin", "--clock-hz", "1", "-o", "r"},
                     "error: Invalid(\"application has no cycle profile binding\")\n",
                     "r"},
        ProfileError{"ProfileMissingOutput",
                     {"profile", "app.dovapkg", "none.bin", "--clock-hz", "1", "-o", "r"},
                     "error: none.bin: Io(No such file or directory)\n",
                     "r"},
        ProfileError{"ReportOfADirectory",
                     {"report", ".", "--svg", "t.svg"},
                     "error: .: Io(Is a directory)\n",
                     "t.svg"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ProfileWorkflow, ReportOfGarbageNamesTheFile) {
  write_text(path("garbage.dovaprof"), "not a report at all");
  const ToolRun result = run({"report", "garbage.dovaprof"});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err.rfind("error: garbage.dovaprof: Capnp(", 0), 0u) << result.err;
  EXPECT_EQ(result.out, "");
}

class Demo : public ToolTest {};

TEST_F(Demo, WritesEveryFileAndSaysWhere) {
  const ToolRun demo = run({"demo", "--out", "demo"});
  ASSERT_EQ(demo.status, 0) << demo.err;
  EXPECT_EQ(demo.err, "");
  for (const char* name : {"demo.dovapkg", "demo.json", "inspect.txt", "tile0.bin", "output.bin",
                           "report.dovaprof", "summary.txt", "trace.json", "timeline.svg"}) {
    SCOPED_TRACE(name);
    const std::filesystem::path file = path("demo") / name;
    ASSERT_TRUE(std::filesystem::exists(file));
    EXPECT_GT(std::filesystem::file_size(file), 0u);
    EXPECT_NE(demo.out.find((std::filesystem::path("demo") / name).string()), std::string::npos);
  }
  for (const char* command : {"dovapkg validate", "dovapkg inspect", "dovapkg tile-image",
                              "dovapkg simulate", "dovapkg profile", "dovapkg report"}) {
    EXPECT_NE(demo.out.find(command), std::string::npos) << command;
  }

  auto app = dp::Application::read(read_bytes(path("demo/demo.dovapkg")));
  ASSERT_TRUE(app) << app.error();
  EXPECT_EQ(*app, demo_application());
  auto image = app->tile_image(0);
  ASSERT_TRUE(image);
  EXPECT_EQ(read_bytes(path("demo/tile0.bin")), *image);
  auto report = dp::ProfileReport::read(read_bytes(path("demo/report.dovaprof")));
  ASSERT_TRUE(report) << report.error();
  EXPECT_EQ(report->tiles.size(), app->profile_tiles.size());
  EXPECT_EQ(read_text(path("demo/summary.txt")), run({"report", "demo/report.dovaprof"}).out);
  EXPECT_TRUE(parse_json(read_text(path("demo/trace.json"))));
  EXPECT_EQ(xml_error(read_text(path("demo/timeline.svg"))), std::nullopt);

  // The JSON form of the richer application packs back into the same bytes.
  ASSERT_EQ(run({"pack", "demo/demo.json", "-o", "repacked.dovapkg"}).status, 0);
  EXPECT_EQ(read_bytes(path("repacked.dovapkg")), read_bytes(path("demo/demo.dovapkg")));
}

}  // namespace
}  // namespace dovapkg::testing
