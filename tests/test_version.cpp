#include <gtest/gtest.h>

#include <string>

#include "dova/package/version.hpp"

namespace dova::package {
namespace {

// The header is generated from the project version; its numbers and its text must agree with it.
TEST(Version, MatchesProjectVersion) {
  EXPECT_EQ(VERSION, DOVA_PROJECT_VERSION);
  EXPECT_EQ(VERSION, "0.1.0");
  EXPECT_EQ(std::to_string(VERSION_MAJOR) + "." + std::to_string(VERSION_MINOR) + "." +
                std::to_string(VERSION_PATCH),
            VERSION);
}

}  // namespace
}  // namespace dova::package
