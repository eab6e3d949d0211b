// Conversions shared by the package and the profile report: texts, number lists and the step.

#include "capnp_convert.hpp"
#include "uncleared_write.hpp"
#include "utf8.hpp"

namespace dova::package {

capnp::uint list_size(std::size_t size) {
  constexpr std::size_t max_elements = (std::size_t{1} << 29) - 1;
  if (size > max_elements) {
    KJ_FAIL_REQUIRE("a list has more elements than a message list can hold", size);
  }
  return static_cast<capnp::uint>(size);
}

capnp::uint text_size(std::size_t size) {
  if (size > capnp::MAX_TEXT_SIZE) KJ_FAIL_REQUIRE("text blob too big", size);
  return static_cast<capnp::uint>(size);
}

capnp::uint data_size(std::size_t size) {
  constexpr std::size_t max_bytes = (std::size_t{1} << capnp::BLOB_SIZE_BITS) - 1;
  if (size > max_bytes) KJ_FAIL_REQUIRE("byte blob too big", size);
  return static_cast<capnp::uint>(size);
}

Result<void> read_text_into(capnp::Text::Reader text, DecodeBudget& budget, std::string& out) {
  budget.charge(text.size(), 1);
  const std::string_view view(text.cStr(), text.size());
  if (auto fault = find_utf8_fault(view)) {
    return tl::unexpected(PackageError::utf8(fault->valid_up_to, fault->error_len));
  }
  out.assign(view);
  return {};
}

Result<std::string> read_text(capnp::Text::Reader text, DecodeBudget& budget) {
  std::string out;
  if (auto read = read_text_into(text, budget, out); !read) {
    return tl::unexpected(std::move(read.error()));
  }
  return out;
}

std::vector<std::uint32_t> read_u32_list(ListReader<std::uint32_t> list, DecodeBudget& budget) {
  budget.charge(list.size(), sizeof(std::uint32_t));
  std::vector<std::uint32_t> values;
  values.reserve(list.size());
  for (std::uint32_t value : list) values.push_back(value);
  return values;
}

// The list comes cleared from the caller (uncleared_write.hpp).
void write_u32_list(ListBuilder<std::uint32_t> list, const std::vector<std::uint32_t>& values) {
  for (capnp::uint i = 0; i < values.size(); ++i) list.set(i, values[i]);
}

// The step struct comes cleared from the caller; what it allocates is cleared here.
void write_profile_step(common::Step::Builder builder, const ProfileStep& step) {
  builder.setLocalIndex(step.local_index);
  builder.setPhase(step.phase);
  builder.setEpoch(step.epoch);
  put_text(builder.initOperation(text_size(step.operation.size())), step.operation);
  // The stored value always equals the in-memory enumerant's value.
  builder.setKind(static_cast<common::StepKind>(step.kind));
  put_text(builder.initKernel(text_size(step.kernel.size())), step.kernel);
  builder.setExchangeEventCycles(step.exchange_event_cycles);
  auto metadata = cleared(builder.initMetadata(list_size(step.metadata.size())));
  for (capnp::uint i = 0; i < step.metadata.size(); ++i) {
    const ProfileMetadata& item = step.metadata[i];
    put_text(metadata[i].initName(text_size(item.name.size())), item.name);
    put_text(metadata[i].initValue(text_size(item.value.size())), item.value);
  }
  auto activities =
      cleared(builder.initExchangeActivities(list_size(step.exchange_activities.size())));
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

Result<void> read_metadata(common::Metadata::Reader reader, DecodeBudget& budget,
                           ProfileMetadata& item) {
  if (auto name = read_text_into(reader.getName(), budget, item.name); !name) return name;
  return read_text_into(reader.getValue(), budget, item.value);
}

Result<void> read_activity(common::ExchangeActivity::Reader reader, DecodeBudget&,
                           ProfileExchangeActivity& activity) {
  const auto raw = static_cast<std::uint16_t>(reader.getKind());
  if (raw >= ACTIVITY_KIND_COUNT) return tl::unexpected(PackageError::schema_enum(raw));
  activity = {static_cast<ExchangeActivityKind>(raw), reader.getStartCycle(), reader.getEndCycle()};
  return {};
}

}  // namespace

Result<void> read_profile_step_into(common::Step::Reader reader, DecodeBudget& budget,
                                    ProfileStep& step) {
  step.local_index = reader.getLocalIndex();
  step.phase = reader.getPhase();
  step.epoch = reader.getEpoch();
  if (auto operation = read_text_into(reader.getOperation(), budget, step.operation); !operation) {
    return operation;
  }
  auto kind = read_step_kind(reader.getKind());
  if (!kind) return tl::unexpected(std::move(kind.error()));
  step.kind = *kind;
  if (auto kernel = read_text_into(reader.getKernel(), budget, step.kernel); !kernel) {
    return kernel;
  }
  if (auto metadata = read_list_into(reader.getMetadata(), budget, step.metadata, read_metadata);
      !metadata) {
    return metadata;
  }
  if (auto activities = read_list_into(reader.getExchangeActivities(), budget,
                                       step.exchange_activities, read_activity);
      !activities) {
    return activities;
  }
  step.exchange_event_cycles = reader.getExchangeEventCycles();
  return {};
}

Result<ProfileStep> read_profile_step(common::Step::Reader reader, DecodeBudget& budget) {
  ProfileStep step;
  if (auto read = read_profile_step_into(reader, budget, step); !read) {
    return tl::unexpected(std::move(read.error()));
  }
  return step;
}

}  // namespace dova::package
