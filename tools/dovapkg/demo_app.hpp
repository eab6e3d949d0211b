#pragma once

// The application of `dovapkg demo`: the extended reference application grown into a small
// profiled network on 16 tiles, with input, weight and output bindings and a "profile.cycles"
// output holding one slice per planned tile.

#include "dova/package/records.hpp"

namespace dovapkg {

dova::package::Application demo_application();

}  // namespace dovapkg
