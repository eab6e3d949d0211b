#pragma once

// The readable summary of an application that `dovapkg inspect` prints.

#include <cstdint>
#include <optional>
#include <string>

#include "dova/package/records.hpp"

namespace dovapkg {

// Long listings are condensed unless `all` is set.
std::string inspect_text(const dova::package::Application& application, bool all);

// Where a tile's memory image starts: its lowest segment address. None when the application
// has no such tile or the tile has no segments. The first tile with the id counts, as it does
// for the library's tile images.
std::optional<std::uint32_t> tile_load_base(const dova::package::Application& application,
                                            std::uint32_t physical_tile);

}  // namespace dovapkg
