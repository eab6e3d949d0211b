#include "package_summary.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <limits>

#include "table.hpp"

namespace dovapkg {
namespace {

namespace dp = dova::package;

constexpr dp::ProfileStepKind STEP_KINDS[] = {
    dp::ProfileStepKind::Exchange, dp::ProfileStepKind::Compute,
    dp::ProfileStepKind::Synchronization, dp::ProfileStepKind::Idle};

std::uint64_t saturating_add(std::uint64_t a, std::uint64_t b) {
  return a > std::numeric_limits<std::uint64_t>::max() - b
             ? std::numeric_limits<std::uint64_t>::max()
             : a + b;
}

std::string plural(std::size_t count, std::string_view one, std::string_view many) {
  return fmt::format("{} {}", count, count == 1 ? one : many);
}

std::string hex(std::uint64_t value) { return fmt::format("{:#x}", value); }

std::string list_text(const std::vector<std::uint32_t>& numbers) {
  return fmt::format("[{}]", fmt::join(numbers, ", "));
}

// Adds the rows chosen by rows_to_show, with a note where rows are left out.
template <class Fill>
void add_rows(Table& table, std::size_t count, bool all, std::string_view what, Fill fill) {
  for (const auto& row : rows_to_show(count, all)) {
    if (row) {
      table.add_row(fill(*row));
    } else {
      table.add_note(fmt::format("... {} more {} (--all lists every row)",
                                 count - rows_to_show(count, false).size() + 1, what));
    }
  }
}

void tiles_section(std::string& out, const dp::Application& app, bool all) {
  std::size_t segments = 0;
  std::uint64_t data_bytes = 0;
  std::uint64_t memory_bytes = 0;
  for (const dp::TileImage& tile : app.tiles) {
    segments += tile.segments.size();
    for (const dp::Segment& segment : tile.segments) {
      data_bytes += segment.data.size();
      memory_bytes += segment.memory_size;
    }
  }
  out += fmt::format("\nTiles: {} ({}, {} data bytes, {} memory bytes)\n", app.tiles.size(),
                     plural(segments, "segment", "segments"), data_bytes, memory_bytes);
  if (app.tiles.empty()) return;
  Table table({{"tile", Align::Right},
               {"segments", Align::Right},
               {"data bytes", Align::Right},
               {"memory bytes", Align::Right},
               {"load base", Align::Right},
               {"entry point", Align::Right}});
  add_rows(table, app.tiles.size(), all, "tiles", [&](std::size_t i) {
    const dp::TileImage& tile = app.tiles[i];
    std::uint64_t data = 0;
    std::uint64_t memory = 0;
    std::uint32_t base = std::numeric_limits<std::uint32_t>::max();
    for (const dp::Segment& segment : tile.segments) {
      data += segment.data.size();
      memory += segment.memory_size;
      base = std::min(base, segment.address);
    }
    return std::vector<std::string>{std::to_string(tile.physical_tile),
                                    std::to_string(tile.segments.size()),
                                    std::to_string(data),
                                    std::to_string(memory),
                                    tile.segments.empty() ? "-" : hex(base),
                                    hex(tile.entry_point)};
  });
  out += table.render("  ");
}

void bindings_section(std::string& out, const dp::Application& app, bool all) {
  out += fmt::format("\nBindings: {}, {}, {}\n", plural(app.inputs.size(), "input", "inputs"),
                     plural(app.outputs.size(), "output", "outputs"),
                     plural(app.weights.size(), "weight", "weights"));
  struct Entry {
    std::string_view kind;
    const dp::Binding* binding;
  };
  std::vector<Entry> entries;
  for (const auto& b : app.inputs) entries.push_back({"input", &b});
  for (const auto& b : app.outputs) entries.push_back({"output", &b});
  for (const auto& b : app.weights) entries.push_back({"weight", &b});
  if (entries.empty()) return;
  Table table({{"kind"},
               {"name"},
               {"dtype"},
               {"shape"},
               {"slices", Align::Right},
               {"file image bytes", Align::Right}});
  add_rows(table, entries.size(), all, "bindings", [&](std::size_t i) {
    const dp::Binding& b = *entries[i].binding;
    return std::vector<std::string>{std::string(entries[i].kind),
                                    printable(b.name),
                                    printable(b.dtype),
                                    list_text(b.shape),
                                    std::to_string(b.slices.size()),
                                    std::to_string(dp::binding_size(b))};
  });
  out += table.render("  ");
}

std::string direction_text(const std::vector<dp::HostSlice>& slices,
                           const std::vector<std::uint32_t>& ends) {
  std::uint64_t bytes = 0;
  for (const auto& slice : slices) bytes = saturating_add(bytes, slice.size);
  return fmt::format("{} in {}, {} bytes", plural(slices.size(), "slice", "slices"),
                     plural(ends.size(), "batch", "batches"), bytes);
}

void host_section(std::string& out, const dp::Application& app, bool all) {
  const dp::HostExchange& host = app.host_exchange;
  out += fmt::format(
      "\nHost exchange: {}, {}; startup mark {}; command word in page {} at "
      "offset {}\n",
      plural(host.pages.size(), "page", "pages"), plural(host.calls.size(), "call", "calls"),
      host.startup_mark, host.command_page, host.command_offset);
  if (!host.pages.empty()) {
    out += fmt::format("  attach order: {}\n",
                       host.attach_order.empty() ? "none" : list_text(host.attach_order));
    Table pages({{"page", Align::Right}, {"size", Align::Right}});
    add_rows(pages, host.pages.size(), all, "pages", [&](std::size_t i) {
      return std::vector<std::string>{std::to_string(host.pages[i].index),
                                      std::to_string(host.pages[i].size)};
    });
    out += pages.render("  ");
  }
  if (!host.calls.empty()) {
    Table calls({{"call"},
                 {"command", Align::Right},
                 {"phases", Align::Right},
                 {"invocations", Align::Right},
                 {"inputs"},
                 {"outputs"}});
    add_rows(calls, host.calls.size(), all, "calls", [&](std::size_t i) {
      const dp::HostCall& call = host.calls[i];
      return std::vector<std::string>{printable(call.name),
                                      std::to_string(call.command),
                                      std::to_string(call.phases),
                                      std::to_string(call.invocations),
                                      direction_text(call.inputs, call.input_batch_ends),
                                      direction_text(call.outputs, call.output_batch_ends)};
    });
    out += calls.render("  ");
  }
}

void entry_points_section(std::string& out, const dp::Application& app, bool all) {
  out += fmt::format("\nEntry points: {}\n", app.entry_points.size());
  if (app.entry_points.empty()) return;
  Table table({{"name"}, {"command", Align::Right}, {"external syncs", Align::Right}});
  add_rows(table, app.entry_points.size(), all, "entry points", [&](std::size_t i) {
    const dp::EntryPoint& e = app.entry_points[i];
    return std::vector<std::string>{printable(e.name), std::to_string(e.command),
                                    std::to_string(e.external_syncs)};
  });
  out += table.render("  ");
}

void config_section(std::string& out, const dp::Application& app, bool all) {
  out += fmt::format("\nConfiguration writes: {}\n", app.device_config_writes.size());
  if (app.device_config_writes.empty()) return;
  Table table({{"offset", Align::Right}, {"value", Align::Right}});
  add_rows(table, app.device_config_writes.size(), all, "writes", [&](std::size_t i) {
    const dp::DeviceConfigWrite& w = app.device_config_writes[i];
    return std::vector<std::string>{hex(w.offset), hex(w.value)};
  });
  out += table.render("  ");
}

void profile_section(std::string& out, const dp::Application& app, bool all) {
  std::size_t steps = 0;
  for (const auto& plan : app.profile_tiles) steps += plan.steps.size();
  out += fmt::format("\nProfile plans: {} ({})\n", app.profile_tiles.size(),
                     plural(steps, "step", "steps"));
  if (app.profile_tiles.empty()) return;
  std::vector<Column> columns{{"tile", Align::Right}, {"steps", Align::Right}};
  for (dp::ProfileStepKind kind : STEP_KINDS) {
    columns.push_back({std::string(dp::to_string(kind)), Align::Right});
  }
  Table table(std::move(columns));
  add_rows(table, app.profile_tiles.size(), all, "plans", [&](std::size_t i) {
    const dp::TileProfilePlan& plan = app.profile_tiles[i];
    std::vector<std::string> row{std::to_string(plan.physical_tile),
                                 std::to_string(plan.steps.size())};
    for (dp::ProfileStepKind kind : STEP_KINDS) {
      row.push_back(std::to_string(std::count_if(plan.steps.begin(), plan.steps.end(),
                                                 [&](const auto& s) { return s.kind == kind; })));
    }
    return row;
  });
  out += table.render("  ");
}

void debug_section(std::string& out, const dp::Application& app, bool all) {
  out += fmt::format("\nDebug map: {}, {}\n", plural(app.debug_symbols.size(), "symbol", "symbols"),
                     plural(app.debug_regions.size(), "region", "regions"));
  if (!app.debug_symbols.empty()) {
    Table table({{"symbol"}, {"address", Align::Right}});
    add_rows(table, app.debug_symbols.size(), all, "symbols", [&](std::size_t i) {
      const dp::DebugSymbol& s = app.debug_symbols[i];
      return std::vector<std::string>{printable(s.name), hex(s.address)};
    });
    out += table.render("  ");
  }
  if (!app.debug_regions.empty()) {
    Table table(
        {{"region"}, {"tile", Align::Right}, {"address", Align::Right}, {"size", Align::Right}});
    add_rows(table, app.debug_regions.size(), all, "regions", [&](std::size_t i) {
      const dp::DebugRegion& r = app.debug_regions[i];
      return std::vector<std::string>{
          printable(r.name),
          r.physical_tile == dp::NO_SINGLE_TILE ? "any" : std::to_string(r.physical_tile),
          hex(r.address), std::to_string(r.size)};
    });
    out += table.render("  ");
  }
}

}  // namespace

std::optional<std::uint32_t> tile_load_base(const dp::Application& app,
                                            std::uint32_t physical_tile) {
  const auto tile = std::find_if(app.tiles.begin(), app.tiles.end(), [&](const dp::TileImage& t) {
    return t.physical_tile == physical_tile;
  });
  if (tile == app.tiles.end() || tile->segments.empty()) return std::nullopt;
  return std::min_element(tile->segments.begin(), tile->segments.end(),
                          [](const auto& a, const auto& b) { return a.address < b.address; })
      ->address;
}

std::string inspect_text(const dp::Application& app, bool all) {
  std::string out = fmt::format("Compiler version: {}\n", printable(app.compiler_version));
  tiles_section(out, app, all);
  bindings_section(out, app, all);
  host_section(out, app, all);
  entry_points_section(out, app, all);
  config_section(out, app, all);
  profile_section(out, app, all);
  debug_section(out, app, all);
  return out;
}

}  // namespace dovapkg
