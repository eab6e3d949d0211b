#pragma once

// Peak memory of reading the segment-heavy package from a span, measured in a forked child so
// that nothing the benchmarks allocate is counted or reused.

#include <cstdint>

#include "summary.hpp"

namespace dova::bench {

// Must run before the benchmarks build their fixtures: the child starts from this process's heap.
MemoryCheck measure_span_read_memory(std::uint32_t divisor);

}  // namespace dova::bench
