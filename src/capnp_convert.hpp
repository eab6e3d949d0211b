#pragma once

// Mapping between the records and the generated message accessors. The write_<list> functions fill
// a list that the caller created with exactly as many elements as the record list; the read_<list>
// functions convert a message list element by element, in order, reporting the first fault.

#include <capnp/blob.h>
#include <capnp/list.h>

#include <cstdint>
#include <string>
#include <vector>

#include "application.capnp.h"
#include "dova/package/profile.hpp"
#include "dova/package/records.hpp"
#include "message_io.hpp"
#include "profile.capnp.h"
#include "profile_common.capnp.h"

namespace dova::package {

namespace app = application_capnp;
namespace common = profile_common_capnp;

template <class T>
using ListBuilder = typename capnp::List<T>::Builder;
template <class T>
using ListReader = typename capnp::List<T>::Reader;

// Element count of a message list for a record list. A message list counts at most 2^29 - 1
// elements: a longer record list fails the write instead of being cut short.
capnp::uint list_size(std::size_t size);

// Text as a Cap'n Proto Text value, without copying.
inline capnp::Text::Reader as_text(const std::string& text) {
  return capnp::Text::Reader(text.c_str(), text.size());
}

// A message text, checked as UTF-8 and copied.
Result<std::string> read_text(capnp::Text::Reader text, DecodeBudget& budget);
// The same, copied into `out`: a record's field is filled where it stays.
Result<void> read_text_into(capnp::Text::Reader text, DecodeBudget& budget, std::string& out);

// A list of numbers, copied.
std::vector<std::uint32_t> read_u32_list(ListReader<std::uint32_t> list, DecodeBudget& budget);
void write_u32_list(ListBuilder<std::uint32_t> list, const std::vector<std::uint32_t>& values);

// Shared by the package and the profile report: a step has one encoding in both files.
void write_profile_step(common::Step::Builder builder, const ProfileStep& step);
Result<ProfileStep> read_profile_step(common::Step::Reader reader, DecodeBudget& budget);
// The same, filling a default-constructed step in place.
Result<void> read_profile_step_into(common::Step::Reader reader, DecodeBudget& budget,
                                    ProfileStep& step);

// Fills the root of a package, which the caller has created (and cleared).
void write_application(app::Application::Builder root, const Application& application);
void write_tiles(ListBuilder<app::TileImage> list, const std::vector<TileImage>& tiles);
void write_bindings(ListBuilder<app::Binding> list, const std::vector<Binding>& bindings);
void write_host_exchange(app::HostExchange::Builder builder, const HostExchange& exchange);
void write_host_slices(ListBuilder<app::HostSlice> list, const std::vector<HostSlice>& slices);
void write_profile_tiles(ListBuilder<app::TileProfilePlan> list,
                         const std::vector<TileProfilePlan>& plans);

Result<std::vector<TileImage>> read_tiles(ListReader<app::TileImage> list, DecodeBudget& budget);
Result<std::vector<Binding>> read_bindings(ListReader<app::Binding> list, DecodeBudget& budget);
Result<HostExchange> read_host_exchange(app::HostExchange::Reader reader, DecodeBudget& budget);
std::vector<HostSlice> read_host_slices(ListReader<app::HostSlice> list, DecodeBudget& budget);
Result<std::vector<TileProfilePlan>> read_profile_tiles(ListReader<app::TileProfilePlan> list,
                                                        DecodeBudget& budget);

// Converts every element of a message list with `convert(element, budget)`, stopping at the first
// error. The records are charged to the budget before they are allocated.
template <class Element, class Convert>
auto read_list(ListReader<Element> list, DecodeBudget& budget, Convert&& convert)
    -> Result<std::vector<typename decltype(convert(list[0], budget))::value_type>> {
  using Record = typename decltype(convert(list[0], budget))::value_type;
  budget.charge(list.size(), sizeof(Record));
  std::vector<Record> records;
  records.reserve(list.size());
  for (auto element : list) {
    auto record = convert(element, budget);
    if (!record) return tl::unexpected(std::move(record.error()));
    records.push_back(std::move(*record));
  }
  return records;
}

// Like read_list, with `convert(element, budget, record)` filling a default-constructed record
// where it stays in `records`: no temporary record and no move.
template <class List, class Record, class Convert>
Result<void> read_list_into(List list, DecodeBudget& budget, std::vector<Record>& records,
                            Convert&& convert) {
  budget.charge(list.size(), sizeof(Record));
  records.reserve(list.size());
  for (auto element : list) {
    if (auto converted = convert(element, budget, records.emplace_back()); !converted) {
      return converted;
    }
  }
  return {};
}

}  // namespace dova::package
