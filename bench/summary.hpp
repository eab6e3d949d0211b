#pragma once

// Collects the times of every benchmark while the console output goes on as usual, then prints
// the ratios of each case to its baseline against the targets.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace dova::bench {

// One line of the summary: `subject`'s time divided by `baseline`'s, held against `target`.
struct Check {
  std::string subject;
  std::string baseline;
  std::optional<double> target;  // the largest acceptable ratio; none: reported only
};

struct Timing {
  // CPU time per iteration. Of several repetitions, the fastest: other work on the machine only
  // ever adds time, so the fastest repetition is the one it disturbed least.
  double cpu_ns = 0;
  std::optional<std::string> error;
};

// The statistic that Timing takes, registered with every case as "min".
double fastest(const std::vector<double>& times);

class CollectingReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override;
  std::map<std::string, Timing> timings() const;

 private:
  std::map<std::string, std::vector<double>> repetitions_;
  std::map<std::string, double> minimums_;
  std::map<std::string, std::string> errors_;
};

// Peak memory of reading the segment-heavy package from a span.
struct MemoryCheck {
  std::uint64_t input_bytes = 0;
  std::uint64_t record_bytes = 0;  // heap held by the decoded application
  std::uint64_t growth_bytes = 0;  // peak resident memory added during the read
  double limit_ratio = 1.10;       // peak may be at most (input + records) times this
  std::optional<std::string> error;
};

// Prints the table and returns the number of checks that failed or could not be made. When
// `enforce` is false the targets are shown but only errors count.
int print_summary(std::ostream& out, const std::map<std::string, Timing>& timings,
                  const std::vector<Check>& checks, const MemoryCheck& memory, bool enforce);

}  // namespace dova::bench
