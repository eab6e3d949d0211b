// libFuzzer entry point: check_application_bytes must hold for every input.

#include <cstdio>
#include <cstdlib>

#include "checks.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (auto failure = dova::package::fuzz::check_application_bytes({data, size})) {
    std::fprintf(stderr, "property broken: %s\n", failure->c_str());
    std::abort();
  }
  return 0;
}
