#include <gtest/gtest.h>

#include <sstream>

#include "dova/package.hpp"

namespace dova::package {
namespace {

TEST(Records, DefaultApplication) {
  Application app;
  EXPECT_EQ(app.compiler_version, "0.1.0");
  EXPECT_TRUE(app.tiles.empty());
  EXPECT_EQ(app.host_exchange, HostExchange{});
}

TEST(Records, SegmentTextForm) {
  Segment s{0x4c000, 8, {1, 2, 3, 4}, 5};
  std::ostringstream out;
  out << s;
  EXPECT_EQ(out.str(), "Segment { address: 311296, memory_size: 8, data: [1, 2, 3, 4], flags: 5 }");
}

TEST(Errors, TextForms) {
  EXPECT_EQ(PackageError::invalid("application has no tiles").to_string(),
            "Invalid(\"application has no tiles\")");
  EXPECT_EQ(PackageError::schema_enum(4).to_string(), "SchemaEnum(4)");
  EXPECT_EQ(PackageError::utf8(3, 1).to_string(), "Utf8(valid_up_to: 3, error_len: 1)");
  EXPECT_EQ(PackageError::utf8(3, std::nullopt).to_string(), "Utf8(valid_up_to: 3, error_len: none)");
}

}  // namespace
}  // namespace dova::package
