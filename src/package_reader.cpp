// Placeholder: implementation to follow.
#include "dova/package/records.hpp"

namespace dova::package {
Result<Application> Application::read(std::span<const std::uint8_t>) { return tl::unexpected(PackageError::invalid("not implemented")); }
Result<Application> Application::read(std::istream&) { return tl::unexpected(PackageError::invalid("not implemented")); }
}  // namespace dova::package
