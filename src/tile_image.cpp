// Placeholder: implementation to follow.
#include "dova/package/records.hpp"

namespace dova::package {
Result<std::vector<std::uint8_t>> Application::tile_image(std::uint32_t) const { return tl::unexpected(PackageError::invalid("not implemented")); }
}  // namespace dova::package
