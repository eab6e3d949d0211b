// Placeholder: validation to follow.
#include <limits>

#include "dova/package/records.hpp"

namespace dova::package {

Result<void> Application::validate() const {
  return tl::unexpected(PackageError::invalid("not implemented"));
}

std::uint64_t binding_size(const Binding& binding) {
  std::uint64_t size = 0;
  for (const RegionSlice& slice : binding.slices) {
    const std::uint64_t room = std::numeric_limits<std::uint64_t>::max() - slice.file_offset;
    const std::uint64_t end = slice.size > room ? std::numeric_limits<std::uint64_t>::max()
                                                : slice.file_offset + slice.size;
    size = std::max(size, end);
  }
  return size;
}

Result<void> validate_host_batch_ends(const HostCall&, std::string_view,
                                      std::span<const std::uint32_t>, std::size_t) {
  return tl::unexpected(PackageError::invalid("not implemented"));
}

}  // namespace dova::package
