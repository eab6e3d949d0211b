#pragma once

// Small random applications that pass validation: every list may be empty or hold a few elements,
// texts mix one- to four-byte UTF-8 sequences, numbers span their whole width.

#include <algorithm>
#include <cstdint>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "dova/package.hpp"

namespace dova::package::fixtures {

class RandomApplication {
 public:
  explicit RandomApplication(std::uint64_t seed) : rng_(seed) {}

  Application next() {
    Application app;
    app.compiler_version = text();
    add_tiles(app);
    add_bindings(app);
    add_host_exchange(app.host_exchange);
    for (std::uint32_t i = count(2); i > 0; --i) {
      app.entry_points.push_back(
          EntryPoint{.name = text(), .command = u32(), .external_syncs = u32()});
    }
    std::set<std::uint32_t> offsets;
    for (std::uint32_t i = count(3); i > 0; --i) {
      const std::uint32_t offset = u32() & ~3u;
      if (offsets.insert(offset).second) {
        app.device_config_writes.push_back(DeviceConfigWrite{.offset = offset, .value = u32()});
      }
    }
    add_profile_plans(app);
    for (std::uint32_t i = count(2); i > 0; --i) {
      app.debug_symbols.push_back(DebugSymbol{.name = "s" + text(), .address = u32()});
    }
    for (std::uint32_t i = count(2); i > 0; --i) {
      const bool global = count(3) == 0;
      app.debug_regions.push_back(
          DebugRegion{.physical_tile = global ? NO_SINGLE_TILE : pick(tile_ids_),
                      .address = below(0xFFFF0000),
                      .size = 1 + below(0xFFFF),
                      .name = "r" + text()});
    }
    return app;
  }

 private:
  std::uint32_t u32() { return static_cast<std::uint32_t>(rng_()); }
  std::uint64_t u64() { return rng_(); }
  // Uniform in [0, bound).
  std::uint32_t below(std::uint32_t bound) {
    return std::uniform_int_distribution<std::uint32_t>(0, bound - 1)(rng_);
  }
  std::uint64_t below64(std::uint64_t bound) {
    return std::uniform_int_distribution<std::uint64_t>(0, bound - 1)(rng_);
  }
  // A list length in [0, most].
  std::uint32_t count(std::uint32_t most) { return below(most + 1); }
  std::uint32_t pick(const std::vector<std::uint32_t>& values) {
    return values[below(static_cast<std::uint32_t>(values.size()))];
  }

  std::string text() {
    static const char* const pieces[] = {"a",
                                         "Z",
                                         "0",
                                         " ",
                                         ".",
                                         "\x7F",
                                         "\xC3\xA9",
                                         "\xDF\xBF",
                                         "\xE2\x82\xAC",
                                         "\xEF\xBF\xBD",
                                         "\xF0\x9D\x84\x9E",
                                         "\xF4\x8F\xBF\xBF"};
    std::string result;
    for (std::uint32_t i = count(6); i > 0; --i) result += pieces[below(std::size(pieces))];
    return result;
  }

  void add_tiles(Application& app) {
    tile_ids_.clear();
    std::set<std::uint32_t> ids;
    for (std::uint32_t i = 1 + count(2); i > 0; --i) {
      const std::uint32_t id = below(4) == 0 ? u32() : below(8);
      if (!ids.insert(id).second) continue;
      tile_ids_.push_back(id);
      TileImage tile{.physical_tile = id,
                     .entry_point = u32(),
                     .command_address = u32(),
                     .diagnostic_address = u32(),
                     .segments = {}};
      // Laid out upwards from the window's start, so they never overlap; then shuffled.
      std::uint32_t cursor = TILE_MEMORY_BASE;
      for (std::uint32_t s = count(3); s > 0; --s) {
        const std::uint32_t address = cursor + below(64);
        const std::uint32_t memory_size = below(48);
        std::vector<std::uint8_t> data(memory_size == 0 ? 0 : below(memory_size + 1));
        for (auto& byte : data) byte = static_cast<std::uint8_t>(u32());
        tile.segments.push_back(Segment{.address = address,
                                        .memory_size = memory_size,
                                        .data = std::move(data),
                                        .flags = u32()});
        cursor = address + memory_size;
      }
      std::shuffle(tile.segments.begin(), tile.segments.end(), rng_);
      app.tiles.push_back(std::move(tile));
    }
  }

  void add_bindings(Application& app) {
    std::vector<Binding>* lists[] = {&app.inputs, &app.outputs, &app.weights};
    std::uint32_t serial = 0;
    for (std::vector<Binding>* list : lists) {
      for (std::uint32_t i = count(2); i > 0; --i) {
        // Built by appending: g++ 12 at -O3 warns falsely on "literal" + std::string (-Wrestrict).
        std::string name = "b";
        name += std::to_string(serial++);
        name += text();
        Binding binding{.name = std::move(name),
                        .dtype = text(),
                        .shape = {},
                        .slices = {}};
        for (std::uint32_t d = count(3); d > 0; --d) binding.shape.push_back(u32());
        for (std::uint32_t s = count(2); s > 0; --s) {
          binding.slices.push_back(RegionSlice{.tile = pick(tile_ids_),
                                               .tile_address = TILE_MEMORY_BASE + below(0x1000),
                                               .file_offset = u64(),
                                               .size = below(0x1000)});
        }
        list->push_back(std::move(binding));
      }
    }
  }

  // Slices of one direction of a call, inside existing pages, and batch ends covering them.
  void add_slices(const std::vector<HostPage>& pages, std::vector<HostSlice>& slices,
                  std::vector<std::uint32_t>& ends) {
    for (std::uint32_t i = count(3); i > 0; --i) {
      const HostPage& page = pages[below(static_cast<std::uint32_t>(pages.size()))];
      const std::uint64_t offset = below64(page.size + 1);
      slices.push_back(HostSlice{.page = page.index,
                                 .page_offset = offset,
                                 .file_offset = u64(),
                                 .size = below64(page.size - offset + 1)});
    }
    const auto total = static_cast<std::uint32_t>(slices.size());
    for (std::uint32_t end = 1; end <= total; ++end) {
      if (end == total || below(2) == 0) ends.push_back(end);
    }
  }

  void add_host_exchange(HostExchange& exchange) {
    exchange.startup_mark = u32();
    exchange.command_page = u32();
    exchange.command_offset = u64();
    std::set<std::uint32_t> indices;
    for (std::uint32_t i = count(3); i > 0; --i) {
      const std::uint32_t index = below(2) == 0 ? u32() : below(4);
      if (!indices.insert(index).second) continue;
      exchange.pages.push_back(
          HostPage{.index = index, .size = 4 + (below(2) == 0 ? below64(0x1000) : u64() >> 2)});
    }
    if (exchange.pages.empty()) return;
    for (std::uint32_t i = count(4); i > 0; --i) {
      exchange.attach_order.push_back(
          exchange.pages[below(static_cast<std::uint32_t>(exchange.pages.size()))].index);
    }
    const std::uint32_t calls = count(2);
    if (calls == 0) return;
    const HostPage& command =
        exchange.pages[below(static_cast<std::uint32_t>(exchange.pages.size()))];
    exchange.command_page = command.index;
    exchange.command_offset = below64(command.size - 3);
    for (std::uint32_t i = calls; i > 0; --i) {
      HostCall call;
      call.name = text();
      call.command = u32();
      call.phases = u32();
      call.invocations = below(4) == 0 ? std::max<std::uint32_t>(1, u32()) : 1 + below(3);
      add_slices(exchange.pages, call.inputs, call.input_batch_ends);
      add_slices(exchange.pages, call.outputs, call.output_batch_ends);
      exchange.calls.push_back(std::move(call));
    }
  }

  void add_profile_plans(Application& app) {
    std::vector<std::uint32_t> tiles = tile_ids_;
    std::shuffle(tiles.begin(), tiles.end(), rng_);
    tiles.resize(count(static_cast<std::uint32_t>(tiles.size())));
    for (const std::uint32_t tile : tiles) {
      TileProfilePlan plan{.physical_tile = tile, .steps = {}};
      for (std::uint32_t i = 0, n = count(3); i < n; ++i) {
        ProfileStep step{.local_index = i,
                         .phase = u32(),
                         .epoch = u32(),
                         .operation = text(),
                         .kind = static_cast<ProfileStepKind>(below(4)),
                         .kernel = text(),
                         .metadata = {},
                         .exchange_activities = {},
                         .exchange_event_cycles = u32()};
        for (std::uint32_t m = count(2); m > 0; --m) {
          step.metadata.push_back(ProfileMetadata{.name = text(), .value = text()});
        }
        for (std::uint32_t a = count(2); a > 0; --a) {
          step.exchange_activities.push_back(
              ProfileExchangeActivity{.kind = static_cast<ExchangeActivityKind>(below(3)),
                                      .start_cycle = u32(),
                                      .end_cycle = u32()});
        }
        plan.steps.push_back(std::move(step));
      }
      app.profile_tiles.push_back(std::move(plan));
    }
  }

  std::mt19937_64 rng_;
  std::vector<std::uint32_t> tile_ids_;
};

}  // namespace dova::package::fixtures
