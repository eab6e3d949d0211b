#include "summary.hpp"

#include <fmt/format.h>

#include <algorithm>

namespace dova::bench {
namespace {

constexpr double NS_PER_UNIT[] = {1.0, 1e3, 1e6, 1e9};  // kNanosecond .. kSecond

double per_iteration_ns(const benchmark::BenchmarkReporter::Run& run) {
  return run.GetAdjustedCPUTime() * NS_PER_UNIT[static_cast<int>(run.time_unit)];
}

std::string mib(std::uint64_t bytes) {
  return fmt::format("{:.1f} MiB", static_cast<double>(bytes) / (1024.0 * 1024.0));
}

}  // namespace

double fastest(const std::vector<double>& times) {
  return times.empty() ? 0.0 : *std::min_element(times.begin(), times.end());
}

void CollectingReporter::ReportRuns(const std::vector<Run>& runs) {
  for (const Run& run : runs) {
    const std::string& name = run.run_name.function_name;
    if (run.error_occurred) {
      errors_[name] = run.error_message;
    } else if (run.run_type == Run::RT_Iteration) {
      repetitions_[name].push_back(per_iteration_ns(run));
    } else if (run.aggregate_name == "min") {
      minimums_[name] = per_iteration_ns(run);
    }
  }
  ConsoleReporter::ReportRuns(runs);
}

std::map<std::string, Timing> CollectingReporter::timings() const {
  std::map<std::string, Timing> result;
  for (const auto& [name, times] : repetitions_) result[name].cpu_ns = fastest(times);
  // When only aggregates were reported, the "min" aggregate stands for the runs.
  for (const auto& [name, time] : minimums_) result[name].cpu_ns = time;
  for (const auto& [name, message] : errors_) result[name].error = message;
  return result;
}

int print_summary(std::ostream& out, const std::map<std::string, Timing>& timings,
                  const std::vector<Check>& checks, const MemoryCheck& memory, bool enforce) {
  int failures = 0;
  out << fmt::format("\n{:<28} {:>11} {:<26} {:>11} {:>7} {:>7}  {}\n", "case", "time ms",
                     "baseline", "base ms", "ratio", "target", "result");
  out << std::string(102, '-') << '\n';
  for (const Check& check : checks) {
    const auto subject = timings.find(check.subject);
    const auto baseline = timings.find(check.baseline);
    const std::string target = check.target ? fmt::format("{:.2f}", *check.target) : "-";
    if (subject == timings.end() || baseline == timings.end()) {
      out << fmt::format("{:<28} {:>11} {:<26} {:>11} {:>7} {:>7}  {}\n", check.subject, "-",
                         check.baseline, "-", "-", target, "not run");
      continue;
    }
    const auto& error = subject->second.error ? subject->second.error : baseline->second.error;
    if (error) {
      ++failures;
      out << fmt::format("{:<28} {:>11} {:<26} {:>11} {:>7} {:>7}  error: {}\n", check.subject, "-",
                         check.baseline, "-", "-", target, *error);
      continue;
    }
    const double time = subject->second.cpu_ns;
    const double base = baseline->second.cpu_ns;
    const double ratio = time / base;
    std::string result = "-";
    if (check.target) {
      const bool pass = ratio <= *check.target;
      if (!pass && enforce) ++failures;
      result = pass ? "pass" : "FAIL";
    }
    out << fmt::format("{:<28} {:>11.3f} {:<26} {:>11.3f} {:>7.3f} {:>7}  {}\n", check.subject,
                       time / 1e6, check.baseline, base / 1e6, ratio, target, result);
  }

  out << '\n';
  if (memory.error) {
    ++failures;
    out << "peak memory of segment/read_span: error: " << *memory.error << '\n';
  } else {
    const std::uint64_t peak = memory.input_bytes + memory.growth_bytes;
    const std::uint64_t floor = memory.input_bytes + memory.record_bytes;
    const double ratio = static_cast<double>(peak) / static_cast<double>(floor);
    const bool pass = ratio <= memory.limit_ratio;
    if (!pass && enforce) ++failures;
    out << fmt::format(
        "peak memory of segment/read_span: input {} + growth {} = {}; input + records {} "
        "(records {}); ratio {:.3f}, target {:.2f}  {}\n",
        mib(memory.input_bytes), mib(memory.growth_bytes), mib(peak), mib(floor),
        mib(memory.record_bytes), ratio, memory.limit_ratio, pass ? "pass" : "FAIL");
  }
  return failures;
}

}  // namespace dova::bench
