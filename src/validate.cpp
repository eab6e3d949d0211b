// Consistency rules of an application package. The rules run in a fixed order and the first one
// that breaks ends validation, so the message a caller sees does not depend on anything examined
// later. A valid application costs one pass over each list (hash sets and one hash map) plus the
// per-tile sort of segment ranges; a message is formatted only for the rule that fails.
#include <algorithm>
#include <concepts>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "dova/package/constants.hpp"
#include "dova/package/records.hpp"

namespace dova::package {
namespace {

using TileIds = std::unordered_set<std::uint32_t>;
using PageSizes = std::unordered_map<std::uint32_t, std::uint64_t>;
// [start, end) of one segment in tile memory.
using Range = std::pair<std::uint32_t, std::uint32_t>;

tl::unexpected<PackageError> fail(std::string message) {
  return tl::unexpected(PackageError::invalid(std::move(message)));
}

// a + b in the operands' own width; nothing when the sum does not fit.
template <std::unsigned_integral T>
std::optional<T> checked_add(T a, T b) {
  if (b > std::numeric_limits<T>::max() - a) return std::nullopt;
  return static_cast<T>(a + b);
}

bool inside_tile_memory(std::uint32_t start, std::uint32_t end) {
  return start >= TILE_MEMORY_BASE && end <= TILE_MEMORY_END;
}

Result<void> check_config_writes(const std::vector<DeviceConfigWrite>& writes) {
  std::unordered_set<std::uint32_t> config_offsets;
  config_offsets.reserve(writes.size());
  for (const DeviceConfigWrite& write : writes) {
    if (write.offset % 4 != 0 || !config_offsets.insert(write.offset).second) {
      return fail("unaligned or duplicate device configuration write");
    }
  }
  return {};
}

Result<void> check_segments(const TileImage& tile) {
  for (const Segment& segment : tile.segments) {
    const std::optional<std::uint32_t> end = checked_add(segment.address, segment.memory_size);
    if (!end) return fail("segment address overflow");
    if (!inside_tile_memory(segment.address, *end) || segment.data.size() > segment.memory_size) {
      return fail(fmt::format(
          "invalid segment on tile {}: address=0x{:x} end=0x{:x} memory_size={} data_size={}",
          tile.physical_tile, segment.address, *end, segment.memory_size, segment.data.size()));
    }
  }
  return {};
}

// Runs after check_segments, so no end overflows. Empty segments take no part: they may lie
// inside another segment. `ranges` is scratch space reused across tiles.
Result<void> check_overlaps(const TileImage& tile, std::vector<Range>& ranges) {
  ranges.clear();
  ranges.reserve(tile.segments.size());
  for (const Segment& segment : tile.segments) {
    if (segment.memory_size != 0) {
      ranges.emplace_back(segment.address, segment.address + segment.memory_size);
    }
  }
  std::sort(ranges.begin(), ranges.end());
  const auto overlap = std::adjacent_find(
      ranges.begin(), ranges.end(),
      [](const Range& first, const Range& second) { return first.second > second.first; });
  if (overlap != ranges.end()) {
    const Range& first = overlap[0];
    const Range& second = overlap[1];
    return fail(fmt::format("overlapping segments on tile {}: 0x{:x}..0x{:x} and 0x{:x}..0x{:x}",
                            tile.physical_tile, first.first, first.second, second.first,
                            second.second));
  }
  return {};
}

// Each tile is examined completely before the next one's duplicate test. On success `seen`
// holds every tile's id.
Result<void> check_tiles(const std::vector<TileImage>& tiles, TileIds& seen) {
  seen.reserve(tiles.size());
  std::vector<Range> ranges;
  for (const TileImage& tile : tiles) {
    if (!seen.insert(tile.physical_tile).second) {
      return fail(fmt::format("duplicate physical tile {}", tile.physical_tile));
    }
    if (auto checked = check_segments(tile); !checked) return checked;
    if (auto checked = check_overlaps(tile, ranges); !checked) return checked;
  }
  return {};
}

bool steps_in_order(const std::vector<ProfileStep>& steps) {
  for (std::size_t i = 0; i < steps.size(); ++i) {
    if (steps[i].local_index != i) return false;
  }
  return true;
}

Result<void> check_profile_plans(const std::vector<TileProfilePlan>& plans,
                                 const TileIds& tile_ids) {
  TileIds profile_tile_ids;
  profile_tile_ids.reserve(plans.size());
  for (const TileProfilePlan& plan : plans) {
    if (!tile_ids.contains(plan.physical_tile) ||
        !profile_tile_ids.insert(plan.physical_tile).second || !steps_in_order(plan.steps)) {
      return fail("invalid tile profile plan");
    }
  }
  return {};
}

bool valid_region(const DebugRegion& region, const TileIds& tile_ids) {
  return !region.name.empty() && region.size != 0 && checked_add(region.address, region.size) &&
         (region.physical_tile == NO_SINGLE_TILE || tile_ids.contains(region.physical_tile));
}

Result<void> check_debug_map(const std::vector<DebugSymbol>& symbols,
                             const std::vector<DebugRegion>& regions, const TileIds& tile_ids) {
  const bool valid = std::none_of(symbols.begin(), symbols.end(),
                                  [](const DebugSymbol& symbol) { return symbol.name.empty(); }) &&
                     std::all_of(regions.begin(), regions.end(), [&](const DebugRegion& region) {
                       return valid_region(region, tile_ids);
                     });
  if (!valid) return fail("invalid package debug map");
  return {};
}

Result<void> check_binding_slices(const Binding& binding, const TileIds& tile_ids) {
  for (const RegionSlice& slice : binding.slices) {
    if (slice.size > std::numeric_limits<std::uint32_t>::max()) {
      return fail(fmt::format("binding {} slice is too large", binding.name));
    }
    const std::optional<std::uint32_t> end =
        checked_add(slice.tile_address, static_cast<std::uint32_t>(slice.size));
    if (!end) return fail("binding address overflow");
    if (!tile_ids.contains(slice.tile) || !inside_tile_memory(slice.tile_address, *end)) {
      return fail(fmt::format("binding {} references invalid tile memory", binding.name));
    }
  }
  return {};
}

// Inputs, outputs and weights share one namespace and are walked in that order.
Result<void> check_bindings(const Application& app, const TileIds& tile_ids) {
  std::unordered_set<std::string_view> binding_names;
  binding_names.reserve(app.inputs.size() + app.outputs.size() + app.weights.size());
  for (const std::vector<Binding>* list : {&app.inputs, &app.outputs, &app.weights}) {
    for (const Binding& binding : *list) {
      if (binding.name.empty() || !binding_names.insert(binding.name).second) {
        return fail(fmt::format("empty or duplicate binding {}", binding.name));
      }
      if (auto checked = check_binding_slices(binding, tile_ids); !checked) return checked;
    }
  }
  return {};
}

// On success `pages` maps every page index to its size.
Result<void> check_host_pages(const HostExchange& host, PageSizes& pages) {
  pages.reserve(host.pages.size());
  for (const HostPage& page : host.pages) {
    if (!pages.try_emplace(page.index, page.size).second) return fail("invalid host page table");
  }
  for (std::uint32_t index : host.attach_order) {
    if (!pages.contains(index)) return fail("invalid host page table");
  }
  return {};
}

// [offset, offset + size) lies within a page of page_size bytes; a sum past 2^64 - 1 does not.
bool fits_in_page(std::uint64_t offset, std::uint64_t size, std::uint64_t page_size) {
  const std::optional<std::uint64_t> end = checked_add(offset, size);
  return end && *end <= page_size;
}

// The command word is examined only when there are host calls to start.
Result<void> check_startup(const HostExchange& host, const PageSizes& pages) {
  if (host.calls.empty()) return {};
  const auto page = pages.find(host.command_page);
  if (page == pages.end() || !fits_in_page(host.command_offset, 4, page->second)) {
    return fail("invalid host startup protocol");
  }
  return {};
}

Result<void> check_host_slices(const HostCall& call, const std::vector<HostSlice>& slices,
                               const PageSizes& pages) {
  for (const HostSlice& slice : slices) {
    const auto page = pages.find(slice.page);
    if (page == pages.end()) {
      return fail(fmt::format("host call {} references missing page", call.name));
    }
    if (!fits_in_page(slice.page_offset, slice.size, page->second)) {
      return fail(fmt::format("host call {} exceeds page bounds", call.name));
    }
  }
  return {};
}

Result<void> check_host_call(const HostCall& call, const PageSizes& pages) {
  if (call.invocations == 0) {
    return fail(fmt::format("host call {} has no invocations", call.name));
  }
  if (auto checked =
          validate_host_batch_ends(call, "input", call.input_batch_ends, call.inputs.size());
      !checked) {
    return checked;
  }
  if (auto checked =
          validate_host_batch_ends(call, "output", call.output_batch_ends, call.outputs.size());
      !checked) {
    return checked;
  }
  if (auto checked = check_host_slices(call, call.inputs, pages); !checked) return checked;
  return check_host_slices(call, call.outputs, pages);
}

Result<void> check_host_exchange(const HostExchange& host) {
  PageSizes pages;
  if (auto checked = check_host_pages(host, pages); !checked) return checked;
  if (auto checked = check_startup(host, pages); !checked) return checked;
  for (const HostCall& call : host.calls) {
    if (auto checked = check_host_call(call, pages); !checked) return checked;
  }
  return {};
}

}  // namespace

Result<void> Application::validate() const {
  if (tiles.empty()) return fail("application has no tiles");
  if (auto checked = check_config_writes(device_config_writes); !checked) return checked;
  // Once the tile rules pass, the ids seen while checking them are exactly the application's
  // tile ids.
  TileIds tile_ids;
  if (auto checked = check_tiles(tiles, tile_ids); !checked) return checked;
  if (auto checked = check_profile_plans(profile_tiles, tile_ids); !checked) return checked;
  if (auto checked = check_debug_map(debug_symbols, debug_regions, tile_ids); !checked) {
    return checked;
  }
  if (auto checked = check_bindings(*this, tile_ids); !checked) return checked;
  return check_host_exchange(host_exchange);
}

std::uint64_t binding_size(const Binding& binding) {
  std::uint64_t size = 0;
  for (const RegionSlice& slice : binding.slices) {
    const std::uint64_t room = std::numeric_limits<std::uint64_t>::max() - slice.file_offset;
    const std::uint64_t end = slice.size > room ? std::numeric_limits<std::uint64_t>::max()
                                                : slice.file_offset + slice.size;
    size = std::max(size, end);
  }
  return size;
}

// Boundaries rise strictly from at least 1 and the last one equals the slice count, so the
// batches are consecutive, non-empty and cover every slice. Every boundary is tested before the
// coverage.
Result<void> validate_host_batch_ends(const HostCall& call, std::string_view direction,
                                      std::span<const std::uint32_t> ends,
                                      std::size_t slice_count) {
  std::size_t previous = 0;
  for (std::uint32_t end : ends) {
    if (end <= previous || end > slice_count) {
      return fail(
          fmt::format("host call {} has invalid {} batch boundary {}", call.name, direction, end));
    }
    previous = end;
  }
  if (previous != slice_count) {
    return fail(fmt::format("host call {} {} batches cover {} of {} slices", call.name, direction,
                            previous, slice_count));
  }
  return {};
}

}  // namespace dova::package
