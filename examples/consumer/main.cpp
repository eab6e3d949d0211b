// Builds an application in memory, validates it, writes it as a package, reads it back and checks
// the round trip. Exits 0 only if every step succeeds and the read-back equals the original.
// With a path argument, also stores the package bytes there.

#include <cstdint>
#include <fstream>
#include <iostream>
#include <vector>

#include <dova/package.hpp>

namespace dp = dova::package;

namespace {

dp::Application make_application() {
  dp::Application app;
  app.compiler_version = "consumer-example";
  for (std::uint32_t tile = 0; tile < 2; ++tile) {
    app.tiles.push_back({.physical_tile = tile,
                         .entry_point = dp::TILE_MEMORY_BASE,
                         .segments = {{.address = dp::TILE_MEMORY_BASE,
                                       .memory_size = 16,
                                       .data = {0xde, 0xad, 0xbe, 0xef, std::uint8_t(tile)}}}});
  }
  app.inputs.push_back(
      {.name = "image",
       .dtype = "f32",
       .shape = {2, 4},
       .slices = {{.tile = 0, .tile_address = 0x50000, .file_offset = 0, .size = 16},
                  {.tile = 1, .tile_address = 0x50000, .file_offset = 16, .size = 16}}});
  app.outputs.push_back(
      {.name = "logits",
       .dtype = "f32",
       .shape = {2},
       .slices = {{.tile = 1, .tile_address = 0x51000, .file_offset = 0, .size = 8}}});
  app.entry_points.push_back({.name = "main", .command = 1, .external_syncs = 0});
  app.debug_symbols.push_back({.name = "main", .address = dp::TILE_MEMORY_BASE});
  return app;
}

int fail(const char* step, const dp::PackageError& error) {
  std::cerr << "consumer: " << step << " failed: " << error << '\n';
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (dp::VERSION != DOVA_PACKAGE_FOUND_VERSION) {
    std::cerr << "consumer: header version " << dp::VERSION << " differs from package version "
              << DOVA_PACKAGE_FOUND_VERSION << '\n';
    return 1;
  }

  const dp::Application original = make_application();
  if (auto valid = original.validate(); !valid) return fail("validate", valid.error());

  std::vector<std::uint8_t> bytes;
  if (auto written = original.write(bytes); !written) return fail("write", written.error());

  auto back = dp::Application::read(bytes);
  if (!back) return fail("read", back.error());
  if (auto valid = back->validate(); !valid) return fail("validate after read", valid.error());
  if (*back != original) {
    std::cerr << "consumer: read-back differs from the original\n  wrote: " << original
              << "\n  read:  " << *back << '\n';
    return 1;
  }

  if (argc > 1) {
    std::ofstream out(argv[1], std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    if (!out) {
      std::cerr << "consumer: cannot write " << argv[1] << '\n';
      return 1;
    }
  }
  std::cout << "consumer: dova_package " << dp::VERSION << ", " << bytes.size()
            << " package bytes round-tripped\n";
  return 0;
}
