#pragma once

// Running the built dovapkg as a process, and a scratch directory per test.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace dovapkg::testing {

struct ToolRun {
  int status = -1;  // the exit status; -1 when the process did not exit normally
  std::string out;
  std::string err;
};

// Runs dovapkg with the arguments in `directory`, standard input empty.
ToolRun run_tool(const std::vector<std::string>& args, const std::filesystem::path& directory);

std::vector<std::uint8_t> read_bytes(const std::filesystem::path& path);
std::string read_text(const std::filesystem::path& path);
void write_bytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);
void write_text(const std::filesystem::path& path, const std::string& text);

// A fresh, empty directory for each test, removed afterwards.
class ToolTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  ToolRun run(const std::vector<std::string>& args) const { return run_tool(args, dir_); }
  std::filesystem::path path(const std::string& name) const { return dir_ / name; }

  std::filesystem::path dir_;
};

}  // namespace dovapkg::testing
