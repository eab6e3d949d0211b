#pragma once

// Writing objects into a message whose arena does not clear its segments (package_arena.hpp). The
// message layer assumes that what it allocates is zero: it reads a pointer before replacing it and
// leaves unset fields and padding as they are. So each object is cleared here as soon as it is
// allocated, before anything of it is read or set, and byte strings are copied in and only their
// padding cleared. On cleared memory (any other arena) these helpers give the same bytes.

#include <capnp/any.h>
#include <capnp/blob.h>
#include <capnp/list.h>

#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>
#include <type_traits>

#include "bulk_copy.hpp"

namespace dova::package {

// Words taken by one element of a struct list, or by one struct.
template <class T>
constexpr std::size_t struct_bytes() {
  return (std::size_t{T::_capnpPrivate::dataWordSize} + T::_capnpPrivate::pointerCount) * 8;
}

constexpr std::size_t round_up_to_word(std::size_t bytes) { return (bytes + 7) / 8 * 8; }

template <class List>
struct ListOf;
template <class T, capnp::Kind K>
struct ListOf<capnp::List<T, K>> {
  using Element = T;
  static constexpr capnp::Kind element_kind = K;
};

// A freshly allocated struct, list of structs or list of 32-bit numbers, cleared. The elements of
// a struct list lie one after another from the first; a number list is cleared to its last word.
template <class Builder>
Builder cleared(Builder builder) {
  using Builds = typename Builder::Builds;
  if constexpr (capnp::kind<Builds>() == capnp::Kind::STRUCT) {
    std::memset(capnp::AnyStruct::Builder(Builder(builder)).getDataSection().begin(), 0,
                struct_bytes<Builds>());
  } else if constexpr (ListOf<Builds>::element_kind == capnp::Kind::STRUCT) {
    using Element = typename ListOf<Builds>::Element;
    if (builder.size() != 0) {
      std::memset(capnp::AnyStruct::Builder(builder[0]).getDataSection().begin(), 0,
                  std::size_t{builder.size()} * struct_bytes<Element>());
    }
  } else {
    static_assert(std::is_same_v<Builds, capnp::List<std::uint32_t>>);
    if (builder.size() != 0) {
      const auto bytes = capnp::AnyList::Builder(Builder(builder)).asReader().getRawBytes();
      std::memset(const_cast<capnp::byte*>(bytes.begin()), 0,
                  round_up_to_word(std::size_t{builder.size()} * sizeof(std::uint32_t)));
    }
  }
  return builder;
}

// Size of a text or byte string as the message layer counts it; larger ones are refused.
capnp::uint text_size(std::size_t size);
capnp::uint data_size(std::size_t size);

// Fills a text allocated with `text.size()` bytes: its bytes, the terminating NUL and padding.
inline void put_text(capnp::Text::Builder target, std::string_view text) {
  std::memcpy(target.begin(), text.data(), text.size());
  std::memset(target.begin() + text.size(), 0, round_up_to_word(text.size() + 1) - text.size());
}

// Fills byte data allocated with `bytes.size()` bytes: the bytes and padding.
inline void put_data(capnp::Data::Builder target, std::span<const std::uint8_t> bytes) {
  bulk_copy(target.begin(), bytes.data(), bytes.size());
  std::memset(target.begin() + bytes.size(), 0, round_up_to_word(bytes.size()) - bytes.size());
}

}  // namespace dova::package
