#pragma once

// The profiled step: shared by a tile's profile plan and by a sample of a cycle profile report.

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace dova::package {

// Values are fixed: packages and reports store them as numbers.
enum class ProfileStepKind : std::uint16_t { Exchange = 0, Compute = 1, Synchronization = 2, Idle = 3 };
enum class ExchangeActivityKind : std::uint16_t { Send = 0, Receive = 1, PartnerBusy = 2 };

// One further name and value pair describing a step. Carried.
struct ProfileMetadata {
  std::string name;
  std::string value;

  bool operator==(const ProfileMetadata&) const = default;
};

// One interval of exchange activity within a step. Carried.
struct ProfileExchangeActivity {
  ExchangeActivityKind kind = ExchangeActivityKind::Send;
  std::uint32_t start_cycle = 0;
  std::uint32_t end_cycle = 0;

  bool operator==(const ProfileExchangeActivity&) const = default;
};

// One profiled step. Within a plan, the step at position i has local_index i.
struct ProfileStep {
  std::uint32_t local_index = 0;
  std::uint32_t phase = 0;
  std::uint32_t epoch = 0;
  std::string operation;
  ProfileStepKind kind = ProfileStepKind::Exchange;
  std::string kernel;
  std::vector<ProfileMetadata> metadata;
  std::vector<ProfileExchangeActivity> exchange_activities;
  std::uint32_t exchange_event_cycles = 0;

  bool operator==(const ProfileStep&) const = default;
};

// Debug text forms: the record's name, then every field by name in declaration order.
std::ostream& operator<<(std::ostream& out, ProfileStepKind kind);
std::ostream& operator<<(std::ostream& out, ExchangeActivityKind kind);
std::ostream& operator<<(std::ostream& out, const ProfileMetadata& value);
std::ostream& operator<<(std::ostream& out, const ProfileExchangeActivity& value);
std::ostream& operator<<(std::ostream& out, const ProfileStep& value);

// The name of an enumeration value ("Compute", "PartnerBusy").
std::string_view to_string(ProfileStepKind kind);
std::string_view to_string(ExchangeActivityKind kind);

}  // namespace dova::package
