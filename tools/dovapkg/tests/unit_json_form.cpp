#include <gtest/gtest.h>

#include "demo_app.hpp"
#include "json_form.hpp"
#include "reference.hpp"

namespace dovapkg {
namespace {

namespace dp = dova::package;

ToolResult<dp::Application> app_from_text(const std::string& text) {
  auto json = parse_json(text);
  if (!json) return tl::unexpected(json.error());
  return application_from_json(*json);
}

std::vector<std::string> keys_of(const Json& object) {
  std::vector<std::string> keys;
  for (const auto& item : object.items()) keys.push_back(item.key());
  return keys;
}

TEST(JsonForm, ApplicationsComeBackEqual) {
  for (const dp::Application& app :
       {dp::reference::sample(), dp::reference::extended_sample(), demo_application()}) {
    // Through the text as well, as `inspect --json` and `pack` go.
    const auto back = app_from_text(dump_json(to_json(app)));
    ASSERT_TRUE(back) << back.error().text();
    EXPECT_EQ(*back, app);
  }
}

TEST(JsonForm, ReportComesBackEqual) {
  const dp::ProfileReport report = dp::reference::profile_report();
  const auto json = parse_json(dump_json(to_json(report)));
  ASSERT_TRUE(json);
  const auto back = report_from_json(*json);
  ASSERT_TRUE(back) << back.error().text();
  EXPECT_EQ(*back, report);
}

TEST(JsonForm, KeysFollowDeclarationOrderAndValuesTheirForms) {
  const Json json = to_json(dp::reference::extended_sample());
  EXPECT_EQ(keys_of(json),
            (std::vector<std::string>{"compiler_version", "tiles", "inputs", "outputs", "weights",
                                      "host_exchange", "entry_points", "device_config_writes",
                                      "profile_tiles", "debug_symbols", "debug_regions"}));
  const Json& segment = json["tiles"][0]["segments"][0];
  EXPECT_EQ(keys_of(segment),
            (std::vector<std::string>{"address", "memory_size", "data", "flags"}));
  EXPECT_EQ(segment["address"], 0x4C000);
  EXPECT_EQ(segment["data"], "01020304");
  const Json& step = json["profile_tiles"][0]["steps"][0];
  EXPECT_EQ(step["kind"], "Compute");
  EXPECT_EQ(step["exchange_activities"][1]["kind"], "PartnerBusy");
  EXPECT_EQ(json["debug_regions"][0]["physical_tile"], 4294967295u);
  EXPECT_EQ(json["device_config_writes"][0]["value"], 0xC000000Du);
}

TEST(JsonForm, HexIsLowercaseAndSixtyFourBitNumbersExact) {
  dp::Application app = dp::reference::sample();
  app.tiles[0].segments[0].data = {0xAB, 0x00, 0xFF};
  app.host_exchange.pages = {{.index = 0, .size = 18446744073709551615u}};
  const std::string text = dump_json(to_json(app));
  EXPECT_NE(text.find("\"ab00ff\""), std::string::npos);
  EXPECT_NE(text.find("18446744073709551615"), std::string::npos);
  const auto back = app_from_text(text);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->host_exchange.pages[0].size, 18446744073709551615u);
}

TEST(JsonForm, MissingKeysTakeDefaultsAndHexMayBeUppercase) {
  const auto app = app_from_text(R"({"tiles": [{"segments": [{"data": "0A0b"}]}]})");
  ASSERT_TRUE(app) << app.error().text();
  dp::Application expected;
  expected.tiles = {dp::TileImage{.segments = {dp::Segment{.data = {0x0A, 0x0B}}}}};
  EXPECT_EQ(*app, expected);
  EXPECT_EQ(app->compiler_version, "0.1.0");
  EXPECT_EQ(app->host_exchange.calls.size(), 0u);
}

TEST(JsonForm, HostCallInvocationsDefaultToOne) {
  const auto app = app_from_text(R"({"host_exchange": {"calls": [{"name": "c"}]}})");
  ASSERT_TRUE(app);
  EXPECT_EQ(app->host_exchange.calls.at(0).invocations, 1u);
}

struct Refusal {
  const char* json;
  const char* message;  // the whole error text: the path, then what is wrong
};

// Test names and failure messages show the case, not its bytes.
void PrintTo(const Refusal& value, std::ostream* out) { *out << value.json; }

class JsonRefuses : public ::testing::TestWithParam<Refusal> {};

TEST_P(JsonRefuses, NamingThePath) {
  const auto app = app_from_text(GetParam().json);
  ASSERT_FALSE(app);
  EXPECT_EQ(app.error().text(), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, JsonRefuses,
    ::testing::Values(
        Refusal{R"({"tiles": [{}, {"segments": [{}, {"address": 4294967296}]}]})",
                "tiles[1].segments[1].address: 4294967296 is out of range for a 32-bit field "
                "(0 to 4294967295)"},
        Refusal{R"({"host_exchange": {"command_offset": 18446744073709551616}})",
                "host_exchange.command_offset: 1.8446744073709552e+19 is out of range for a "
                "64-bit field (0 to 18446744073709551615)"},
        Refusal{R"({"tiles": [{"physical_tile": -1}]})",
                "tiles[0].physical_tile: -1 is out of range for a 32-bit field (0 to 4294967295)"},
        Refusal{R"({"tiles": [{"physical_tile": 1.5}]})",
                "tiles[0].physical_tile: expected an unsigned integer, found 1.5"},
        Refusal{R"({"tiles": [{"physical_tile": "3"}]})",
                "tiles[0].physical_tile: expected an unsigned integer, found string"},
        Refusal{R"({"compiler_version": null})", "compiler_version: expected a string, found null"},
        Refusal{R"({"tiles": {}})", "tiles: expected an array, found object"},
        Refusal{R"({"tiles": [[]]})", "tiles[0]: expected an object, found array"},
        Refusal{R"([])", "(top level): expected an object, found array"},
        Refusal{R"({"tiles": [{"segments": [{"adress": 1}]}]})",
                "tiles[0].segments[0].adress: unknown key"},
        Refusal{R"({"tiles": [{"segments": [{"data": "012"}]}]})",
                "tiles[0].segments[0].data: odd number of hexadecimal digits (3)"},
        Refusal{R"({"tiles": [{"segments": [{"data": "01zz"}]}]})",
                "tiles[0].segments[0].data: invalid hexadecimal digit \"z\" at position 2"},
        Refusal{R"({"tiles": [{"segments": [{"data": [1, 2]}]}]})",
                "tiles[0].segments[0].data: expected a hexadecimal string, found array"},
        Refusal{R"({"inputs": [{"shape": [1, 4294967296]}]})",
                "inputs[0].shape[1]: 4294967296 is out of range for a 32-bit field "
                "(0 to 4294967295)"},
        Refusal{R"({"profile_tiles": [{"steps": [{"kind": "Sleep"}]}]})",
                "profile_tiles[0].steps[0].kind: expected one of Exchange, Compute, "
                "Synchronization or Idle, found \"Sleep\""},
        Refusal{R"({"profile_tiles": [{"steps": [{"kind": 1}]}]})",
                "profile_tiles[0].steps[0].kind: expected one of Exchange, Compute, "
                "Synchronization or Idle, found 1"},
        Refusal{R"({"profile_tiles": [{"steps": [{"exchange_activities": [{"kind": "send"}]}]}]})",
                "profile_tiles[0].steps[0].exchange_activities[0].kind: expected one of Send, "
                "Receive or PartnerBusy, found \"send\""},
        Refusal{R"({"tiles": [], "tiles": []})", "repeated key \"tiles\" in one object"},
        Refusal{R"({"tiles": [)",
                "invalid JSON: parse error at line 1, column 12: syntax error while parsing "
                "value - unexpected end of input; expected '[', '{', or a literal"}));

TEST(JsonForm, ReportRefusalsNameThePathToo) {
  const auto json = parse_json(R"({"tiles": [{"samples": [{"step": {"kind": "Compute"},
                                   "start_cycle": 4294967296}]}]})");
  ASSERT_TRUE(json);
  const auto report = report_from_json(*json);
  ASSERT_FALSE(report);
  EXPECT_EQ(report.error().text(),
            "tiles[0].samples[0].start_cycle: 4294967296 is out of range for a 32-bit field "
            "(0 to 4294967295)");
}

}  // namespace
}  // namespace dovapkg
