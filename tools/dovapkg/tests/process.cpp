#include "process.hpp"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <sstream>

namespace dovapkg::testing {

ToolRun run_tool(const std::vector<std::string>& args, const std::filesystem::path& directory) {
  // Output goes to files rather than pipes, so a chatty child can never block on a full pipe.
  const std::filesystem::path out_file = directory / ".stdout";
  const std::filesystem::path err_file = directory / ".stderr";
  std::vector<std::string> words{DOVAPKG_PATH};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);

  const pid_t child = ::fork();
  if (child == 0) {
    const int in = ::open("/dev/null", O_RDONLY);
    const int out = ::open(out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = ::open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0 || ::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 ||
        ::dup2(err, 2) < 0 || ::chdir(directory.c_str()) != 0) {
      ::_exit(127);
    }
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ToolRun run;
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) != child) return run;
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.out = read_text(out_file);
  run.err = read_text(err_file);
  std::filesystem::remove(out_file);
  std::filesystem::remove(err_file);
  return run;
}

std::vector<std::uint8_t> read_bytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string read_text(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void write_bytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

void write_text(const std::filesystem::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

void ToolTest::SetUp() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  // Parameterised tests have slashes in their names.
  std::string name = std::string("dovapkg-") + info->test_suite_name() + "-" + info->name() + "-" +
                     std::to_string(::getpid());
  for (char& c : name) {
    if (c == '/') c = '_';
  }
  dir_ = std::filesystem::temp_directory_path() / name;
  std::filesystem::remove_all(dir_);
  std::filesystem::create_directories(dir_);
}

void ToolTest::TearDown() { std::filesystem::remove_all(dir_); }

}  // namespace dovapkg::testing
