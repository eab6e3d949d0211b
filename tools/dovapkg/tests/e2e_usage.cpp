// Usage, help, version and logging of the tool run as a process.

#include <gtest/gtest.h>

#include "process.hpp"
#include "reference.hpp"

namespace dovapkg::testing {
namespace {

namespace dp = dova::package;

class Usage : public ToolTest {};

TEST_F(Usage, VersionPrintsTheLibraryVersion) {
  const ToolRun version = run({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "0.1.0\n");
}

TEST_F(Usage, EverySubcommandHasHelp) {
  for (const char* sub : {"sample", "validate", "inspect", "pack", "tile-image", "simulate",
                          "profile", "report", "demo"}) {
    SCOPED_TRACE(sub);
    const ToolRun help = run({sub, "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find(std::string("Usage: dovapkg ") + sub), std::string::npos) << help.out;
  }
  const ToolRun top = run({"--help"});
  EXPECT_EQ(top.status, 0);
  EXPECT_NE(top.out.find("--log-level"), std::string::npos);
}

struct UsageError {
  const char* name;
  std::vector<std::string> args;
  const char* message;  // the start of standard error
};

// Test names and failure messages show the case, not its bytes.
void PrintTo(const UsageError& value, std::ostream* out) { *out << value.name; }

class UsageErrors : public ToolTest, public ::testing::WithParamInterface<UsageError> {};

TEST_P(UsageErrors, ExitTwo) {
  const ToolRun result = run(GetParam().args);
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.err.rfind(GetParam().message, 0), 0u) << result.err;
  EXPECT_NE(result.err.find("Run with --help"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UsageErrors,
    ::testing::Values(
        UsageError{"NoSubcommand", {}, "error: A subcommand is required"},
        UsageError{"UnknownSubcommand", {"frobnicate"}, "error: "},
        UsageError{"MissingOut", {"sample"}, "error: --out is required"},
        UsageError{"MissingFile", {"validate"}, "error: files is required"},
        UsageError{"TileNotANumber", {"tile-image", "p", "--tile", "x", "-o", "o"}, "error: "},
        UsageError{
            "TileTooLarge", {"tile-image", "p", "--tile", "4294967296", "-o", "o"}, "error: "},
        UsageError{"BadClock",
                   {"profile", "p", "o", "--clock-hz", "fast", "-o", "r"},
                   "error: --clock-hz: invalid clock rate \"fast\""},
        UsageError{"JsonAndCsv", {"report", "r", "--json", "--csv"}, "error: "},
        UsageError{"BadLogLevel", {"--log-level", "loud", "validate", "p"}, "error: "}),
    [](const auto& info) { return std::string(info.param.name); });

class Logging : public ToolTest {
 protected:
  void SetUp() override {
    ToolTest::SetUp();
    std::vector<std::uint8_t> bytes;
    ASSERT_TRUE(dp::reference::sample().write(bytes));
    write_bytes(path("sample.dovapkg"), bytes);
  }
};

TEST_F(Logging, QuietByDefault) {
  const ToolRun quiet = run({"tile-image", "sample.dovapkg", "--tile", "0", "-o", "t.bin"});
  EXPECT_EQ(quiet.status, 0);
  EXPECT_EQ(quiet.err, "");
}

TEST_F(Logging, VerbosePrintsTheLibraryEvents) {
  const ToolRun info = run({"-v", "validate", "sample.dovapkg"});
  EXPECT_EQ(info.status, 0);
  EXPECT_EQ(info.err,
            "INFO dova_package: reading application package\n"
            "INFO dova_package: application package read tiles=1 compiler=0.1.0\n");
  // Global options may also follow the subcommand; info hides trace events.
  const ToolRun after = run({"tile-image", "sample.dovapkg", "--tile", "0", "-o", "t.bin", "-v"});
  EXPECT_EQ(after.err.find("TRACE"), std::string::npos);
  EXPECT_NE(after.err.find("INFO dova_package: application package read"), std::string::npos);
}

TEST_F(Logging, LogLevelSelectsFromThatLevelUp) {
  const ToolRun trace =
      run({"--log-level", "TRACE", "tile-image", "sample.dovapkg", "--tile", "0", "-o", "t.bin"});
  EXPECT_EQ(trace.status, 0);
  EXPECT_NE(trace.err.find("TRACE dova_package: reconstructing tile image physical_tile=0 "
                           "load_base=0x4c000 image_bytes=8\n"),
            std::string::npos)
      << trace.err;
  const ToolRun error_only = run({"--log-level", "error", "validate", "sample.dovapkg"});
  EXPECT_EQ(error_only.err, "");
}

}  // namespace
}  // namespace dovapkg::testing
