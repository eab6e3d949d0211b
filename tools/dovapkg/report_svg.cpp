#include <fmt/format.h>

#include <algorithm>
#include <cmath>

#include "clock.hpp"
#include "profile_math.hpp"
#include "report_views.hpp"

namespace dovapkg {
namespace {

namespace dp = dova::package;

constexpr double WIDTH = 1200;
constexpr double LEFT = 110;  // room for the row labels
constexpr double RIGHT = 30;
constexpr double PLOT_WIDTH = WIDTH - LEFT - RIGHT;
constexpr double PLOT_TOP = 96;

// Beyond these a row per tile and a rectangle per step make an unreadable, huge picture: rows
// then merge groups of tiles, and time is cut into bins.
constexpr std::size_t MAX_ROWS = 120;
constexpr std::size_t MAX_EXACT_SAMPLES = 20000;
constexpr std::size_t MERGED_ROWS = 64;
constexpr std::size_t BINS = 300;

constexpr std::array<std::string_view, STEP_KINDS.size()> COLOURS{"#4e79a7", "#59a14f", "#f28e2b",
                                                                  "#bab0ac"};

// Text for an element or attribute: markup characters escaped, and control characters (which
// XML does not allow) replaced.
std::string xml_text(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      default:
        if (static_cast<unsigned char>(c) < ' ' && c != '\n' && c != '\t') {
          out += '?';
        } else {
          out += c;
        }
    }
  }
  return out;
}

// The unit the time axis counts in: how many cycles one unit is, and its name.
struct AxisUnit {
  double cycles;
  std::string_view name;
};

AxisUnit axis_unit(std::uint64_t span_cycles, std::uint64_t clock_hz) {
  const double span = static_cast<double>(span_cycles);
  if (clock_hz == 0) {
    if (span >= 1e9) return {1e9, "G cycles"};
    if (span >= 1e6) return {1e6, "M cycles"};
    if (span >= 1e4) return {1e3, "k cycles"};
    return {1, "cycles"};
  }
  const double hz = static_cast<double>(clock_hz);
  const double seconds = span / hz;
  if (seconds >= 1) return {hz, "s"};
  if (seconds >= 1e-3) return {hz * 1e-3, "ms"};
  if (seconds >= 1e-6) return {hz * 1e-6, "µs"};
  return {hz * 1e-9, "ns"};
}

// A tick spacing of 1, 2 or 5 times a power of ten giving at most about ten ticks.
double tick_step(double span) {
  if (span <= 0) return 1;
  const double raw = span / 10;
  const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
  for (double factor : {1.0, 2.0, 5.0, 10.0}) {
    if (factor * magnitude >= raw) return factor * magnitude;
  }
  return 10 * magnitude;
}

struct Layout {
  std::size_t group = 1;  // tiles per row
  std::size_t rows = 0;
  bool binned = false;
  double row_height = 20;
  double bar_height = 16;
  std::size_t label_every = 1;
  double scale = 1;  // pixels per cycle
};

Layout choose_layout(const dp::ProfileReport& report, std::size_t samples, std::uint64_t span) {
  Layout layout;
  const std::size_t tiles = report.tiles.size();
  layout.binned = tiles > MAX_ROWS || samples > MAX_EXACT_SAMPLES;
  layout.group = layout.binned ? (tiles + MERGED_ROWS - 1) / MERGED_ROWS : 1;
  layout.rows = (tiles + layout.group - 1) / layout.group;
  if (layout.binned) {
    // Merged rows stack the kinds' shares, which needs some height.
    layout.row_height = 14;
    layout.bar_height = 12;
  } else {
    layout.row_height = layout.rows <= 32 ? 20 : layout.rows <= 64 ? 12 : 8;
    layout.bar_height = layout.row_height - (layout.row_height >= 12 ? 4 : 1);
  }
  layout.label_every = layout.row_height >= 12 ? 1 : 2;
  layout.scale = PLOT_WIDTH / static_cast<double>(std::max<std::uint64_t>(span, 1));
  return layout;
}

std::string row_label(const dp::ProfileReport& report, const Layout& layout, std::size_t row) {
  const std::size_t first = row * layout.group;
  const std::size_t last = std::min(report.tiles.size(), first + layout.group) - 1;
  if (first == last) return fmt::format("tile {}", report.tiles[first].physical_tile);
  return fmt::format("tiles {}–{}", report.tiles[first].physical_tile,
                     report.tiles[last].physical_tile);
}

void exact_row(std::string& out, const dp::ProfileReport& report, std::size_t t, double y,
               const Layout& layout) {
  const dp::TileProfile& tile = report.tiles[t];
  const std::vector<std::uint64_t> starts = tile_timeline(tile);
  for (std::size_t i = 0; i < tile.samples.size(); ++i) {
    const dp::CycleSample& sample = tile.samples[i];
    const std::uint32_t cycles = step_cycles(sample);
    std::string time;
    if (report.clock_hz != 0) {
      time =
          fmt::format(", {}", format_microseconds(cycles_to_microseconds(cycles, report.clock_hz)));
    }
    out += fmt::format(
        "<rect class=\"s{}\" x=\"{:.2f}\" y=\"{:.1f}\" width=\"{:.2f}\" height=\"{:.1f}\">"
        "<title>tile {} step {}: {} {}\n{}\n{} cycles{}</title></rect>\n",
        kind_index(sample.step.kind), LEFT + static_cast<double>(starts[i]) * layout.scale, y,
        static_cast<double>(cycles) * layout.scale, layout.bar_height, tile.physical_tile,
        sample.step.local_index, dp::to_string(sample.step.kind), xml_text(sample.step.operation),
        xml_text(sample.step.kernel), cycles, time);
  }
}

// One row of merged tiles: time cut into bins, and in each bin the kinds stacked from the
// bottom, each as high as the share of the row's tile time spent in it. Neighbouring bins that
// look alike share their rectangles.
void binned_row(std::string& out, const dp::ProfileReport& report, std::size_t row, double y,
                const Layout& layout, std::uint64_t span) {
  const std::size_t first = row * layout.group;
  const std::size_t last = std::min(report.tiles.size(), first + layout.group);
  const double bin_cycles = static_cast<double>(std::max<std::uint64_t>(span, 1)) / BINS;
  std::vector<std::array<double, STEP_KINDS.size()>> bins(BINS);
  for (std::size_t t = first; t < last; ++t) {
    const dp::TileProfile& tile = report.tiles[t];
    const std::vector<std::uint64_t> starts = tile_timeline(tile);
    for (std::size_t i = 0; i < tile.samples.size(); ++i) {
      const double begin = static_cast<double>(starts[i]);
      const double end = static_cast<double>(starts[i + 1]);
      const std::size_t kind = kind_index(tile.samples[i].step.kind);
      auto b = static_cast<std::size_t>(begin / bin_cycles);
      for (; b < BINS && static_cast<double>(b) * bin_cycles < end; ++b) {
        const double overlap = std::min(end, static_cast<double>(b + 1) * bin_cycles) -
                               std::max(begin, static_cast<double>(b) * bin_cycles);
        if (overlap > 0) bins[b][kind] += overlap;
      }
    }
  }
  // Heights in sixths of the bar: coarse enough that alike bins compare equal and merge.
  const double capacity = bin_cycles * static_cast<double>(last - first);
  constexpr int full = 6;
  const double unit = layout.bar_height / full;
  // The busy share of a bin sets the stack's height (at least one unit when anything runs, so
  // a lone busy tile stays visible); the kinds split it by largest remainder.
  const auto heights = [&](std::size_t b) {
    std::array<int, STEP_KINDS.size()> h{};
    double busy = 0;
    for (double cycles : bins[b]) busy += cycles;
    if (busy <= 0) return h;
    const int total = std::clamp(static_cast<int>(std::lround(busy / capacity * full)), 1, full);
    std::array<double, STEP_KINDS.size()> remainder{};
    int given = 0;
    for (std::size_t k = 0; k < h.size(); ++k) {
      const double exact = bins[b][k] / busy * total;
      h[k] = static_cast<int>(exact);
      remainder[k] = exact - h[k];
      given += h[k];
    }
    for (; given < total; ++given) {
      const auto k = static_cast<std::size_t>(std::max_element(remainder.begin(), remainder.end()) -
                                              remainder.begin());
      ++h[k];
      remainder[k] = -1;
    }
    return h;
  };
  const double bin_width = PLOT_WIDTH / BINS;
  for (std::size_t b = 0; b < BINS;) {
    const auto h = heights(b);
    std::size_t end = b + 1;
    while (end < BINS && heights(end) == h) ++end;
    double top = y + layout.bar_height;
    for (std::size_t k = 0; k < h.size(); ++k) {
      if (h[k] == 0) continue;
      top -= h[k] * unit;
      out += fmt::format(
          "<rect class=\"s{} m\" x=\"{:.2f}\" y=\"{:.1f}\" width=\"{:.2f}\" height=\"{:.1f}\"/>\n",
          k, LEFT + static_cast<double>(b) * bin_width, top,
          static_cast<double>(end - b) * bin_width, h[k] * unit);
    }
    b = end;
  }
}

void legend(std::string& out, const std::array<std::uint64_t, STEP_KINDS.size()>& by_kind,
            std::uint64_t total) {
  double x = LEFT;
  for (std::size_t k = 0; k < STEP_KINDS.size(); ++k) {
    const std::string share =
        total == 0 ? std::string()
                   : fmt::format(" {:.1f}%", 100.0 * static_cast<double>(by_kind[k]) /
                                                 static_cast<double>(total));
    const std::string label = fmt::format("{}{}", dp::to_string(STEP_KINDS[k]), share);
    out += fmt::format(
        "<rect x=\"{:.1f}\" y=\"64\" width=\"14\" height=\"14\" rx=\"2\" fill=\"{}\"/>"
        "<text x=\"{:.1f}\" y=\"75.5\" class=\"label\">{}</text>\n",
        x, COLOURS[k], x + 20, label);
    x += 40 + 7.2 * static_cast<double>(label.size());
  }
}

void time_axis(std::string& out, double bottom, std::uint64_t span, std::uint64_t clock_hz,
               double scale) {
  const AxisUnit unit = axis_unit(span, clock_hz);
  const double span_units = static_cast<double>(span) / unit.cycles;
  const double step = tick_step(span_units);
  out += fmt::format(
      "<line x1=\"{:.1f}\" y1=\"{:.1f}\" x2=\"{:.1f}\" y2=\"{:.1f}\" "
      "stroke=\"#444\"/>\n",
      LEFT, bottom, LEFT + PLOT_WIDTH, bottom);
  for (int i = 0;; ++i) {
    const double value = i * step;
    if (value > span_units * (1 + 1e-9)) break;
    const double x = LEFT + value * unit.cycles * scale;
    out += fmt::format(
        "<line x1=\"{0:.2f}\" y1=\"{1:.1f}\" x2=\"{0:.2f}\" y2=\"{2:.1f}\" class=\"grid\"/>"
        "<line x1=\"{0:.2f}\" y1=\"{2:.1f}\" x2=\"{0:.2f}\" y2=\"{3:.1f}\" stroke=\"#444\"/>"
        "<text x=\"{0:.2f}\" y=\"{4:.1f}\" class=\"tick\">{5:g}</text>\n",
        x, PLOT_TOP - 4, bottom, bottom + 5, bottom + 18, value);
  }
  const std::string what = clock_hz == 0 ? "clock rate unknown" : format_clock(clock_hz);
  out += fmt::format(
      "<text x=\"{:.1f}\" y=\"{:.1f}\" class=\"axis\">time from each tile's first reading ({}; "
      "{})</text>\n",
      LEFT + PLOT_WIDTH / 2, bottom + 38, unit.name, what);
}

}  // namespace

std::string report_svg(const dp::ProfileReport& report) {
  std::size_t samples = 0;
  std::uint64_t span = 0;
  TileTotals overall;
  for (const dp::TileProfile& tile : report.tiles) {
    const TileTotals totals = tile_totals(tile);
    samples += tile.samples.size();
    span = std::max(span, totals.cycles);
    overall.cycles += totals.cycles;
    for (std::size_t k = 0; k < STEP_KINDS.size(); ++k) overall.by_kind[k] += totals.by_kind[k];
  }
  const Layout layout = choose_layout(report, samples, span);
  const double bottom = PLOT_TOP + static_cast<double>(layout.rows) * layout.row_height + 4;
  const double height = bottom + (layout.binned ? 78 : 56);

  std::string out = fmt::format(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"{0:.0f}\" height=\"{1:.0f}\" "
      "viewBox=\"0 0 {0:.0f} {1:.0f}\" font-family=\"DejaVu Sans, Helvetica, Arial, "
      "sans-serif\">\n",
      WIDTH, height);
  out += "<style>\n";
  for (std::size_t k = 0; k < STEP_KINDS.size(); ++k) {
    out += fmt::format(".s{}{{fill:{}}}\n", k, COLOURS[k]);
  }
  out +=
      ".label{font-size:12px;fill:#222}\n"
      ".row{font-size:11px;fill:#333;text-anchor:end}\n"
      ".tick{font-size:10px;fill:#444;text-anchor:middle}\n"
      ".axis{font-size:12px;fill:#222;text-anchor:middle}\n"
      ".note{font-size:11px;fill:#555}\n"
      ".grid{stroke:#d8d8d8;stroke-width:1}\n"
      // A hairline between neighbouring steps keeps steps of one kind apart.
      ".s0,.s1,.s2,.s3{stroke:#fff;stroke-width:0.5}\n"
      ".m{stroke:none;shape-rendering:crispEdges}\n"
      ".s0:hover,.s1:hover,.s2:hover,.s3:hover{stroke:#000;stroke-width:1}\n"
      "</style>\n";
  out +=
      fmt::format("<rect width=\"{:.0f}\" height=\"{:.0f}\" fill=\"#ffffff\"/>\n", WIDTH, height);
  out += fmt::format(
      "<text x=\"{:.1f}\" y=\"28\" font-size=\"18\" font-weight=\"bold\" "
      "fill=\"#111\">Cycle profile timeline</text>\n",
      LEFT);
  out += fmt::format(
      "<text x=\"{:.1f}\" y=\"48\" class=\"note\">{} tiles, {} steps, clock {}; "
      "each tile's row starts at its first counter reading</text>\n",
      LEFT, report.tiles.size(), samples, format_clock(report.clock_hz));
  legend(out, overall.by_kind, overall.cycles);

  if (report.tiles.empty()) {
    out += fmt::format(
        "<text x=\"{:.1f}\" y=\"{:.1f}\" class=\"label\">The report has no "
        "profiled tiles.</text>\n</svg>\n",
        LEFT, PLOT_TOP + 20);
    return out;
  }

  out += fmt::format(
      "<rect x=\"{:.1f}\" y=\"{:.1f}\" width=\"{:.1f}\" height=\"{:.1f}\" "
      "fill=\"#f6f6f6\"/>\n",
      LEFT, PLOT_TOP - 4, PLOT_WIDTH, bottom - PLOT_TOP + 4);
  time_axis(out, bottom, span, report.clock_hz, layout.scale);
  for (std::size_t row = 0; row < layout.rows; ++row) {
    const double y = PLOT_TOP + static_cast<double>(row) * layout.row_height;
    if (row % layout.label_every == 0) {
      out += fmt::format("<text x=\"{:.1f}\" y=\"{:.1f}\" class=\"row\">{}</text>\n", LEFT - 8,
                         y + layout.bar_height / 2 + 4, xml_text(row_label(report, layout, row)));
    }
    if (layout.binned) {
      binned_row(out, report, row, y, layout, span);
    } else {
      exact_row(out, report, row, y, layout);
    }
  }
  if (layout.binned) {
    out += fmt::format(
        "<text x=\"{:.1f}\" y=\"{:.1f}\" class=\"note\">Condensed: each row merges up to {} "
        "tiles and time is cut into {} slices; in a slice each kind is as high as its share of "
        "the row's tiles.</text>\n",
        LEFT, bottom + 60, layout.group, BINS);
  }
  out += "</svg>\n";
  return out;
}

}  // namespace dovapkg
