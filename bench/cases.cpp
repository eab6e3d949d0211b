#include "cases.hpp"

#include <benchmark/benchmark.h>
#include <fmt/format.h>

#include <cstring>
#include <exception>
#include <iostream>
#include <istream>
#include <optional>
#include <utility>

#include "raw_traversal.hpp"
#include "span_stream.hpp"

namespace dova::bench {
namespace {

constexpr std::uint64_t CLOCK_HZ = 1'000'000'000;

using Failure = std::optional<std::string>;

template <class T>
Failure failure(const dp::Result<T>& result) {
  if (result) return std::nullopt;
  return result.error().to_string();
}

double mib(std::uint64_t bytes) { return static_cast<double>(bytes) / (1024.0 * 1024.0); }

// Runs `operation` once per iteration and reports `bytes` per iteration as the throughput.
template <class Operation>
void measure(benchmark::State& state, int warm_ups, const std::string& setup_error,
             std::uint64_t bytes, Operation&& operation) {
  if (!setup_error.empty()) {
    state.SkipWithError(setup_error.c_str());
    return;
  }
  for (int i = 0; i < warm_ups; ++i) operation();
  for (auto _ : state) {
    if (Failure failed = operation()) {
      state.SkipWithError(failed->c_str());
      break;
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

// Like measure, for an operation that leaves what it produces in `Kept`. Releasing that is the
// business of whoever holds it afterwards, so it happens outside the timing, and so does a sweep
// of the caches before each iteration.
template <class Kept, class Operation>
void measure_kept(benchmark::State& state, int warm_ups, const CacheSweep& sweep,
                  const std::string& setup_error, std::uint64_t bytes, Operation&& operation) {
  if (!setup_error.empty()) {
    state.SkipWithError(setup_error.c_str());
    return;
  }
  for (int i = 0; i < warm_ups; ++i) {
    Kept kept{};
    operation(kept);
  }
  sweep.run();
  for (auto _ : state) {
    Kept kept{};
    const Failure failed = operation(kept);
    benchmark::DoNotOptimize(kept);
    benchmark::ClobberMemory();
    if (failed) {
      state.SkipWithError(failed->c_str());
      break;
    }
    state.PauseTiming();
    kept = Kept{};
    sweep.run();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

using Buffer = std::unique_ptr<std::uint8_t[]>;
using Bytes = std::vector<std::uint8_t>;
using ReadResult = dp::Result<dp::Application>;
using ReportResult = dp::Result<dp::ProfileReport>;
using StepCopies = std::vector<std::vector<dp::ProfileStep>>;

// The memory-copy limit: the same number of bytes into a freshly allocated buffer.
Failure copy_fresh(Buffer& copy, const std::uint8_t* source, std::size_t size) {
  copy = std::make_unique_for_overwrite<std::uint8_t[]>(size);
  std::memcpy(copy.get(), source, size);
  return std::nullopt;
}

// Untimed runs of an operation before its first timing. The first fills the heap with the memory
// the operation uses; the second lets calloc clear all of it once, where the first found fresh
// pages it need not clear.
constexpr int WARM_UPS = 2;

// Registers `body(state, warm_ups)`, which is asked to warm up on its first call only.
template <class Body>
void add(const std::string& name, bool smoke, Body body) {
  auto* benchmark = benchmark::RegisterBenchmark(
      name.c_str(),
      [body = std::move(body), warm_ups = smoke ? 0 : WARM_UPS](benchmark::State& state) mutable {
        body(state, std::exchange(warm_ups, 0));
      });
  benchmark->Unit(benchmark::kMillisecond);
  benchmark->ComputeStatistics("min", fastest);
  if (smoke) benchmark->Iterations(2);
}

// memcpy, write and read of the segment-heavy package at 1/`fraction` of the run's size.
void add_write_read(Fixtures& fixtures, bool smoke, const std::string& prefix,
                    std::uint32_t fraction) {
  add(prefix + "memcpy", smoke, [&fixtures, fraction](benchmark::State& state, int warm_ups) {
    const SegmentFixture& f = fixtures.segment_heavy(fraction);
    measure_kept<Buffer>(
        state, warm_ups, fixtures.sweep(), f.error, f.bytes.size(),
        [&](Buffer& copy) { return copy_fresh(copy, f.bytes.data(), f.bytes.size()); });
  });
  add(prefix + "write", smoke, [&fixtures, fraction](benchmark::State& state, int warm_ups) {
    const SegmentFixture& f = fixtures.segment_heavy(fraction);
    measure_kept<Bytes>(state, warm_ups, fixtures.sweep(), f.error, f.bytes.size(),
                        [&](Bytes& sink) { return failure(f.app.write(sink)); });
  });
  add(prefix + "read_span", smoke, [&fixtures, fraction](benchmark::State& state, int warm_ups) {
    const SegmentFixture& f = fixtures.segment_heavy(fraction);
    measure_kept<ReadResult>(state, warm_ups, fixtures.sweep(), f.error, f.bytes.size(),
                             [&](ReadResult& application) {
                               application = dp::Application::read(f.bytes);
                               return failure(application);
                             });
  });
}

void register_segment_cases(Fixtures& fixtures, bool smoke) {
  add_write_read(fixtures, smoke, "segment/", 1);
  add("segment/read_istream", smoke, [&](benchmark::State& state, int warm_ups) {
    const SegmentFixture& f = fixtures.segment_heavy(1);
    measure_kept<ReadResult>(state, warm_ups, fixtures.sweep(), f.error, f.bytes.size(),
                             [&](ReadResult& application) {
                               SpanStreamBuf buffer(f.bytes);
                               std::istream stream(&buffer);
                               application = dp::Application::read(stream);
                               return failure(application);
                             });
  });
  add("segment/validate", smoke, [&](benchmark::State& state, int warm_ups) {
    const SegmentFixture& f = fixtures.segment_heavy(1);
    measure(state, warm_ups, f.error, f.bytes.size(), [&] {
      auto valid = f.app.validate();
      benchmark::DoNotOptimize(valid);
      return failure(valid);
    });
  });
  // Each tile's image size, copied from memory that is not in cache, as the images are.
  add("segment/memcpy_images", smoke, [&](benchmark::State& state, int warm_ups) {
    const SegmentFixture& f = fixtures.segment_heavy(1);
    measure(state, warm_ups, f.error, f.image_bytes, [&] {
      std::size_t offset = 0;
      for (const dp::TileImage& tile : f.app.tiles) {
        const std::size_t size = image_size(tile);
        if (offset + size > f.bytes.size()) offset = 0;
        Buffer copy;
        copy_fresh(copy, f.bytes.data() + offset, size);
        benchmark::DoNotOptimize(copy.get());
        offset += size;
      }
      return Failure{};
    });
  });
  add("segment/tile_image_all", smoke, [&](benchmark::State& state, int warm_ups) {
    const SegmentFixture& f = fixtures.segment_heavy(1);
    measure(state, warm_ups, f.error, f.image_bytes, [&]() -> Failure {
      for (const dp::TileImage& tile : f.app.tiles) {
        auto image = f.app.tile_image(tile.physical_tile);
        if (!image) return failure(image);
        benchmark::DoNotOptimize(image->data());
      }
      return std::nullopt;
    });
  });
}

void register_scaling_cases(Fixtures& fixtures, bool smoke) {
  add_write_read(fixtures, smoke, "scaling/1_16/", 16);
  add_write_read(fixtures, smoke, "scaling/1_4/", 4);
}

void register_structure_cases(Fixtures& fixtures, bool smoke) {
  add("structure/raw_traversal", smoke, [&](benchmark::State& state, int warm_ups) {
    const StructureFixture& f = fixtures.structure_heavy();
    measure_kept<std::uint64_t>(state, warm_ups, fixtures.sweep(), f.error, f.bytes.size(),
                                [&](std::uint64_t& checksum) -> Failure {
                                  try {
                                    checksum = traverse_raw(f.bytes);
                                  } catch (const std::exception& exception) {
                                    return exception.what();
                                  }
                                  return std::nullopt;
                                });
  });
  add("structure/write", smoke, [&](benchmark::State& state, int warm_ups) {
    const StructureFixture& f = fixtures.structure_heavy();
    measure_kept<Bytes>(state, warm_ups, fixtures.sweep(), f.error, f.bytes.size(),
                        [&](Bytes& sink) { return failure(f.app.write(sink)); });
  });
  add("structure/read_span", smoke, [&](benchmark::State& state, int warm_ups) {
    const StructureFixture& f = fixtures.structure_heavy();
    measure_kept<ReadResult>(state, warm_ups, fixtures.sweep(), f.error, f.bytes.size(),
                             [&](ReadResult& application) {
                               application = dp::Application::read(f.bytes);
                               return failure(application);
                             });
  });
  add("structure/validate", smoke, [&](benchmark::State& state, int warm_ups) {
    const StructureFixture& f = fixtures.structure_heavy();
    measure(state, warm_ups, f.error, f.bytes.size(), [&] {
      auto valid = f.app.validate();
      benchmark::DoNotOptimize(valid);
      return failure(valid);
    });
  });
}

void register_profile_cases(Fixtures& fixtures, bool smoke) {
  // Every plan's steps copied deeply and kept, as the report keeps its samples.
  add("profile/step_copy", smoke, [&](benchmark::State& state, int warm_ups) {
    const StructureFixture& f = fixtures.structure_heavy();
    measure_kept<StepCopies>(state, warm_ups, fixtures.sweep(), f.error, f.step_bytes,
                             [&](StepCopies& copies) {
                               copies.reserve(f.app.profile_tiles.size());
                               for (const dp::TileProfilePlan& plan : f.app.profile_tiles)
                                 copies.emplace_back(plan.steps);
                               return Failure{};
                             });
  });
  add("profile/report", smoke, [&](benchmark::State& state, int warm_ups) {
    const StructureFixture& f = fixtures.structure_heavy();
    measure_kept<ReportResult>(state, warm_ups, fixtures.sweep(), f.error, f.step_bytes,
                               [&](ReportResult& report) {
                                 report = f.app.profile_report(f.output, CLOCK_HZ);
                                 return failure(report);
                               });
  });
}

}  // namespace

void CacheSweep::run() const {
  std::uint64_t sum = 0;
  for (std::size_t i = 0; i < buffer_.size(); i += 64) sum += buffer_[i];
  benchmark::DoNotOptimize(sum);
}

const SegmentFixture& Fixtures::segment_heavy(std::uint32_t fraction) {
  auto& slot = segment_[fraction];
  if (!slot) {
    slot = std::make_unique<SegmentFixture>();
    const SegmentHeavyShape shape = segment_heavy_shape(divisor_ * fraction);
    slot->app = make_segment_heavy(shape);
    for (const dp::TileImage& tile : slot->app.tiles) slot->image_bytes += image_size(tile);
    if (auto written = slot->app.write(slot->bytes); !written) {
      slot->error = "writing the fixture failed: " + written.error().to_string();
    }
    std::cerr << fmt::format("segment-heavy fixture 1/{}: {} tiles, package {:.1f} MiB\n",
                             divisor_ * fraction, shape.tiles, mib(slot->bytes.size()));
  }
  return *slot;
}

const StructureFixture& Fixtures::structure_heavy() {
  if (!structure_) {
    structure_ = std::make_unique<StructureFixture>();
    const StructureHeavyShape shape = structure_heavy_shape(divisor_);
    structure_->app = make_structure_heavy(shape);
    structure_->output = profiled_run_output(structure_->app);
    structure_->step_bytes = profile_step_bytes(structure_->app);
    if (auto written = structure_->app.write(structure_->bytes); !written) {
      structure_->error = "writing the fixture failed: " + written.error().to_string();
    }
    std::cerr << fmt::format(
        "structure-heavy fixture 1/{}: {} tiles, {} bindings, {} host calls, {} plans of {} "
        "steps, package {:.1f} MiB\n",
        divisor_, shape.tiles, shape.bindings, shape.host_calls, shape.plans, shape.steps_per_plan,
        mib(structure_->bytes.size()));
  }
  return *structure_;
}

void register_cases(Fixtures& fixtures, bool smoke) {
  register_segment_cases(fixtures, smoke);
  register_scaling_cases(fixtures, smoke);
  register_structure_cases(fixtures, smoke);
  register_profile_cases(fixtures, smoke);
}

std::vector<Check> checks() {
  return {
      {"segment/write", "segment/memcpy", 2.5},
      {"segment/read_span", "segment/memcpy", 2.0},
      {"segment/read_istream", "segment/memcpy", std::nullopt},
      {"segment/validate", "segment/read_span", 0.05},
      {"segment/tile_image_all", "segment/memcpy_images", 1.5},
      {"scaling/1_16/write", "scaling/1_16/memcpy", std::nullopt},
      {"scaling/1_16/read_span", "scaling/1_16/memcpy", std::nullopt},
      {"scaling/1_4/write", "scaling/1_4/memcpy", std::nullopt},
      {"scaling/1_4/read_span", "scaling/1_4/memcpy", std::nullopt},
      // Linear growth: 16 times the input may cost at most 18 times the time, 4 times 4.5. The
      // memory copy's own growth is shown beside them.
      {"segment/write", "scaling/1_16/write", 18.0},
      {"segment/write", "scaling/1_4/write", 4.5},
      {"segment/read_span", "scaling/1_16/read_span", 18.0},
      {"segment/read_span", "scaling/1_4/read_span", 4.5},
      {"segment/memcpy", "scaling/1_16/memcpy", std::nullopt},
      {"segment/memcpy", "scaling/1_4/memcpy", std::nullopt},
      {"structure/write", "structure/raw_traversal", std::nullopt},
      {"structure/read_span", "structure/raw_traversal", 3.0},
      {"structure/validate", "structure/read_span", 0.5},
      {"profile/report", "profile/step_copy", 1.5},
  };
}

}  // namespace dova::bench
