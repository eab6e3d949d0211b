// dova_package_bench: the library's operations on packages of hundreds of MiB, each timed against
// a baseline measured in the same run, then a summary of the ratios against their targets.
//
// Own options (the rest go to Google Benchmark):
//   --scale=N  divide every fixture's size by N (default 1)
//   --smoke    two iterations per case; targets are shown but only errors fail the run
//   --os-memory  leave the allocator as it is: freed memory goes back to the system, in pages
//                of 4 KiB (see below)

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "cases.hpp"
#include "peak_memory.hpp"
#include "summary.hpp"

namespace {

struct Options {
  std::uint32_t divisor = 1;
  bool smoke = false;
  bool os_memory = false;
};

// The allocator places its memory in transparent huge pages. The time of a memory copy grows with
// the number of pages it walks as well as with its bytes; with 4 KiB pages a 600 MiB copy cost
// about 20 times a 38 MiB one on the development machine, so the growth of the library's
// operations with their input was hidden behind that of the page walks. The allocator reads the
// setting only when a process starts: the program runs itself again with it.
void run_with_huge_pages(char** argv) {
  constexpr std::string_view setting = "glibc.malloc.hugetlb=1";
  const char* tunables = std::getenv("GLIBC_TUNABLES");
  if (tunables != nullptr && std::string_view(tunables).find(setting) != std::string_view::npos) {
    return;
  }
  std::string value(setting);
  if (tunables != nullptr && *tunables != '\0') value = std::string(tunables) + ":" + value;
  ::setenv("GLIBC_TUNABLES", value.c_str(), 1);
  ::execv("/proc/self/exe", argv);
  // Without it the run goes on with normal pages.
}

// Freed memory stays in the process instead of going back to the system. Memory the system takes
// back may be handed on to a hypervisor, and touching it again then costs microseconds per page:
// every large case would time that, and sizes that recycle memory quickly would not.
void keep_freed_memory() {
  ::mallopt(M_MMAP_MAX, 0);
  ::mallopt(M_TRIM_THRESHOLD, -1);
}

// Takes this program's own options out of argv; returns false on a malformed one.
bool take_own_options(int& argc, char** argv, Options& options) {
  constexpr std::string_view scale = "--scale=";
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument == "--smoke") {
      options.smoke = true;
    } else if (argument == "--os-memory") {
      options.os_memory = true;
    } else if (argument.starts_with(scale)) {
      const std::string_view value = argument.substr(scale.size());
      const auto [end, error] =
          std::from_chars(value.data(), value.data() + value.size(), options.divisor);
      if (error != std::errc{} || end != value.data() + value.size() || options.divisor == 0) {
        std::cerr << "dova_package_bench: --scale needs a positive whole number\n";
        return false;
      }
    } else {
      argv[kept++] = argv[i];
    }
  }
  argc = kept;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  // Before anything is taken out of argv, so that a second start sees the same arguments.
  const bool os_memory = std::any_of(argv + 1, argv + argc, [](const char* argument) {
    return std::string_view(argument) == "--os-memory";
  });
  if (!os_memory) run_with_huge_pages(argv);
  if (!take_own_options(argc, argv, options)) return 2;
  // Other work on the machine slows some stretches of a run more than others. Five repetitions,
  // run in a shuffled order, spread that over all cases; each case counts by its fastest
  // repetition. Given before the caller's arguments, which may override them.
  std::vector<char*> arguments(argv, argv + argc);
  char repetitions[] = "--benchmark_repetitions=5";
  char interleave[] = "--benchmark_enable_random_interleaving=true";
  char aggregates[] = "--benchmark_display_aggregates_only=true";
  if (!options.smoke)
    arguments.insert(arguments.begin() + 1, {repetitions, interleave, aggregates});
  int count = static_cast<int>(arguments.size());
  benchmark::Initialize(&count, arguments.data());
  if (benchmark::ReportUnrecognizedArguments(count, arguments.data())) return 2;

  // Before any fixture exists, so the measuring child starts from a small heap.
  const dova::bench::MemoryCheck memory = dova::bench::measure_span_read_memory(options.divisor);

  if (!options.os_memory) keep_freed_memory();
  dova::bench::Fixtures fixtures(options.divisor);
  dova::bench::register_cases(fixtures, options.smoke);
  dova::bench::CollectingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  const int failures = dova::bench::print_summary(std::cout, reporter.timings(),
                                                  dova::bench::checks(), memory, !options.smoke);
  return failures == 0 ? 0 : 1;
}
