// The wire layout of both files, as the schema compiler lays the schemas out: every struct's size
// and every field's type, ordinal and position. A field added, moved or retyped breaks
// compatibility with every package already written.

#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "encoding_fixtures.hpp"

namespace dova::package {
namespace {

struct Field {
  std::string name;
  std::string type;      // as the compiler prints it, default value included
  std::string position;  // "bits[a, b)" or "ptr[n]"

  bool operator==(const Field&) const = default;
};

struct Struct {
  unsigned data_words = 0;
  unsigned pointers = 0;
  std::vector<Field> fields;  // in ordinal order

  bool operator==(const Struct&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Struct& value) {
  out << value.data_words << " data words, " << value.pointers << " pointers\n";
  for (std::size_t i = 0; i < value.fields.size(); ++i) {
    out << "  @" << i << " " << value.fields[i].name << " :" << value.fields[i].type << " "
        << value.fields[i].position << "\n";
  }
  return out;
}

// Data bytes first..last, inclusive.
std::string bytes(unsigned first, unsigned last) {
  return "bits[" + std::to_string(first * 8) + ", " + std::to_string((last + 1) * 8) + ")";
}
std::string ptr(unsigned index) { return "ptr[" + std::to_string(index) + "]"; }

struct Schema {
  std::map<std::string, Struct> structs;
  std::map<std::string, std::vector<std::string>> enums;  // enumerants in ordinal order
  std::string cxx_namespace;
};

// Parses the canonical text that `capnp compile -ocapnp` prints for one schema file.
Schema parse(const std::string& text) {
  static const std::regex struct_line(
      R"(^struct (\w+) @0x[0-9a-f]+ \{  # (\d+) bytes, (\d+) ptrs$)");
  static const std::regex enum_line(R"(^enum (\w+) @0x[0-9a-f]+ \{$)");
  static const std::regex field_line(R"(^  (\w+) @(\d+) :(.*);  # (.*)$)");
  static const std::regex enumerant_line(R"(^  (\w+) @(\d+);$)");
  static const std::regex namespace_line(
      R"re(^\$import "/capnp/c\+\+\.capnp"\.namespace\("(.*)"\);$)re");
  static const std::regex imported(R"(import "[^"]*"\.)");

  Schema schema;
  Struct* current_struct = nullptr;
  std::vector<std::string>* current_enum = nullptr;
  std::istringstream lines(text);
  std::string line;
  std::smatch match;
  while (std::getline(lines, line)) {
    if (std::regex_match(line, match, struct_line)) {
      current_struct = &schema.structs[match[1]];
      current_struct->data_words = static_cast<unsigned>(std::stoul(match[2])) / 8;
      current_struct->pointers = static_cast<unsigned>(std::stoul(match[3]));
      current_enum = nullptr;
    } else if (std::regex_match(line, match, enum_line)) {
      current_enum = &schema.enums[match[1]];
      current_struct = nullptr;
    } else if (current_struct && std::regex_match(line, match, field_line)) {
      const auto ordinal = std::stoul(match[2]);
      EXPECT_EQ(ordinal, current_struct->fields.size()) << line;
      current_struct->fields.push_back(
          Field{match[1], std::regex_replace(match[3].str(), imported, ""), match[4]});
    } else if (current_enum && std::regex_match(line, match, enumerant_line)) {
      EXPECT_EQ(std::stoul(match[2]), current_enum->size()) << line;
      current_enum->push_back(match[1]);
    } else if (std::regex_match(line, match, namespace_line)) {
      schema.cxx_namespace = match[1];
    } else if (line == "}") {
      current_struct = nullptr;
      current_enum = nullptr;
    }
  }
  return schema;
}

Schema compiled(const std::string& file) {
  const std::string command = "capnp compile -ocapnp --src-prefix='" + fixtures::schema_path("") +
                              "' -I'" + fixtures::schema_path("") + "' '" +
                              fixtures::schema_path(file) + "' 2>&1";
  const auto result = fixtures::run_command(command);
  EXPECT_EQ(result.status, 0) << result.output;
  return parse(result.output);
}

void expect_structs(const Schema& schema, const std::map<std::string, Struct>& expected) {
  std::vector<std::string> names, expected_names;
  for (const auto& [name, layout] : schema.structs) names.push_back(name);
  for (const auto& [name, layout] : expected) expected_names.push_back(name);
  EXPECT_EQ(names, expected_names);
  for (const auto& [name, layout] : expected) {
    const auto found = schema.structs.find(name);
    if (found == schema.structs.end()) continue;
    EXPECT_EQ(found->second, layout) << "struct " << name;
  }
}

class SchemaLayout : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fixtures::capnp_tool_available()) GTEST_SKIP() << "capnp is not on PATH";
  }
};

TEST_F(SchemaLayout, ApplicationSchema) {
  const Schema schema = compiled("application.capnp");
  EXPECT_EQ(schema.cxx_namespace, "dova::package::application_capnp");
  EXPECT_TRUE(schema.enums.empty());
  expect_structs(
      schema,
      {
          {"Application",
           {2,
            12,
            {{"schemaVersion", "UInt32", bytes(0, 3)},
             {"compilerVersion", "Text", ptr(0)},
             {"target", "Text", ptr(1)},
             {"tileMemoryBase", "UInt32", bytes(4, 7)},
             {"tileMemorySize", "UInt32", bytes(8, 11)},
             {"tiles", "List(TileImage)", ptr(2)},
             {"inputs", "List(Binding)", ptr(3)},
             {"outputs", "List(Binding)", ptr(4)},
             {"weights", "List(Binding)", ptr(5)},
             {"hostExchange", "HostExchange", ptr(6)},
             {"entryPoints", "List(EntryPoint)", ptr(7)},
             {"deviceConfigWrites", "List(DeviceConfigWrite)", ptr(8)},
             {"profileTiles", "List(TileProfilePlan)", ptr(9)},
             {"debugSymbols", "List(DebugSymbol)", ptr(10)},
             {"debugRegions", "List(DebugRegion)", ptr(11)}}}},
          {"TileImage",
           {2,
            1,
            {{"physicalTile", "UInt32", bytes(0, 3)},
             {"entryPoint", "UInt32", bytes(4, 7)},
             {"segments", "List(Segment)", ptr(0)},
             {"commandAddress", "UInt32", bytes(8, 11)},
             {"diagnosticAddress", "UInt32", bytes(12, 15)}}}},
          {"Segment",
           {2,
            1,
            {{"address", "UInt32", bytes(0, 3)},
             {"memorySize", "UInt32", bytes(4, 7)},
             {"data", "Data", ptr(0)},
             {"flags", "UInt32", bytes(8, 11)}}}},
          {"Binding",
           {0,
            4,
            {{"name", "Text", ptr(0)},
             {"dtype", "Text", ptr(1)},
             {"shape", "List(UInt32)", ptr(2)},
             {"slices", "List(RegionSlice)", ptr(3)}}}},
          {"RegionSlice",
           {3,
            0,
            {{"tile", "UInt32", bytes(0, 3)},
             {"tileAddress", "UInt32", bytes(4, 7)},
             {"fileOffset", "UInt64", bytes(8, 15)},
             {"size", "UInt64", bytes(16, 23)}}}},
          {"HostExchange",
           {2,
            3,
            {{"startupMark", "UInt32", bytes(0, 3)},
             {"commandPage", "UInt32", bytes(4, 7)},
             {"commandOffset", "UInt64", bytes(8, 15)},
             {"pages", "List(HostPage)", ptr(0)},
             {"attachOrder", "List(UInt32)", ptr(1)},
             {"calls", "List(HostCall)", ptr(2)}}}},
          {"HostPage",
           {2, 0, {{"index", "UInt32", bytes(0, 3)}, {"size", "UInt64", bytes(8, 15)}}}},
          {"HostCall",
           {2,
            5,
            {{"name", "Text", ptr(0)},
             {"command", "UInt32", bytes(0, 3)},
             {"phases", "UInt32", bytes(4, 7)},
             {"inputs", "List(HostSlice)", ptr(1)},
             {"outputs", "List(HostSlice)", ptr(2)},
             {"invocations", "UInt32 = 1", bytes(8, 11)},
             {"inputBatchEnds", "List(UInt32)", ptr(3)},
             {"outputBatchEnds", "List(UInt32)", ptr(4)}}}},
          {"HostSlice",
           {4,
            0,
            {{"page", "UInt32", bytes(0, 3)},
             {"pageOffset", "UInt64", bytes(8, 15)},
             {"fileOffset", "UInt64", bytes(16, 23)},
             {"size", "UInt64", bytes(24, 31)}}}},
          {"EntryPoint",
           {1,
            1,
            {{"name", "Text", ptr(0)},
             {"command", "UInt32", bytes(0, 3)},
             {"externalSyncs", "UInt32", bytes(4, 7)}}}},
          {"DeviceConfigWrite",
           {1, 0, {{"offset", "UInt32", bytes(0, 3)}, {"value", "UInt32", bytes(4, 7)}}}},
          {"TileProfilePlan",
           {1, 1, {{"physicalTile", "UInt32", bytes(0, 3)}, {"steps", "List(Step)", ptr(0)}}}},
          {"DebugSymbol", {1, 1, {{"name", "Text", ptr(0)}, {"address", "UInt32", bytes(0, 3)}}}},
          {"DebugRegion",
           {2,
            1,
            {{"physicalTile", "UInt32", bytes(0, 3)},
             {"address", "UInt32", bytes(4, 7)},
             {"size", "UInt32", bytes(8, 11)},
             {"name", "Text", ptr(0)}}}},
      });
}

TEST_F(SchemaLayout, ProfileCommonSchema) {
  const Schema schema = compiled("profile_common.capnp");
  EXPECT_EQ(schema.cxx_namespace, "dova::package::profile_common_capnp");
  expect_structs(schema,
                 {
                     {"Step",
                      {3,
                       4,
                       {{"localIndex", "UInt32", bytes(0, 3)},
                        {"phase", "UInt32", bytes(4, 7)},
                        {"epoch", "UInt32", bytes(8, 11)},
                        {"operation", "Text", ptr(0)},
                        {"kind", "StepKind", bytes(12, 13)},
                        {"kernel", "Text", ptr(1)},
                        {"metadata", "List(Metadata)", ptr(2)},
                        {"exchangeActivities", "List(ExchangeActivity)", ptr(3)},
                        {"exchangeEventCycles", "UInt32", bytes(16, 19)}}}},
                     {"Metadata", {0, 2, {{"name", "Text", ptr(0)}, {"value", "Text", ptr(1)}}}},
                     {"ExchangeActivity",
                      {2,
                       0,
                       {{"kind", "ExchangeActivityKind", bytes(0, 1)},
                        {"startCycle", "UInt32", bytes(4, 7)},
                        {"endCycle", "UInt32", bytes(8, 11)}}}},
                 });
  // Stored values equal the in-memory enumerants' values.
  EXPECT_EQ(schema.enums.at("StepKind"),
            (std::vector<std::string>{"exchange", "compute", "synchronization", "idle"}));
  EXPECT_EQ(schema.enums.at("ExchangeActivityKind"),
            (std::vector<std::string>{"send", "receive", "partnerBusy"}));
  EXPECT_EQ(schema.enums.size(), 2u);
}

TEST_F(SchemaLayout, ProfileSchema) {
  const Schema schema = compiled("profile.capnp");
  EXPECT_EQ(schema.cxx_namespace, "dova::package::profile_capnp");
  EXPECT_TRUE(schema.enums.empty());
  expect_structs(
      schema,
      {
          {"Profile",
           {2,
            1,
            {{"schemaVersion", "UInt32", bytes(0, 3)},
             {"clockHz", "UInt64", bytes(8, 15)},
             {"tiles", "List(TileProfile)", ptr(0)}}}},
          {"TileProfile",
           {1,
            1,
            {{"physicalTile", "UInt32", bytes(0, 3)}, {"samples", "List(CycleSample)", ptr(0)}}}},
          {"CycleSample",
           {1,
            1,
            {{"step", "Step", ptr(0)},
             {"startCycle", "UInt32", bytes(0, 3)},
             {"endCycle", "UInt32", bytes(4, 7)}}}},
      });
}

}  // namespace
}  // namespace dova::package
