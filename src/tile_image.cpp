// Rebuilding one tile's memory image from its segments.

#include <algorithm>
#include <cstdint>
#include <limits>
#include <new>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "dova/package/records.hpp"
#include "log_emit.hpp"

namespace dova::package {
namespace {

// The image is addressed in 32 bits, and a segment's data must fit inside its memory size. The
// operation does not validate, so a segment breaking either rule is refused here: otherwise the
// image size could wrap or a copy could run past the end of the image.
bool segment_fits(const Segment& segment) {
  const std::uint64_t end = std::uint64_t{segment.address} + segment.memory_size;
  return end <= std::numeric_limits<std::uint32_t>::max() &&
         segment.data.size() <= segment.memory_size;
}

// True when, in list order, every segment's data starts at or after the end of the data before
// it: then the image can be written front to back, each byte once, instead of being cleared in
// full and then overwritten. Segments without data write nothing and are passed over.
bool data_in_address_order(const std::vector<Segment>& segments, std::uint32_t load_base) {
  std::size_t written_end = 0;
  for (const Segment& segment : segments) {
    if (segment.data.empty()) continue;
    const std::size_t destination = segment.address - load_base;
    if (destination < written_end) return false;
    written_end = destination + segment.data.size();
  }
  return true;
}

}  // namespace

Result<std::vector<std::uint8_t>> Application::tile_image(std::uint32_t physical_tile) const {
  const auto tile = std::ranges::find(tiles, physical_tile, &TileImage::physical_tile);
  if (tile == tiles.end()) {
    return tl::unexpected(PackageError::invalid(fmt::format("unknown tile {}", physical_tile)));
  }
  const std::vector<Segment>& segments = tile->segments;
  if (segments.empty()) {
    return tl::unexpected(PackageError::invalid("tile has no loadable segments"));
  }

  // One pass finds the base and the end. Every segment takes part, memory_size 0 included.
  std::uint32_t load_base = std::numeric_limits<std::uint32_t>::max();
  std::uint32_t image_end = 0;
  for (const Segment& segment : segments) {
    if (!segment_fits(segment)) {
      return tl::unexpected(PackageError::invalid(
          fmt::format("invalid segment on tile {}: address=0x{:x} memory_size={} data_size={}",
                      physical_tile, segment.address, segment.memory_size, segment.data.size())));
    }
    load_base = std::min(load_base, segment.address);
    image_end = std::max(image_end, segment.address + segment.memory_size);
  }
  const std::size_t image_size = image_end - load_base;

  // Without validation the image may span up to 4 GiB; running out of memory is an error value.
  // The one allocation: every later resize and insert stays within it.
  std::vector<std::uint8_t> image;
  try {
    image.reserve(image_size);
  } catch (const std::bad_alloc&) {
    return tl::unexpected(PackageError::invalid(
        fmt::format("cannot allocate image of {} bytes for tile {}", image_size, physical_tile)));
  }

  if (log_enabled()) {
    const std::string base_text = fmt::format("0x{:x}", load_base);
    emit_event(LogLevel::Trace, "reconstructing tile image",
               {{"physical_tile", std::uint64_t{physical_tile}},
                {"load_base", std::string_view(base_text)},
                {"image_bytes", std::uint64_t{image_size}}});
  }

  if (data_in_address_order(segments, load_base)) {
    // Zeros up to each segment's data, the data, and zeros after the last.
    for (const Segment& segment : segments) {
      if (segment.data.empty()) continue;
      image.resize(segment.address - load_base);
      image.insert(image.end(), segment.data.begin(), segment.data.end());
    }
    image.resize(image_size);
    return image;
  }
  // List order: where two segments' data overlap, the later one's bytes remain.
  image.resize(image_size);
  for (const Segment& segment : segments) {
    std::ranges::copy(segment.data, image.begin() + (segment.address - load_base));
  }
  return image;
}

}  // namespace dova::package
