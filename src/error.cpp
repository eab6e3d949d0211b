#include "dova/package/error.hpp"

#include <fmt/format.h>

#include <ostream>

#include "text_form.hpp"

namespace dova::package {

PackageError PackageError::capnp(std::string description) {
  return PackageError(Kind::Capnp, std::move(description));
}

PackageError PackageError::io(std::error_code code) {
  PackageError error(Kind::Io, code.message());
  error.io_code_ = code;
  return error;
}

PackageError PackageError::utf8(std::size_t valid_up_to, std::optional<std::size_t> error_len) {
  PackageError error(
      Kind::Utf8,
      error_len
          ? fmt::format("invalid utf-8 sequence of {} bytes from index {}", *error_len, valid_up_to)
          : fmt::format("incomplete utf-8 byte sequence from index {}", valid_up_to));
  error.valid_up_to_ = valid_up_to;
  error.error_len_ = error_len;
  return error;
}

PackageError PackageError::schema_enum(std::uint16_t raw_value) {
  PackageError error(Kind::SchemaEnum,
                     fmt::format("enum value {} is not in the schema", raw_value));
  error.raw_value_ = raw_value;
  return error;
}

PackageError PackageError::invalid(std::string message) {
  return PackageError(Kind::Invalid, std::move(message));
}

std::string PackageError::to_string() const {
  switch (kind_) {
    case Kind::Capnp:
      return fmt::format("Capnp({})", message_);
    case Kind::Io:
      return fmt::format("Io({})", message_);
    case Kind::Utf8:
      return error_len_
                 ? fmt::format("Utf8(valid_up_to: {}, error_len: {})", valid_up_to_, *error_len_)
                 : fmt::format("Utf8(valid_up_to: {}, error_len: none)", valid_up_to_);
    case Kind::SchemaEnum:
      return fmt::format("SchemaEnum({})", raw_value_);
    case Kind::Invalid:
      return "Invalid(" + quoted(message_) + ")";
  }
  return message_;
}

std::ostream& operator<<(std::ostream& out, const PackageError& error) {
  return out << error.to_string();
}

std::ostream& operator<<(std::ostream& out, PackageError::Kind kind) {
  switch (kind) {
    case PackageError::Kind::Capnp:
      return out << "Capnp";
    case PackageError::Kind::Io:
      return out << "Io";
    case PackageError::Kind::Utf8:
      return out << "Utf8";
    case PackageError::Kind::SchemaEnum:
      return out << "SchemaEnum";
    case PackageError::Kind::Invalid:
      return out << "Invalid";
  }
  return out << "Unknown";
}

}  // namespace dova::package
