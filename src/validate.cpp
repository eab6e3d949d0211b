// Placeholder: implementation to follow.
#include "dova/package/records.hpp"

namespace dova::package {
Result<void> Application::validate() const { return tl::unexpected(PackageError::invalid("not implemented")); }
std::uint64_t binding_size(const Binding&) { return 0; }
Result<void> validate_host_batch_ends(const HostCall&, std::string_view, std::span<const std::uint32_t>, std::size_t) { return tl::unexpected(PackageError::invalid("not implemented")); }
}  // namespace dova::package
