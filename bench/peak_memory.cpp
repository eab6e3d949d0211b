#include "peak_memory.hpp"

#include <fcntl.h>
#include <malloc.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fmt/format.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "fixtures.hpp"

namespace dova::bench {
namespace {

// A field of /proc/self/status in bytes, such as VmRSS or VmHWM; 0 when it is missing.
std::uint64_t status_bytes(const std::string& field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field + ":", 0) == 0) {
      std::istringstream values(line.substr(field.size() + 1));
      std::uint64_t kib = 0;
      values >> kib;
      return kib * 1024;
    }
  }
  return 0;
}

// Resets the peak resident size to the current one.
bool reset_peak() {
  const int fd = ::open("/proc/self/clear_refs", O_WRONLY);
  if (fd < 0) return false;
  const bool ok = ::write(fd, "5", 1) == 1;
  ::close(fd);
  return ok;
}

std::uint64_t heap_in_use() {
  const struct mallinfo2 info = ::mallinfo2();
  return info.uordblks + info.hblkhd;
}

// Runs in the child; returns the line the parent parses.
std::string measure_in_child(std::uint32_t divisor) {
  std::vector<std::uint8_t> bytes;
  {
    const dp::Application app = make_segment_heavy(segment_heavy_shape(divisor));
    if (auto written = app.write(bytes); !written) return "error " + written.error().to_string();
  }
  // Give back what building the input left behind, so the read's growth shows in the peak.
  ::malloc_trim(0);
  const std::uint64_t resident_before = status_bytes("VmRSS");
  if (!reset_peak()) return "error cannot reset the peak resident size";
  const std::uint64_t heap_before = heap_in_use();

  auto application = dp::Application::read(bytes);
  if (!application) return "error " + application.error().to_string();

  const std::uint64_t heap_after = heap_in_use();
  const std::uint64_t peak = status_bytes("VmHWM");
  return fmt::format("ok {} {} {}", bytes.size(), heap_after - heap_before,
                     peak > resident_before ? peak - resident_before : 0);
}

}  // namespace

MemoryCheck measure_span_read_memory(std::uint32_t divisor) {
  MemoryCheck check;
  int fds[2];
  if (::pipe(fds) != 0) {
    check.error = "pipe failed";
    return check;
  }
  const pid_t child = ::fork();
  if (child < 0) {
    check.error = "fork failed";
    return check;
  }
  if (child == 0) {
    ::close(fds[0]);
    const std::string line = measure_in_child(divisor);
    const bool sent =
        ::write(fds[1], line.data(), line.size()) == static_cast<ssize_t>(line.size());
    ::_exit(sent ? 0 : 1);
  }
  ::close(fds[1]);
  std::string line;
  char buffer[256];
  for (ssize_t got; (got = ::read(fds[0], buffer, sizeof buffer)) > 0;) line.append(buffer, got);
  ::close(fds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);

  std::istringstream fields(line);
  std::string word;
  fields >> word;
  if (word != "ok") {
    check.error = line.empty() ? fmt::format("measuring child ended with status {}", status) : line;
    return check;
  }
  fields >> check.input_bytes >> check.record_bytes >> check.growth_bytes;
  return check;
}

}  // namespace dova::bench
