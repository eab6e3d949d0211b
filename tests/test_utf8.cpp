// find_utf8_fault: the valid prefix and the length of the first bad sequence.

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "utf8.hpp"

namespace dova::package {
namespace {

struct Utf8Case {
  const char* label;
  std::string text;
  std::optional<Utf8Fault> fault;  // none: valid
};

Utf8Fault at(std::size_t valid_up_to, std::optional<std::size_t> error_len) {
  return Utf8Fault{valid_up_to, error_len};
}

TEST(Utf8, FindsTheFirstFault) {
  const Utf8Case cases[] = {
      {"empty", "", std::nullopt},
      {"ascii", "dova21 plain text", std::nullopt},
      {"ascii with nul", std::string("a\0b", 3), std::nullopt},
      {"two-byte", "\xC3\xA9t\xC3\xA9", std::nullopt},
      {"smallest two-byte", "\xC2\x80", std::nullopt},
      {"three-byte", "\xE2\x82\xAC", std::nullopt},
      {"smallest three-byte", "\xE0\xA0\x80", std::nullopt},
      {"last before surrogates", "\xED\x9F\xBF", std::nullopt},
      {"first after surrogates", "\xEE\x80\x80", std::nullopt},
      {"four-byte", "\xF0\x9D\x84\x9E", std::nullopt},
      {"largest code point", "\xF4\x8F\xBF\xBF", std::nullopt},
      {"long ascii run then multibyte", std::string(40, 'x') + "\xE2\x82\xAC", std::nullopt},

      {"lone continuation", "ab\x80", at(2, 1)},
      {"overlong C0 80", "\xC0\x80", at(0, 1)},
      {"overlong C1", "x\xC1\xBF", at(1, 1)},
      {"overlong three-byte", "\xE0\x80\x80", at(0, 1)},
      {"overlong four-byte", "\xF0\x80\x80\x80", at(0, 1)},
      {"surrogate ED A0 80", "\xED\xA0\x80", at(0, 1)},
      {"above U+10FFFF F4 90", "\xF4\x90\x80\x80", at(0, 1)},
      {"lead F5", "\xF5\x80\x80\x80", at(0, 1)},
      {"byte FF", "abc\xFF", at(3, 1)},

      {"truncated two-byte", "ok\xC3", at(2, std::nullopt)},
      {"truncated three-byte after one", "\xE2", at(0, std::nullopt)},
      {"truncated three-byte after two", "a\xE2\x82", at(1, std::nullopt)},
      {"truncated four-byte after three", "\xF0\x9D\x84", at(0, std::nullopt)},

      {"bad second of two", "\xC3(", at(0, 1)},
      {"bad second of three", "\xE2(\xAC", at(0, 1)},
      {"bad third of three", "\xE2\x82(", at(0, 2)},
      {"bad third of four", "\xF0\x9D(\x9E", at(0, 2)},
      {"bad fourth of four", "xy\xF0\x9D\x84(", at(2, 3)},
      {"fault after eight ascii bytes", std::string(8, 'a') + "\x80", at(8, 1)},
      {"fault after a valid multibyte", "\xE2\x82\xAC\xC3", at(3, std::nullopt)},
  };
  for (const Utf8Case& c : cases) {
    const auto fault = find_utf8_fault(c.text);
    ASSERT_EQ(fault.has_value(), c.fault.has_value()) << c.label;
    if (!fault) continue;
    EXPECT_EQ(fault->valid_up_to, c.fault->valid_up_to) << c.label;
    EXPECT_EQ(fault->error_len, c.fault->error_len) << c.label;
  }
}

}  // namespace
}  // namespace dova::package
