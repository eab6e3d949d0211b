#pragma once

#include <string_view>

namespace dova::package {

inline constexpr int VERSION_MAJOR = 0;
inline constexpr int VERSION_MINOR = 1;
inline constexpr int VERSION_PATCH = 0;
inline constexpr std::string_view VERSION = "0.1.0";

}  // namespace dova::package
