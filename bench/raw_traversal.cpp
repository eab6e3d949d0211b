#include "raw_traversal.hpp"

#include <capnp/serialize.h>

#include <limits>

#include "application.capnp.h"
#include "profile_common.capnp.h"

namespace dova::bench {
namespace {

namespace app = dova::package::application_capnp;
namespace common = dova::package::profile_common_capnp;

// Texts and byte strings: their length and first byte, which makes the reader check the pointer
// and bounds as a copy would.
template <class Blob>
std::uint64_t touch(Blob blob) {
  return blob.size() + (blob.size() == 0 ? 0 : static_cast<std::uint8_t>(blob[0]));
}

std::uint64_t touch(capnp::List<std::uint32_t>::Reader list) {
  std::uint64_t sum = list.size();
  for (std::uint32_t value : list) sum += value;
  return sum;
}

std::uint64_t touch(capnp::List<app::RegionSlice>::Reader slices) {
  std::uint64_t sum = 0;
  for (auto slice : slices) {
    sum += slice.getTile() + slice.getTileAddress() + slice.getFileOffset() + slice.getSize();
  }
  return sum;
}

std::uint64_t touch(capnp::List<app::Binding>::Reader bindings) {
  std::uint64_t sum = 0;
  for (auto binding : bindings) {
    sum += touch(binding.getName()) + touch(binding.getDtype()) + touch(binding.getShape()) +
           touch(binding.getSlices());
  }
  return sum;
}

std::uint64_t touch(capnp::List<app::HostSlice>::Reader slices) {
  std::uint64_t sum = 0;
  for (auto slice : slices) {
    sum += slice.getPage() + slice.getPageOffset() + slice.getFileOffset() + slice.getSize();
  }
  return sum;
}

std::uint64_t touch(common::Step::Reader step) {
  std::uint64_t sum = step.getLocalIndex() + step.getPhase() + step.getEpoch() +
                      touch(step.getOperation()) + static_cast<std::uint16_t>(step.getKind()) +
                      touch(step.getKernel()) + step.getExchangeEventCycles();
  for (auto item : step.getMetadata()) sum += touch(item.getName()) + touch(item.getValue());
  for (auto activity : step.getExchangeActivities()) {
    sum += static_cast<std::uint16_t>(activity.getKind()) + activity.getStartCycle() +
           activity.getEndCycle();
  }
  return sum;
}

std::uint64_t touch(app::Application::Reader root) {
  std::uint64_t sum = root.getSchemaVersion() + touch(root.getCompilerVersion()) +
                      touch(root.getTarget()) + root.getTileMemoryBase() + root.getTileMemorySize();
  for (auto tile : root.getTiles()) {
    sum += tile.getPhysicalTile() + tile.getEntryPoint() + tile.getCommandAddress() +
           tile.getDiagnosticAddress();
    for (auto segment : tile.getSegments()) {
      sum += segment.getAddress() + segment.getMemorySize() + touch(segment.getData()) +
             segment.getFlags();
    }
  }
  sum += touch(root.getInputs()) + touch(root.getOutputs()) + touch(root.getWeights());

  const auto exchange = root.getHostExchange();
  sum += exchange.getStartupMark() + exchange.getCommandPage() + exchange.getCommandOffset();
  for (auto page : exchange.getPages()) sum += page.getIndex() + page.getSize();
  sum += touch(exchange.getAttachOrder());
  for (auto call : exchange.getCalls()) {
    sum += touch(call.getName()) + call.getCommand() + call.getPhases() + call.getInvocations() +
           touch(call.getInputs()) + touch(call.getOutputs()) + touch(call.getInputBatchEnds()) +
           touch(call.getOutputBatchEnds());
  }

  for (auto entry : root.getEntryPoints()) {
    sum += touch(entry.getName()) + entry.getCommand() + entry.getExternalSyncs();
  }
  for (auto write : root.getDeviceConfigWrites()) sum += write.getOffset() + write.getValue();
  for (auto plan : root.getProfileTiles()) {
    sum += plan.getPhysicalTile();
    for (auto step : plan.getSteps()) sum += touch(step);
  }
  for (auto symbol : root.getDebugSymbols()) sum += touch(symbol.getName()) + symbol.getAddress();
  for (auto region : root.getDebugRegions()) {
    sum +=
        region.getPhysicalTile() + region.getAddress() + region.getSize() + touch(region.getName());
  }
  return sum;
}

}  // namespace

std::uint64_t traverse_raw(std::span<const std::uint8_t> bytes) {
  capnp::ReaderOptions options;
  options.traversalLimitInWords = std::numeric_limits<std::uint64_t>::max();
  options.nestingLimit = 64;
  capnp::FlatArrayMessageReader reader(
      kj::arrayPtr(reinterpret_cast<const capnp::word*>(bytes.data()), bytes.size() / 8), options);
  return touch(reader.getRoot<app::Application>());
}

}  // namespace dova::bench
