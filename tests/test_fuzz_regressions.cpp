// Replays every seed (fuzz/seeds) and every saved fuzz input (fuzz/regressions: inputs that once
// broke a property or crashed) through all three fuzz targets' checks.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "checks.hpp"
#include "dova/package.hpp"

namespace dova::package {
namespace {

namespace fs = std::filesystem;

std::vector<std::uint8_t> load(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<fs::path> files_under(const fs::path& dir) {
  std::vector<fs::path> files;
  if (!fs::exists(dir)) return files;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    if (entry.is_regular_file() && entry.path().filename() != "README.md") {
      files.push_back(entry.path());
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

void expect_all_checks_hold(const std::vector<fs::path>& files) {
  for (const fs::path& file : files) {
    const std::vector<std::uint8_t> bytes = load(file);
    EXPECT_EQ(fuzz::check_application_bytes(bytes), std::nullopt) << file;
    EXPECT_EQ(fuzz::check_application_round_trip(bytes), std::nullopt) << file;
    EXPECT_EQ(fuzz::check_report_bytes(bytes), std::nullopt) << file;
  }
}

const fs::path FUZZ_DIR = fs::path(DOVA_SOURCE_DIR) / "fuzz";

TEST(FuzzRegressions, EverySeedAndSavedInputPassesEveryCheck) {
  const auto packages = files_under(FUZZ_DIR / "seeds" / "application");
  const auto reports = files_under(FUZZ_DIR / "seeds" / "report");
  ASSERT_FALSE(packages.empty());
  ASSERT_FALSE(reports.empty());
  // Seeds are the writers' own output: they must read, or they seed nothing deep.
  for (const fs::path& file : packages) {
    auto read = Application::read(load(file));
    EXPECT_TRUE(read.has_value()) << file << ": " << read.error();
  }
  for (const fs::path& file : reports) {
    auto read = ProfileReport::read(load(file));
    EXPECT_TRUE(read.has_value()) << file << ": " << read.error();
  }
  expect_all_checks_hold(packages);
  expect_all_checks_hold(reports);
  expect_all_checks_hold(files_under(FUZZ_DIR / "regressions"));
}

}  // namespace
}  // namespace dova::package
