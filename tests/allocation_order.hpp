#pragma once

// Where the objects of a single-segment message lie. The writers allocate sequentially in one fixed
// order, and that order fixes the exact bytes of the output; these helpers list the objects'
// addresses in the order they must have been created, to check that they only ever rise.

#include <capnp/any.h>
#include <capnp/blob.h>
#include <capnp/list.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "profile_common.capnp.h"

namespace dova::package::fixtures {

class AllocationOrder {
 public:
  void text(std::string label, capnp::Text::Reader value) { add(std::move(label), value.begin()); }
  // Empty data takes no room and has no position of its own.
  void data(std::string label, capnp::Data::Reader value) {
    if (value.size() > 0) add(std::move(label), value.begin());
  }
  template <class T>
  void numbers(std::string label, T list) {
    if (list.size() > 0) add(std::move(label), capnp::AnyList::Reader(list).getRawBytes().begin());
  }
  // A struct, or a struct list by its first element (an empty one has none).
  template <class T>
  void structure(std::string label, T reader) {
    add(std::move(label), capnp::AnyStruct::Reader(reader).getDataSection().begin());
  }
  template <class T>
  void structs(std::string label, T list) {
    if (list.size() > 0) structure(std::move(label), list[0]);
  }

  // The step mapping shared by packages and reports.
  void step(const std::string& label, profile_common_capnp::Step::Reader step) {
    text(label + ".operation", step.getOperation());
    text(label + ".kernel", step.getKernel());
    structs(label + ".metadata", step.getMetadata());
    for (capnp::uint i = 0; i < step.getMetadata().size(); ++i) {
      const std::string item = label + ".metadata[" + std::to_string(i) + "]";
      text(item + ".name", step.getMetadata()[i].getName());
      text(item + ".value", step.getMetadata()[i].getValue());
    }
    structs(label + ".exchange_activities", step.getExchangeActivities());
  }

  void expect_rising() const {
    ASSERT_GT(entries_.size(), 1u);
    for (std::size_t i = 1; i < entries_.size(); ++i) {
      EXPECT_LT(entries_[i - 1].address, entries_[i].address)
          << entries_[i - 1].label << " should lie before " << entries_[i].label;
    }
  }

 private:
  struct Entry {
    std::string label;
    std::uintptr_t address;
  };

  void add(std::string label, const void* address) {
    entries_.push_back(Entry{std::move(label), reinterpret_cast<std::uintptr_t>(address)});
  }

  std::vector<Entry> entries_;
};

}  // namespace dova::package::fixtures
