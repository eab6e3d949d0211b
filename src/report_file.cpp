// Placeholder: implementation to follow.
#include "dova/package/records.hpp"

namespace dova::package {
Result<void> ProfileReport::write(std::vector<std::uint8_t>&) const { return tl::unexpected(PackageError::invalid("not implemented")); }
Result<void> ProfileReport::write(std::ostream&) const { return tl::unexpected(PackageError::invalid("not implemented")); }
Result<ProfileReport> ProfileReport::read(std::span<const std::uint8_t>) { return tl::unexpected(PackageError::invalid("not implemented")); }
Result<ProfileReport> ProfileReport::read(std::istream&) { return tl::unexpected(PackageError::invalid("not implemented")); }
}  // namespace dova::package
