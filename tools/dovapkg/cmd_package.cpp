// The package subcommands: sample, validate, inspect, pack and tile-image.

#include <fmt/format.h>

#include <cstdio>

#include "commands.hpp"
#include "files.hpp"
#include "package_summary.hpp"
#include "json_form.hpp"
#include "package_files.hpp"
#include "reference.hpp"
#include "table.hpp"

namespace dovapkg {

namespace dp = dova::package;

ToolResult<int> run_sample(const std::string& out) {
  const dp::Application app = dp::reference::extended_sample();
  if (auto saved = save_application(app, out); !saved) return tl::unexpected(saved.error());
  fmt::print("wrote {} ({} tiles, compiler {})\n", out, app.tiles.size(), app.compiler_version);
  return 0;
}

ToolResult<int> run_validate(const std::vector<std::string>& files) {
  int status = 0;
  for (const std::string& file : files) {
    auto bytes = read_file(file);
    if (!bytes) {
      fmt::print("{}: error: {}\n", file, bytes.error().message);
      status = 1;
      continue;
    }
    auto decoded = decode_application(file, *bytes);
    if (!decoded) {
      fmt::print("{}: error: {}\n", file, decoded.error().message);
      status = 1;
      continue;
    }
    fmt::print("{}: ok ({} tiles, compiler {})\n", file, decoded->value.tiles.size(),
               printable(decoded->value.compiler_version));
    std::fflush(stdout);  // the warning follows its file's line on a shared terminal
    warn_trailing(file, decoded->trailing);
  }
  return status;
}

ToolResult<int> run_inspect(const std::string& file, bool json, bool all) {
  auto app = load_application(file);
  if (!app) return tl::unexpected(app.error());
  const std::string text = json ? dump_json(to_json(*app)) : inspect_text(*app, all);
  fmt::print("{}", text);
  return 0;
}

ToolResult<int> run_pack(const std::string& json_file, const std::string& out) {
  auto text = read_text_file(json_file);
  if (!text) return tl::unexpected(text.error());
  auto json = parse_json(*text);
  if (!json) return tl::unexpected(file_error(json_file, json.error().message));
  auto app = application_from_json(*json);
  if (!app) return tl::unexpected(file_error(json_file, app.error().message));
  if (auto saved = save_application(*app, out); !saved) return tl::unexpected(saved.error());
  fmt::print("wrote {} ({} tiles, compiler {})\n", out, app->tiles.size(),
             printable(app->compiler_version));
  return 0;
}

ToolResult<int> run_tile_image(const std::string& file, std::uint32_t tile,
                               const std::string& out) {
  auto app = load_application(file);
  if (!app) return tl::unexpected(app.error());
  auto image = app->tile_image(tile);
  if (!image) return tl::unexpected(tool_error(image.error()));
  // The library found the tile and its segments, so there is a load base.
  const std::uint32_t load_base = tile_load_base(*app, tile).value_or(0);
  if (auto written = write_file(out, *image); !written) return tl::unexpected(written.error());
  fmt::print("tile {}: load base {:#x}, {} bytes, written to {}\n", tile, load_base, image->size(),
             out);
  return 0;
}

}  // namespace dovapkg
