// Placeholder: implementation to follow.
#include "dova/package/records.hpp"

namespace dova::package {

}  // namespace dova::package
