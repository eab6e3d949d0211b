#include <fmt/format.h>

#include <algorithm>

#include "clock.hpp"
#include "profile_math.hpp"
#include "report_views.hpp"
#include "table.hpp"

namespace dovapkg {
namespace {

namespace dp = dova::package;

constexpr std::size_t LONGEST = 5;

std::string share(std::uint64_t part, std::uint64_t whole) {
  if (whole == 0) return "-";
  return fmt::format("{:.1f}%", 100.0 * static_cast<double>(part) / static_cast<double>(whole));
}

std::string kind_cell(std::uint64_t cycles, std::uint64_t total) {
  return fmt::format("{} ({})", cycles, share(cycles, total));
}

std::vector<Column> tile_columns(bool timed) {
  std::vector<Column> columns{
      {"tile", Align::Right}, {"steps", Align::Right}, {"total cycles", Align::Right}};
  if (timed) columns.push_back({"wall time", Align::Right});
  for (dp::ProfileStepKind kind : STEP_KINDS) {
    columns.push_back({std::string(dp::to_string(kind)), Align::Right});
  }
  return columns;
}

std::vector<std::string> tile_row(std::string label, std::size_t steps, const TileTotals& totals,
                                  const dp::ProfileReport& report, bool with_time) {
  std::vector<std::string> row{std::move(label), std::to_string(steps),
                               std::to_string(totals.cycles)};
  if (report.clock_hz != 0) {
    row.push_back(with_time
                      ? format_microseconds(cycles_to_microseconds(totals.cycles, report.clock_hz))
                      : "");
  }
  for (std::uint64_t cycles : totals.by_kind) row.push_back(kind_cell(cycles, totals.cycles));
  return row;
}

}  // namespace

std::string report_summary(const dp::ProfileReport& report, bool all) {
  const bool timed = report.clock_hz != 0;
  std::size_t steps = 0;
  TileTotals overall;
  std::uint64_t longest_tile = 0;
  std::vector<TileTotals> per_tile;
  for (const dp::TileProfile& tile : report.tiles) {
    per_tile.push_back(tile_totals(tile));
    steps += tile.samples.size();
    overall.cycles += per_tile.back().cycles;
    for (std::size_t k = 0; k < STEP_KINDS.size(); ++k) {
      overall.by_kind[k] += per_tile.back().by_kind[k];
    }
    longest_tile = std::max(longest_tile, per_tile.back().cycles);
  }

  std::string out = fmt::format("Cycle profile: {} tiles, {} steps, clock {}\n",
                                report.tiles.size(), steps, format_clock(report.clock_hz));
  if (timed) {
    out += fmt::format("Longest tile: {} cycles, {}\n", longest_tile,
                       format_microseconds(cycles_to_microseconds(longest_tile, report.clock_hz)));
  } else {
    out += "The clock rate is 0 (unknown): lengths are in cycles only.\n";
  }
  if (report.tiles.empty()) return out;

  Table tiles(tile_columns(timed));
  for (const auto& row : rows_to_show(report.tiles.size(), all)) {
    if (!row) {
      tiles.add_note(
          fmt::format("... {} more tiles (--all lists every row)",
                      report.tiles.size() - rows_to_show(report.tiles.size(), false).size() + 1));
      continue;
    }
    tiles.add_row(tile_row(std::to_string(report.tiles[*row].physical_tile),
                           report.tiles[*row].samples.size(), per_tile[*row], report, true));
  }
  if (report.tiles.size() > 1) tiles.add_row(tile_row("all", steps, overall, report, false));
  out += '\n';
  out += tiles.render();

  const std::vector<SampleRef> longest = longest_samples(report, LONGEST);
  if (longest.empty()) return out;
  std::vector<Column> columns{
      {"tile", Align::Right},  {"step", Align::Right}, {"kind"}, {"operation"}, {"kernel"},
      {"cycles", Align::Right}};
  if (timed) columns.push_back({"time", Align::Right});
  Table table(std::move(columns));
  for (const SampleRef& ref : longest) {
    const dp::CycleSample& sample = report.tiles[ref.tile].samples[ref.sample];
    std::vector<std::string> row{std::to_string(report.tiles[ref.tile].physical_tile),
                                 std::to_string(sample.step.local_index),
                                 std::string(dp::to_string(sample.step.kind)),
                                 printable(sample.step.operation),
                                 printable(sample.step.kernel),
                                 std::to_string(step_cycles(sample))};
    if (timed) {
      row.push_back(
          format_microseconds(cycles_to_microseconds(step_cycles(sample), report.clock_hz)));
    }
    table.add_row(std::move(row));
  }
  out += fmt::format("\nLongest steps\n{}", table.render());
  return out;
}

}  // namespace dovapkg
