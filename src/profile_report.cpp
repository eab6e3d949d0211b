// Placeholder: implementation to follow.
#include "dova/package/records.hpp"

namespace dova::package {
Result<ProfileReport> Application::profile_report(std::span<const std::uint8_t>, std::uint64_t) const { return tl::unexpected(PackageError::invalid("not implemented")); }
}  // namespace dova::package
