// Conversions shared by the package and the profile report: texts, number lists and the step.

#include "capnp_convert.hpp"
#include "utf8.hpp"

namespace dova::package {

capnp::uint list_size(std::size_t size) {
  constexpr std::size_t max_elements = (std::size_t{1} << 29) - 1;
  if (size > max_elements) {
    KJ_FAIL_REQUIRE("a list has more elements than a message list can hold", size);
  }
  return static_cast<capnp::uint>(size);
}

Result<std::string> read_text(capnp::Text::Reader text, DecodeBudget& budget) {
  budget.charge(text.size(), 1);
  const std::string_view view(text.cStr(), text.size());
  if (auto fault = find_utf8_fault(view)) {
    return tl::unexpected(PackageError::utf8(fault->valid_up_to, fault->error_len));
  }
  return std::string(view);
}

std::vector<std::uint32_t> read_u32_list(ListReader<std::uint32_t> list, DecodeBudget& budget) {
  budget.charge(list.size(), sizeof(std::uint32_t));
  std::vector<std::uint32_t> values;
  values.reserve(list.size());
  for (std::uint32_t value : list) values.push_back(value);
  return values;
}

void write_u32_list(ListBuilder<std::uint32_t> list, const std::vector<std::uint32_t>& values) {
  for (capnp::uint i = 0; i < values.size(); ++i) list.set(i, values[i]);
}

void write_profile_step(common::Step::Builder builder, const ProfileStep& step) {
  builder.setLocalIndex(step.local_index);
  builder.setPhase(step.phase);
  builder.setEpoch(step.epoch);
  builder.setOperation(as_text(step.operation));
  // The stored value always equals the in-memory enumerant's value.
  builder.setKind(static_cast<common::StepKind>(step.kind));
  builder.setKernel(as_text(step.kernel));
  builder.setExchangeEventCycles(step.exchange_event_cycles);
  auto metadata = builder.initMetadata(list_size(step.metadata.size()));
  for (capnp::uint i = 0; i < step.metadata.size(); ++i) {
    metadata[i].setName(as_text(step.metadata[i].name));
    metadata[i].setValue(as_text(step.metadata[i].value));
  }
  auto activities = builder.initExchangeActivities(list_size(step.exchange_activities.size()));
  for (capnp::uint i = 0; i < step.exchange_activities.size(); ++i) {
    const ProfileExchangeActivity& activity = step.exchange_activities[i];
    activities[i].setKind(static_cast<common::ExchangeActivityKind>(activity.kind));
    activities[i].setStartCycle(activity.start_cycle);
    activities[i].setEndCycle(activity.end_cycle);
  }
}

namespace {

constexpr std::uint16_t STEP_KIND_COUNT = 4;
constexpr std::uint16_t ACTIVITY_KIND_COUNT = 3;

Result<ProfileStepKind> read_step_kind(common::StepKind kind) {
  const auto raw = static_cast<std::uint16_t>(kind);
  if (raw >= STEP_KIND_COUNT) return tl::unexpected(PackageError::schema_enum(raw));
  return static_cast<ProfileStepKind>(raw);
}

Result<ProfileMetadata> read_metadata(common::Metadata::Reader reader, DecodeBudget& budget) {
  auto name = read_text(reader.getName(), budget);
  if (!name) return tl::unexpected(std::move(name.error()));
  auto value = read_text(reader.getValue(), budget);
  if (!value) return tl::unexpected(std::move(value.error()));
  return ProfileMetadata{std::move(*name), std::move(*value)};
}

Result<ProfileExchangeActivity> read_activity(common::ExchangeActivity::Reader reader,
                                              DecodeBudget&) {
  const auto raw = static_cast<std::uint16_t>(reader.getKind());
  if (raw >= ACTIVITY_KIND_COUNT) return tl::unexpected(PackageError::schema_enum(raw));
  return ProfileExchangeActivity{static_cast<ExchangeActivityKind>(raw), reader.getStartCycle(),
                                 reader.getEndCycle()};
}

}  // namespace

Result<ProfileStep> read_profile_step(common::Step::Reader reader, DecodeBudget& budget) {
  ProfileStep step;
  step.local_index = reader.getLocalIndex();
  step.phase = reader.getPhase();
  step.epoch = reader.getEpoch();
  auto operation = read_text(reader.getOperation(), budget);
  if (!operation) return tl::unexpected(std::move(operation.error()));
  step.operation = std::move(*operation);
  auto kind = read_step_kind(reader.getKind());
  if (!kind) return tl::unexpected(std::move(kind.error()));
  step.kind = *kind;
  auto kernel = read_text(reader.getKernel(), budget);
  if (!kernel) return tl::unexpected(std::move(kernel.error()));
  step.kernel = std::move(*kernel);
  auto metadata = read_list<common::Metadata>(reader.getMetadata(), budget, read_metadata);
  if (!metadata) return tl::unexpected(std::move(metadata.error()));
  step.metadata = std::move(*metadata);
  auto activities =
      read_list<common::ExchangeActivity>(reader.getExchangeActivities(), budget, read_activity);
  if (!activities) return tl::unexpected(std::move(activities.error()));
  step.exchange_activities = std::move(*activities);
  step.exchange_event_cycles = reader.getExchangeEventCycles();
  return step;
}

}  // namespace dova::package
