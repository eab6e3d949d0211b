// The package subcommands run as processes: sample, validate, inspect, pack and tile-image.

#include <gtest/gtest.h>

#include "json_form.hpp"
#include "process.hpp"
#include "reference.hpp"

namespace dovapkg::testing {
namespace {

namespace dp = dova::package;

class PackageCommands : public ToolTest {
 protected:
  void write_package(const std::string& name, const dp::Application& app) const {
    std::vector<std::uint8_t> bytes;
    ASSERT_TRUE(app.write(bytes));
    write_bytes(path(name), bytes);
  }
  dp::Application read_package(const std::string& name) const {
    auto app = dp::Application::read(read_bytes(path(name)));
    EXPECT_TRUE(app) << app.error();
    return app ? *app : dp::Application{};
  }
};

TEST_F(PackageCommands, SampleValidateInspectJsonPackGivesTheSameBytes) {
  const ToolRun sample = run({"sample", "-o", "sample.dovapkg"});
  ASSERT_EQ(sample.status, 0) << sample.err;
  EXPECT_EQ(read_package("sample.dovapkg"), dp::reference::extended_sample());

  const ToolRun validate = run({"validate", "sample.dovapkg"});
  EXPECT_EQ(validate.status, 0);
  EXPECT_EQ(validate.out, "sample.dovapkg: ok (1 tiles, compiler 0.1.0)\n");
  EXPECT_EQ(validate.err, "");

  const ToolRun json = run({"inspect", "sample.dovapkg", "--json"});
  ASSERT_EQ(json.status, 0) << json.err;
  write_text(path("sample.json"), json.out);
  const ToolRun pack = run({"pack", "sample.json", "-o", "packed.dovapkg"});
  ASSERT_EQ(pack.status, 0) << pack.err;
  EXPECT_EQ(read_bytes(path("packed.dovapkg")), read_bytes(path("sample.dovapkg")));
}

TEST_F(PackageCommands, JsonRoundTripKeepsEveryPartAndSixtyFourBitValues) {
  // Every list of an application filled, with values at the edges of their widths.
  dp::Application app = dp::reference::extended_sample();
  app.compiler_version = "compiler \"x\" 2.0 – ü";
  app.inputs.push_back(
      {.name = "in",
       .dtype = "f32",
       .shape = {4294967295u, 0},
       .slices = {
           {.tile = 0, .tile_address = 0x4c000, .file_offset = 18446744073709551615u, .size = 0}}});
  app.weights.push_back({.name = "w", .dtype = "", .shape = {}, .slices = {}});
  app.entry_points.push_back({.name = "", .command = 4294967295u, .external_syncs = 7});
  app.host_exchange.pages.push_back({.index = 4294967295u, .size = 18446744073709551615u});
  write_package("edge.dovapkg", app);

  const ToolRun json = run({"inspect", "edge.dovapkg", "--json"});
  ASSERT_EQ(json.status, 0) << json.err;
  EXPECT_NE(json.out.find("18446744073709551615"), std::string::npos);
  write_text(path("edge.json"), json.out);
  const ToolRun pack = run({"pack", "edge.json", "-o", "edge2.dovapkg"});
  ASSERT_EQ(pack.status, 0) << pack.err;
  EXPECT_EQ(read_bytes(path("edge2.dovapkg")), read_bytes(path("edge.dovapkg")));
  EXPECT_EQ(read_package("edge2.dovapkg"), app);
}

TEST_F(PackageCommands, ValidateReportsEveryFileAndFailsIfAnyFails) {
  write_package("good.dovapkg", dp::reference::sample());
  write_text(path("garbage.dovapkg"), "this is not a package");
  std::vector<std::uint8_t> truncated = [&] {
    std::vector<std::uint8_t> bytes;
    EXPECT_TRUE(dp::reference::extended_sample().write(bytes));
    bytes.resize(bytes.size() / 2);
    return bytes;
  }();
  write_bytes(path("truncated.dovapkg"), truncated);

  const ToolRun run_all =
      run({"validate", "good.dovapkg", "missing.dovapkg", "garbage.dovapkg", "truncated.dovapkg"});
  EXPECT_EQ(run_all.status, 1);
  std::istringstream lines(run_all.out);
  std::string line;
  std::vector<std::string> got;
  while (std::getline(lines, line)) got.push_back(line);
  ASSERT_EQ(got.size(), 4u) << run_all.out;
  EXPECT_EQ(got[0], "good.dovapkg: ok (1 tiles, compiler 0.1.0)");
  EXPECT_EQ(got[1], "missing.dovapkg: error: Io(No such file or directory)");
  EXPECT_EQ(got[2].rfind("garbage.dovapkg: error: Capnp(", 0), 0u) << got[2];
  EXPECT_EQ(got[3].rfind("truncated.dovapkg: error: Capnp(", 0), 0u) << got[3];

  EXPECT_EQ(run({"validate", "good.dovapkg", "good.dovapkg"}).status, 0);
}

TEST_F(PackageCommands, BytesAfterThePackageAreReportedNotHidden) {
  std::vector<std::uint8_t> bytes;
  ASSERT_TRUE(dp::reference::sample().write(bytes));
  bytes.insert(bytes.end(), {'j', 'u', 'n', 'k'});
  write_bytes(path("long.dovapkg"), bytes);
  const ToolRun validate = run({"validate", "long.dovapkg"});
  EXPECT_EQ(validate.status, 0);
  EXPECT_EQ(validate.out, "long.dovapkg: ok (1 tiles, compiler 0.1.0)\n");
  EXPECT_EQ(validate.err,
            "warning: long.dovapkg: 4 bytes after the end of the message are ignored\n");
  const ToolRun inspect = run({"inspect", "long.dovapkg"});
  EXPECT_EQ(inspect.status, 0);
  EXPECT_EQ(inspect.err,
            "warning: long.dovapkg: 4 bytes after the end of the message are ignored\n");
}

TEST_F(PackageCommands, OutputThroughLinksAndToDevices) {
  write_package("sample.dovapkg", dp::reference::sample());
  // A symbolic link stays a link; the file it names gets the image.
  write_text(path("real.bin"), "old");
  std::filesystem::create_symlink("real.bin", path("link.bin"));
  ASSERT_EQ(run({"tile-image", "sample.dovapkg", "--tile", "0", "-o", "link.bin"}).status, 0);
  EXPECT_TRUE(std::filesystem::is_symlink(path("link.bin")));
  EXPECT_EQ(read_bytes(path("real.bin")), (std::vector<std::uint8_t>{1, 2, 3, 4, 0, 0, 0, 0}));
  // A device is written to, not replaced.
  ASSERT_EQ(run({"tile-image", "sample.dovapkg", "--tile", "0", "-o", "/dev/null"}).status, 0);
  EXPECT_TRUE(std::filesystem::is_character_file("/dev/null"));
}

TEST_F(PackageCommands, InspectSummarisesEveryPart) {
  write_package("sample.dovapkg", dp::reference::extended_sample());
  const ToolRun inspect = run({"inspect", "sample.dovapkg"});
  ASSERT_EQ(inspect.status, 0) << inspect.err;
  for (const char* expected :
       {"Compiler version: 0.1.0", "Tiles: 1 (1 segment, 4 data bytes, 8 memory bytes)",
        "Bindings: 0 inputs, 0 outputs, 0 weights", "Host exchange: 2 pages, 1 call",
        "2 slices in 1 batch, 32 bytes", "Entry points: 0", "Configuration writes: 1",
        "0x4018  0xc000000d", "Profile plans: 1 (1 step)", "Debug map: 1 symbol, 1 region",
        "linked executable   any  0x4c000     8"}) {
    EXPECT_NE(inspect.out.find(expected), std::string::npos) << expected << "\n" << inspect.out;
  }
}

TEST_F(PackageCommands, InspectCondensesThousandsOfTilesUnlessAll) {
  dp::Application app = dp::reference::sample();
  for (std::uint32_t t = 1; t < 3000; ++t) {
    dp::TileImage tile = app.tiles[0];
    tile.physical_tile = t;
    app.tiles.push_back(tile);
  }
  write_package("big.dovapkg", app);
  const ToolRun condensed = run({"inspect", "big.dovapkg"});
  ASSERT_EQ(condensed.status, 0) << condensed.err;
  EXPECT_NE(condensed.out.find("... 2980 more tiles (--all lists every row)"), std::string::npos)
      << condensed.out;
  EXPECT_NE(condensed.out.find("\n  2999 "), std::string::npos);
  const ToolRun all = run({"inspect", "big.dovapkg", "--all"});
  ASSERT_EQ(all.status, 0);
  EXPECT_EQ(all.out.find("more tiles"), std::string::npos);
  EXPECT_NE(all.out.find("\n  1500 "), std::string::npos);
}

TEST_F(PackageCommands, TileImageWritesTheReferenceTileImage) {
  write_package("sample.dovapkg", dp::reference::extended_sample());
  const ToolRun image = run({"tile-image", "sample.dovapkg", "--tile", "0", "-o", "tile0.bin"});
  ASSERT_EQ(image.status, 0) << image.err;
  EXPECT_EQ(read_bytes(path("tile0.bin")), (std::vector<std::uint8_t>{1, 2, 3, 4, 0, 0, 0, 0}));
  EXPECT_EQ(image.out, "tile 0: load base 0x4c000, 8 bytes, written to tile0.bin\n");

  const ToolRun unknown = run({"tile-image", "sample.dovapkg", "--tile", "7", "-o", "tile7.bin"});
  EXPECT_EQ(unknown.status, 1);
  EXPECT_EQ(unknown.err, "error: Invalid(\"unknown tile 7\")\n");
  EXPECT_FALSE(std::filesystem::exists(path("tile7.bin")));
}

struct PackRefusal {
  const char* name;
  const char* json;
  const char* error;  // standard error, whole
};

// Test names and failure messages show the case, not its bytes.
void PrintTo(const PackRefusal& value, std::ostream* out) { *out << value.name; }

class PackRefuses : public ToolTest, public ::testing::WithParamInterface<PackRefusal> {};

TEST_P(PackRefuses, WithTheMessageAndWritesNothing) {
  write_text(path("app.json"), GetParam().json);
  const ToolRun fresh = run({"pack", "app.json", "-o", "app.dovapkg"});
  EXPECT_EQ(fresh.status, 1);
  EXPECT_EQ(fresh.err, GetParam().error);
  EXPECT_EQ(fresh.out, "");
  EXPECT_FALSE(std::filesystem::exists(path("app.dovapkg")));

  // A file already in the way is left exactly as it was, and no temporary file remains.
  write_text(path("app.dovapkg"), "previous contents");
  EXPECT_EQ(run({"pack", "app.json", "-o", "app.dovapkg"}).status, 1);
  EXPECT_EQ(read_text(path("app.dovapkg")), "previous contents");
  std::size_t entries = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir_)) ++entries;
  EXPECT_EQ(entries, 2u);  // app.json and app.dovapkg
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PackRefuses,
    ::testing::Values(
        PackRefusal{"Validation", "{}", "error: Invalid(\"application has no tiles\")\n"},
        PackRefusal{"UnknownKey", R"({"tiles": [{"segments": [{}, {"adress": 1}]}]})",
                    "error: app.json: tiles[0].segments[1].adress: unknown key\n"},
        PackRefusal{"OutOfRange", R"({"tiles": [{"segments": [{}, {"address": 4294967296}]}]})",
                    "error: app.json: tiles[0].segments[1].address: 4294967296 is out of range "
                    "for a 32-bit field (0 to 4294967295)\n"},
        PackRefusal{"WrongType", R"({"tiles": [{"physical_tile": "0"}]})",
                    "error: app.json: tiles[0].physical_tile: expected an unsigned integer, "
                    "found string\n"},
        PackRefusal{"BadHex", R"({"tiles": [{"segments": [{"data": "0x01"}]}]})",
                    "error: app.json: tiles[0].segments[0].data: invalid hexadecimal digit "
                    "\"x\" at position 1\n"},
        PackRefusal{"NotJson", "tiles:",
                    "error: app.json: invalid JSON: parse error at line 1, "
                    "column 2: syntax error while parsing value - invalid "
                    "literal; last read: 'ti'\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PackageCommands, OutputIntoAMissingDirectoryNamesTheFile) {
  write_text(path("app.json"), dump_json(to_json(dp::reference::sample())));
  const ToolRun pack = run({"pack", "app.json", "-o", "no/such/dir/app.dovapkg"});
  EXPECT_EQ(pack.status, 1);
  EXPECT_EQ(pack.err, "error: no/such/dir/app.dovapkg: Io(No such file or directory)\n");
}

}  // namespace
}  // namespace dovapkg::testing
