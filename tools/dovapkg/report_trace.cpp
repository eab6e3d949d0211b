#include <fmt/format.h>

#include <algorithm>

#include "clock.hpp"
#include "json_form.hpp"
#include "profile_math.hpp"
#include "report_views.hpp"

namespace dovapkg {
namespace {

namespace dp = dova::package;

constexpr int PROCESS_ID = 1;

// Trace times are microseconds. Without a clock rate one cycle counts as one microsecond, so the
// picture keeps its proportions; otherData says which unit applies.
double trace_time(std::uint64_t cycles, std::uint64_t clock_hz) {
  return clock_hz == 0 ? static_cast<double>(cycles) : cycles_to_microseconds(cycles, clock_hz);
}

Json metadata_object(const std::vector<dp::ProfileMetadata>& metadata) {
  Json object = Json::object();
  for (const dp::ProfileMetadata& item : metadata) {
    // A repeated name keeps every value, as a list.
    if (!object.contains(item.name)) {
      object[item.name] = item.value;
    } else {
      Json& slot = object[item.name];
      if (!slot.is_array()) slot = Json::array({slot});
      slot.push_back(item.value);
    }
  }
  return object;
}

Json thread_metadata(std::size_t track, std::string_view name, Json args) {
  return Json{{"name", name}, {"ph", "M"}, {"pid", PROCESS_ID}, {"tid", track}, {"args", args}};
}

}  // namespace

std::string report_trace(const dp::ProfileReport& report) {
  Json events = Json::array();
  events.push_back(Json{{"name", "process_name"},
                        {"ph", "M"},
                        {"pid", PROCESS_ID},
                        {"args", {{"name", "cycle profile"}}}});
  for (std::size_t track = 0; track < report.tiles.size(); ++track) {
    const dp::TileProfile& tile = report.tiles[track];
    // Tracks are numbered by report position, so two plans for one tile stay apart.
    events.push_back(thread_metadata(track, "thread_name",
                                     {{"name", fmt::format("tile {}", tile.physical_tile)}}));
    events.push_back(thread_metadata(track, "thread_sort_index", {{"sort_index", track}}));
    const std::vector<std::uint64_t> starts = tile_timeline(tile);
    for (std::size_t i = 0; i < tile.samples.size(); ++i) {
      const dp::CycleSample& sample = tile.samples[i];
      const dp::ProfileStep& step = sample.step;
      const std::uint32_t cycles = step_cycles(sample);
      events.push_back(Json{{"name", step.operation},
                            {"cat", dp::to_string(step.kind)},
                            {"ph", "X"},
                            {"pid", PROCESS_ID},
                            {"tid", track},
                            {"ts", trace_time(starts[i], report.clock_hz)},
                            {"dur", trace_time(cycles, report.clock_hz)},
                            {"args",
                             {{"kernel", step.kernel},
                              {"local_index", step.local_index},
                              {"phase", step.phase},
                              {"epoch", step.epoch},
                              {"cycles", cycles},
                              {"start_cycle", sample.start_cycle},
                              {"end_cycle", sample.end_cycle},
                              {"exchange_event_cycles", step.exchange_event_cycles},
                              {"metadata", metadata_object(step.metadata)}}}});
      // Exchange activities count cycles from the start of their step. They nest inside the
      // step's event, so an interval reaching past the step is cut at its end.
      for (const dp::ProfileExchangeActivity& activity : step.exchange_activities) {
        const std::uint64_t begin = std::min<std::uint64_t>(activity.start_cycle, cycles);
        const std::uint64_t length =
            std::min<std::uint64_t>(activity.end_cycle - activity.start_cycle, cycles - begin);
        events.push_back(Json{
            {"name", dp::to_string(activity.kind)},
            {"cat", "exchange activity"},
            {"ph", "X"},
            {"pid", PROCESS_ID},
            {"tid", track},
            {"ts", trace_time(starts[i] + begin, report.clock_hz)},
            {"dur", trace_time(length, report.clock_hz)},
            {"args", {{"start_cycle", activity.start_cycle}, {"end_cycle", activity.end_cycle}}}});
      }
    }
  }
  Json trace{
      {"traceEvents", std::move(events)},
      {"displayTimeUnit", "ns"},
      {"otherData",
       {{"clock_hz", report.clock_hz},
        {"time_unit", report.clock_hz == 0 ? "cycles (clock rate unknown)" : "microseconds"}}}};
  // One line: traces of large reports stay compact.
  return dump_json(trace, -1);
}

}  // namespace dovapkg
