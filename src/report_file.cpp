// The cycle profile report file. Unlike a package it has no target or memory header, and it is
// neither validated nor logged.

#include <fmt/format.h>

#include <istream>
#include <ostream>

#include "capnp_convert.hpp"
#include "dova/package/constants.hpp"

namespace dova::package {
namespace {

namespace prof = profile_capnp;

void write_report(prof::Profile::Builder root, const ProfileReport& report) {
  root.setSchemaVersion(PROFILE_SCHEMA_VERSION);
  root.setClockHz(report.clock_hz);
  auto tiles = root.initTiles(list_size(report.tiles.size()));
  for (capnp::uint i = 0; i < tiles.size(); ++i) {
    const TileProfile& tile = report.tiles[i];
    tiles[i].setPhysicalTile(tile.physical_tile);
    auto samples = tiles[i].initSamples(list_size(tile.samples.size()));
    for (capnp::uint j = 0; j < samples.size(); ++j) {
      const CycleSample& sample = tile.samples[j];
      samples[j].setStartCycle(sample.start_cycle);
      samples[j].setEndCycle(sample.end_cycle);
      write_profile_step(samples[j].initStep(), sample.step);
    }
  }
}

Result<CycleSample> read_sample(prof::CycleSample::Reader reader, DecodeBudget& budget) {
  auto step = read_profile_step(reader.getStep(), budget);
  if (!step) return tl::unexpected(std::move(step.error()));
  return CycleSample{std::move(*step), reader.getStartCycle(), reader.getEndCycle()};
}

Result<TileProfile> read_tile(prof::TileProfile::Reader reader, DecodeBudget& budget) {
  auto samples = read_list<prof::CycleSample>(reader.getSamples(), budget, read_sample);
  if (!samples) return tl::unexpected(std::move(samples.error()));
  return TileProfile{reader.getPhysicalTile(), std::move(*samples)};
}

Result<ProfileReport> decode_report(capnp::MessageReader& message, DecodeBudget& budget) {
  const auto root = message.getRoot<prof::Profile>();
  const std::uint32_t version = root.getSchemaVersion();
  if (version == 0 || version > PROFILE_SCHEMA_VERSION) {
    return tl::unexpected(
        PackageError::invalid(fmt::format("unsupported profile schema version {}", version)));
  }
  auto tiles = read_list<prof::TileProfile>(root.getTiles(), budget, read_tile);
  if (!tiles) return tl::unexpected(std::move(tiles.error()));
  return ProfileReport{root.getClockHz(), std::move(*tiles)};
}

template <class Sink>
Result<void> write_report_to(const ProfileReport& report, Sink& sink) {
  return build_and_write(
      [&](capnp::MessageBuilder& message) {
        write_report(message.initRoot<prof::Profile>(), report);
      },
      sink);
}

Result<ProfileReport> finish(const Result<FramedMessage>& frame) {
  if (!frame) return tl::unexpected(frame.error());
  return decode_message(*frame, decode_report);
}

}  // namespace

Result<void> ProfileReport::write(std::vector<std::uint8_t>& sink) const {
  return write_report_to(*this, sink);
}

Result<void> ProfileReport::write(std::ostream& sink) const { return write_report_to(*this, sink); }

Result<ProfileReport> ProfileReport::read(std::span<const std::uint8_t> source) {
  return guarded([&] { return finish(FramedMessage::from_bytes(source)); });
}

Result<ProfileReport> ProfileReport::read(std::istream& source) {
  return guarded([&] { return finish(FramedMessage::from_stream(source)); });
}

}  // namespace dova::package
