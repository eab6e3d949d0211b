#pragma once

// Building blocks of the records' debug text form: `Name { field: value, ... }` with numbers in
// decimal, texts in double quotes and lists in square brackets.

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace dova::package {

// A text in double quotes, with quotes, backslashes and control characters escaped.
std::string quoted(std::string_view text);

class RecordForm {
 public:
  RecordForm(std::ostream& out, std::string_view name) : out_(out) { out_ << name << " { "; }
  ~RecordForm() { out_ << (first_ ? "}" : " }"); }
  RecordForm(const RecordForm&) = delete;
  RecordForm& operator=(const RecordForm&) = delete;

  template <class T>
  RecordForm& field(std::string_view name, const T& value) {
    separator(name);
    put(value);
    return *this;
  }

 private:
  void separator(std::string_view name) {
    if (!first_) out_ << ", ";
    first_ = false;
    out_ << name << ": ";
  }
  void put(const std::string& text) { out_ << quoted(text); }
  // Bytes print as numbers, not characters.
  void put(std::uint8_t byte) { out_ << static_cast<unsigned>(byte); }
  template <class T>
  void put(const T& value) {
    out_ << value;
  }
  template <class T>
  void put(const std::vector<T>& list) {
    out_ << '[';
    for (std::size_t i = 0; i < list.size(); ++i) {
      if (i != 0) out_ << ", ";
      put(list[i]);
    }
    out_ << ']';
  }

  std::ostream& out_;
  bool first_ = true;
};

}  // namespace dova::package
