#pragma once

// The library's one error type. Every fallible operation returns Result<T>: its value or exactly
// one PackageError. No operation throws.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <system_error>
#include <tl/expected.hpp>

namespace dova::package {

class PackageError {
 public:
  // Declaration order is part of the interface.
  enum class Kind { Capnp, Io, Utf8, SchemaEnum, Invalid };

  // A message could not be read, framed or written (malformed input, failing source or sink).
  static PackageError capnp(std::string description);
  // An operating-system input/output error. The library's own operations never produce it.
  static PackageError io(std::error_code code);
  // A text field is not valid UTF-8: the length of its valid prefix, and the length of the bad
  // sequence (none when the input ends inside a sequence).
  static PackageError utf8(std::size_t valid_up_to, std::optional<std::size_t> error_len);
  // An enumeration field holds a value its schema does not define.
  static PackageError schema_enum(std::uint16_t raw_value);
  // A rule of the library fails; the text names the rule and the item at fault.
  static PackageError invalid(std::string message);

  Kind kind() const { return kind_; }
  // Invalid: its text; Capnp: the description; the others: a readable text form.
  const std::string& message() const { return message_; }
  std::size_t valid_up_to() const { return valid_up_to_; }
  std::optional<std::size_t> error_len() const { return error_len_; }
  std::uint16_t raw_value() const { return raw_value_; }
  std::error_code io_code() const { return io_code_; }

  // Diagnostic text form: Invalid("..."), SchemaEnum(4), Utf8(valid_up_to: 3, error_len: 1),
  // Capnp(<description>), Io(<message>).
  std::string to_string() const;

  bool operator==(const PackageError&) const = default;

 private:
  PackageError(Kind kind, std::string message) : kind_(kind), message_(std::move(message)) {}

  Kind kind_;
  std::string message_;
  std::size_t valid_up_to_ = 0;
  std::optional<std::size_t> error_len_;
  std::uint16_t raw_value_ = 0;
  std::error_code io_code_;
};

template <class T>
using Result = tl::expected<T, PackageError>;

std::ostream& operator<<(std::ostream& out, const PackageError& error);
std::ostream& operator<<(std::ostream& out, PackageError::Kind kind);

}  // namespace dova::package
