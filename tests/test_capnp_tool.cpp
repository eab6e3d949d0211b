// Interoperability with the schema tools' own encoder and decoder: what the library writes decodes
// as the schemas say, and what the tools encode from text reads back into the expected records.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "dova/package.hpp"
#include "encoding_fixtures.hpp"
#include "reference.hpp"

namespace dova::package {
namespace {

namespace fs = std::filesystem;

// A scratch directory removed with everything in it when the test ends.
class ScratchDir {
 public:
  ScratchDir()
      : path_(fs::temp_directory_path() /
              fmt::format("dova_encoding_{}_{}", ::getpid(),
                          ::testing::UnitTest::GetInstance()->current_test_info()->name())) {
    fs::create_directories(path_);
  }
  ~ScratchDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  std::string file(std::string_view name) const { return (path_ / name).string(); }

 private:
  fs::path path_;
};

void save(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << path;
}

std::vector<std::uint8_t> load(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string quoted(const std::string& path) { return "'" + path + "'"; }

// The one-line text form that `capnp decode --short` prints for a message in a file.
std::string decoded(const std::string& schema, const std::string& root, const std::string& path) {
  const auto result =
      fixtures::run_command("capnp decode --short " + quoted(fixtures::schema_path(schema)) + " " +
                            root + " < " + quoted(path) + " 2>&1");
  EXPECT_EQ(result.status, 0) << result.output;
  return result.output;
}

class CapnpTool : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fixtures::capnp_tool_available()) GTEST_SKIP() << "capnp is not on PATH";
  }
};

TEST_F(CapnpTool, DecodesAWrittenPackage) {
  ScratchDir scratch;
  std::vector<std::uint8_t> bytes;
  ASSERT_TRUE(fixtures::full_application().write(bytes).has_value());
  save(scratch.file("package.bin"), bytes);
  const std::string text = decoded("application.capnp", "Application", scratch.file("package.bin"));

  const char* const expected[] = {
      "(schemaVersion = 5, compilerVersion = \"dovac 3.1.4 (\xC3\x9F)\", target = \"dova21\", "
      "tileMemoryBase = 311296, tileMemorySize = 638976, tiles = [(physicalTile = 0, ",
      "(address = 311360, memorySize = 16, data = \"\\240\\000\\377\", flags = 0)",
      "(physicalTile = 305419896, entryPoint = 4294967295, segments = [], commandAddress = 0, "
      "diagnosticAddress = 3735928559)",
      "(name = \"input.mask\", dtype = \"u8\", shape = [], slices = [])",
      "(tile = 0, tileAddress = 589824, fileOffset = 18446744069414584320, size = 4096)",
      "hostExchange = (startupMark = 42405, commandPage = 2, commandOffset = 32, pages = "
      "[(index = 2, size = 256), (index = 0, size = 65536), (index = 9, size = 4294967296)], "
      "attachOrder = [2, 0, 2, 9], calls = [(name = \"load\", command = 11, phases = 3, ",
      "invocations = 1, inputBatchEnds = [1, 3], outputBatchEnds = [1])",
      "invocations = 7, inputBatchEnds = [], outputBatchEnds = [2])",
      "deviceConfigWrites = [(offset = 0, value = 1), (offset = 16408, value = 3221225485), "
      "(offset = 4294967292, value = 4294967295)]",
      "(localIndex = 1, phase = 11, epoch = 21, operation = \"op.1\", kind = compute, kernel = "
      "\"kernel_1\", metadata = [(name = \"reason\", value = \"OperatorKernel\"), (name = "
      "\"\xE2\x82\xAC\", value = \"\")], exchangeActivities = [(kind = receive, startCycle = 7, "
      "endCycle = 8)], exchangeEventCycles = 31)",
      "(kind = partnerBusy, startCycle = 4294967280, endCycle = 2)",
      "debugRegions = [(physicalTile = 0, address = 311296, size = 64, name = \"text\"), "
      "(physicalTile = 4294967295, address = 4294967040, size = 255, name = \"global\")])",
  };
  for (const char* part : expected) {
    EXPECT_NE(text.find(part), std::string::npos) << "missing: " << part << "\nin: " << text;
  }
}

TEST_F(CapnpTool, DecodesAWrittenReport) {
  ScratchDir scratch;
  std::vector<std::uint8_t> bytes;
  ASSERT_TRUE(reference::profile_report().write(bytes).has_value());
  save(scratch.file("report.bin"), bytes);
  const std::string text = decoded("profile.capnp", "Profile", scratch.file("report.bin"));
  const char* const expected[] = {
      "(schemaVersion = 5, clockHz = 1500000000, tiles = [(physicalTile = 17, samples = [(step = "
      "(localIndex = 0, phase = 5, epoch = 8, operation = \"accumulate\", kind = exchange, ",
      "startCycle = 4294967285, endCycle = 7)",
      "kind = idle, kernel = \"gemm_f32_accumulate\", metadata = [(name = \"innerBlock\", value = "
      "\"8\")], exchangeActivities = [], exchangeEventCycles = 9), startCycle = 4294967288, "
      "endCycle = 10)",
  };
  for (const char* part : expected) {
    EXPECT_NE(text.find(part), std::string::npos) << "missing: " << part << "\nin: " << text;
  }
}

Application expected_fixture_application() {
  Application app;
  app.compiler_version = "external 1.0";
  app.tiles = {
      TileImage{
          .physical_tile = 3,
          .entry_point = 311296,
          .command_address = 311552,
          .diagnostic_address = 311808,
          .segments = {Segment{
                           .address = 311296, .memory_size = 16, .data = {1, 2, 3, 4}, .flags = 2},
                       Segment{.address = 311312, .memory_size = 8, .data = {}, .flags = 0}}},
      TileImage{.physical_tile = 4,
                .entry_point = 0,
                .command_address = 0,
                .diagnostic_address = 0,
                .segments = {}},
  };
  app.inputs = {Binding{
      .name = "in",
      .dtype = "f32",
      .shape = {2, 2},
      .slices = {RegionSlice{.tile = 3, .tile_address = 320000, .file_offset = 0, .size = 16}}}};
  app.weights = {Binding{
      .name = "w",
      .dtype = "u8",
      .shape = {4},
      .slices = {RegionSlice{.tile = 4, .tile_address = 311296, .file_offset = 0, .size = 4}}}};
  HostCall twice;
  twice.name = "twice";
  twice.command = 9;
  twice.phases = 2;
  twice.inputs = {HostSlice{.page = 6, .page_offset = 0, .file_offset = 0, .size = 32},
                  HostSlice{.page = 6, .page_offset = 32, .file_offset = 32, .size = 32}};
  twice.invocations = 2;
  twice.input_batch_ends = {1, 2};
  HostCall once;
  once.name = "once";
  once.outputs = {HostSlice{.page = 5, .page_offset = 16, .file_offset = 0, .size = 16}};
  once.output_batch_ends = {1};
  app.host_exchange = HostExchange{
      .startup_mark = 1,
      .command_page = 5,
      .command_offset = 8,
      .pages = {HostPage{.index = 5, .size = 64}, HostPage{.index = 6, .size = 4294967296}},
      .attach_order = {6, 5},
      .calls = {twice, once},
  };
  app.entry_points = {EntryPoint{.name = "main", .command = 1, .external_syncs = 2}};
  app.device_config_writes = {DeviceConfigWrite{.offset = 16408, .value = 3221225485}};
  ProfileStep idle;
  idle.local_index = 1;
  idle.kind = ProfileStepKind::Idle;
  app.profile_tiles = {TileProfilePlan{
      .physical_tile = 3,
      .steps = {
          ProfileStep{
              .local_index = 0,
              .phase = 1,
              .epoch = 2,
              .operation = "matmul",
              .kind = ProfileStepKind::Compute,
              .kernel = "gemm",
              .metadata = {ProfileMetadata{.name = "reason", .value = "OperatorKernel"}},
              .exchange_activities = {ProfileExchangeActivity{
                  .kind = ExchangeActivityKind::PartnerBusy, .start_cycle = 1, .end_cycle = 3}},
              .exchange_event_cycles = 13},
          idle}}};
  app.debug_symbols = {DebugSymbol{.name = "main", .address = 311296}};
  app.debug_regions = {
      DebugRegion{.physical_tile = NO_SINGLE_TILE, .address = 0, .size = 8, .name = "all"}};
  return app;
}

TEST_F(CapnpTool, EncodedTextFixtureReadsBack) {
  ScratchDir scratch;
  const std::string fixture = std::string(DOVA_SOURCE_DIR) + "/tests/data/application.capnp.txt";
  const auto result = fixtures::run_command(
      "capnp encode " + quoted(fixtures::schema_path("application.capnp")) + " Application < " +
      quoted(fixture) + " > " + quoted(scratch.file("encoded.bin")) + " 2>&1");
  ASSERT_EQ(result.status, 0) << result.output;
  const auto bytes = load(scratch.file("encoded.bin"));
  ASSERT_FALSE(bytes.empty());

  const auto read = Application::read(bytes);
  ASSERT_TRUE(read.has_value()) << read.error();
  EXPECT_EQ(*read, expected_fixture_application());
  EXPECT_EQ(read->host_exchange.calls[1].invocations, 1u) << "the schema default applies";
}

}  // namespace
}  // namespace dova::package
