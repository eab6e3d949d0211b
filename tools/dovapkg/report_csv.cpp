#include <fmt/format.h>

#include "clock.hpp"
#include "profile_math.hpp"
#include "report_views.hpp"

namespace dovapkg {
namespace {

namespace dp = dova::package;

// A text field, quoted when it holds a separator, a quote or a line break.
std::string csv_text(std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

}  // namespace

std::string report_csv(const dp::ProfileReport& report) {
  std::string out =
      "tile,local_index,kind,operation,kernel,phase,epoch,start_cycle,end_cycle,cycles,"
      "microseconds\n";
  for (const dp::TileProfile& tile : report.tiles) {
    for (const dp::CycleSample& sample : tile.samples) {
      const dp::ProfileStep& step = sample.step;
      const std::uint32_t cycles = step_cycles(sample);
      // Without a clock rate there is no time to give: the field stays empty.
      const std::string microseconds =
          report.clock_hz == 0
              ? std::string()
              : fmt::format("{:.6f}", cycles_to_microseconds(cycles, report.clock_hz));
      out += fmt::format("{},{},{},{},{},{},{},{},{},{},{}\n", tile.physical_tile, step.local_index,
                         dp::to_string(step.kind), csv_text(step.operation), csv_text(step.kernel),
                         step.phase, step.epoch, sample.start_cycle, sample.end_cycle, cycles,
                         microseconds);
    }
  }
  return out;
}

}  // namespace dovapkg
