// Writes the seed corpora of the fuzz targets with the library's own writers, from the reference
// data: `dova_fuzz_seeds DIR` fills DIR/application and DIR/report. The writers are deterministic,
// so running it again rewrites the same bytes.

#include <capnp/any.h>
#include <capnp/message.h>
#include <capnp/serialize.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "dova/package.hpp"
#include "profiled_sample.hpp"
#include "reference.hpp"

namespace dp = dova::package;

namespace {

std::vector<std::uint8_t> package_of(const dp::Application& application) {
  std::vector<std::uint8_t> bytes;
  if (auto written = application.write(bytes); !written) {
    std::fprintf(stderr, "dova_fuzz_seeds: %s\n", written.error().to_string().c_str());
    std::exit(1);
  }
  return bytes;
}

std::vector<std::uint8_t> report_of(const dp::ProfileReport& report) {
  std::vector<std::uint8_t> bytes;
  if (auto written = report.write(bytes); !written) {
    std::fprintf(stderr, "dova_fuzz_seeds: %s\n", written.error().to_string().c_str());
    std::exit(1);
  }
  return bytes;
}

// The profiled reference package followed by its runtime output buffer: the application target
// reads the bytes after the message as the output of a profiled run.
std::vector<std::uint8_t> profiled_package_and_output() {
  const auto profiled = dp::fuzz::profiled_sample();
  std::vector<std::uint8_t> bytes = package_of(profiled.application);
  bytes.insert(bytes.end(), profiled.output.begin(), profiled.output.end());
  return bytes;
}

// The same message laid out by the message layer in segments of 32 words, joined by far pointers,
// so that the fuzzers start from multi-segment framing too.
std::vector<std::uint8_t> segmented(const std::vector<std::uint8_t>& bytes) {
  kj::Array<capnp::word> words = kj::heapArray<capnp::word>(bytes.size() / sizeof(capnp::word));
  std::memcpy(words.begin(), bytes.data(), words.size() * sizeof(capnp::word));
  capnp::FlatArrayMessageReader reader(words);
  capnp::MallocMessageBuilder builder(32, capnp::AllocationStrategy::FIXED_SIZE);
  builder.getRoot<capnp::AnyPointer>().set(reader.getRoot<capnp::AnyPointer>());
  const kj::Array<capnp::word> flat = capnp::messageToFlatArray(builder);
  return {flat.asBytes().begin(), flat.asBytes().end()};
}

void save(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) {
    std::fprintf(stderr, "dova_fuzz_seeds: cannot write %s\n", path.c_str());
    std::exit(1);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: dova_fuzz_seeds DIR\n");
    return 2;
  }
  const std::filesystem::path dir = argv[1];
  save(dir / "report" / "reference", report_of(dp::reference::profile_report()));
  save(dir / "report" / "empty_tile",
       report_of(dp::ProfileReport{.clock_hz = 0, .tiles = {dp::TileProfile{}}}));
  save(dir / "report" / "reference_segmented",
       segmented(report_of(dp::reference::profile_report())));
  save(dir / "application" / "sample", package_of(dp::reference::sample()));
  save(dir / "application" / "extended", package_of(dp::reference::extended_sample()));
  save(dir / "application" / "extended_segmented",
       segmented(package_of(dp::reference::extended_sample())));
  save(dir / "application" / "profiled", profiled_package_and_output());
  return 0;
}
