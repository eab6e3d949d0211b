#pragma once

// Format constants shared by the writers, the readers and validation.

#include <cstdint>
#include <string_view>

namespace dova::package {

// Header of every application package: the writer stores these, the reader requires them.
inline constexpr std::uint32_t PACKAGE_SCHEMA_VERSION = 5;
inline constexpr std::string_view PACKAGE_TARGET = "dova21";

// The memory window of every tile: segments and binding slices lie in [base, end).
inline constexpr std::uint32_t TILE_MEMORY_BASE = 0x4c000;
inline constexpr std::uint32_t TILE_MEMORY_SIZE = 0x9c000;
inline constexpr std::uint32_t TILE_MEMORY_END = TILE_MEMORY_BASE + TILE_MEMORY_SIZE;

// Version written into profile report files; readers accept 1 up to this one.
inline constexpr std::uint32_t PROFILE_SCHEMA_VERSION = 5;

// Name of the output binding that carries the cycle counter readings of a profiled run.
inline constexpr std::string_view PROFILE_BINDING_NAME = "profile.cycles";

}  // namespace dova::package
