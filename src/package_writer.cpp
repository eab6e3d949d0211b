// Placeholder: implementation to follow.
#include "dova/package/records.hpp"

namespace dova::package {
Result<void> Application::write(std::vector<std::uint8_t>&) const { return tl::unexpected(PackageError::invalid("not implemented")); }
Result<void> Application::write(std::ostream&) const { return tl::unexpected(PackageError::invalid("not implemented")); }
}  // namespace dova::package
