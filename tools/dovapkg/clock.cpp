#include "clock.hpp"

#include <fmt/format.h>

#include <array>
#include <cctype>
#include <limits>

namespace dovapkg {
namespace {

struct Unit {
  std::string_view name;
  unsigned exponent;  // the unit is 10^exponent hertz
};

constexpr std::array<Unit, 4> UNITS{{{"ghz", 9}, {"mhz", 6}, {"khz", 3}, {"hz", 0}}};

bool equal_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != b[i]) return false;
  }
  return true;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// value * 10 + digit, or false on overflow.
bool push_digit(std::uint64_t& value, char digit) {
  constexpr std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
  const auto d = static_cast<std::uint64_t>(digit - '0');
  if (value > (max - d) / 10) return false;
  value = value * 10 + d;
  return true;
}

}  // namespace

tl::expected<std::uint64_t, std::string> parse_clock_hz(std::string_view text) {
  const auto refuse = [&](std::string_view why) {
    return tl::unexpected(fmt::format("invalid clock rate \"{}\": {}", text, why));
  };
  std::size_t pos = 0;
  std::string_view whole;
  std::string_view fraction;
  while (pos < text.size() && is_digit(text[pos])) ++pos;
  whole = text.substr(0, pos);
  if (pos < text.size() && text[pos] == '.') {
    const std::size_t start = ++pos;
    while (pos < text.size() && is_digit(text[pos])) ++pos;
    fraction = text.substr(start, pos - start);
  }
  if (whole.empty() && fraction.empty()) {
    return refuse("expected a number of hertz such as 1500000000, 1.5GHz or 850MHz");
  }
  std::string_view unit_text = text.substr(pos);
  if (!unit_text.empty() && unit_text.front() == ' ') unit_text.remove_prefix(1);
  unsigned exponent = 0;
  if (!unit_text.empty()) {
    bool known = false;
    for (const Unit& unit : UNITS) {
      if (equal_ignoring_case(unit_text, unit.name)) {
        exponent = unit.exponent;
        known = true;
      }
    }
    if (!known) return refuse("the unit must be Hz, kHz, MHz or GHz");
  }
  // Trailing zeros of the fraction carry no value; what remains must fit the unit's exponent
  // so that the rate is a whole number of hertz.
  while (!fraction.empty() && fraction.back() == '0') fraction.remove_suffix(1);
  if (fraction.size() > exponent) return refuse("not a whole number of hertz");

  std::uint64_t hz = 0;
  bool fits = true;
  for (char c : whole) fits = fits && push_digit(hz, c);
  for (char c : fraction) fits = fits && push_digit(hz, c);
  for (std::size_t i = fraction.size(); i < exponent; ++i) fits = fits && push_digit(hz, '0');
  if (!fits) return refuse("too large");
  return hz;
}

std::string format_clock(std::uint64_t hz) {
  if (hz == 0) return "0 Hz (unknown)";
  for (const Unit& unit : UNITS) {
    std::uint64_t scale = 1;
    for (unsigned i = 0; i < unit.exponent; ++i) scale *= 10;
    if (hz >= scale) {
      const std::string_view name = unit.exponent == 9   ? "GHz"
                                    : unit.exponent == 6 ? "MHz"
                                    : unit.exponent == 3 ? "kHz"
                                                         : "Hz";
      if (hz % scale == 0) return fmt::format("{} {}", hz / scale, name);
      return fmt::format("{:g} {}", static_cast<double>(hz) / static_cast<double>(scale), name);
    }
  }
  return fmt::format("{} Hz", hz);
}

double cycles_to_microseconds(std::uint64_t cycles, std::uint64_t hz) {
  if (hz == 0) return 0.0;
  return static_cast<double>(cycles) * 1e6 / static_cast<double>(hz);
}

std::string format_microseconds(double microseconds) {
  if (microseconds == 0.0) return "0 s";
  struct TimeUnit {
    std::string_view name;
    double microseconds;
  };
  constexpr std::array<TimeUnit, 4> units{{{"ns", 1e-3}, {"µs", 1.0}, {"ms", 1e3}, {"s", 1e6}}};
  std::size_t u = 0;
  while (u + 1 < units.size() && microseconds >= units[u + 1].microseconds) ++u;
  double value = microseconds / units[u].microseconds;
  // 999.7 ns prints as 1.00 µs, not as 1000 ns.
  if (value >= 999.5 && u + 1 < units.size()) {
    ++u;
    value = microseconds / units[u].microseconds;
  }
  const int decimals = value < 9.995 ? 2 : value < 99.95 ? 1 : 0;
  return fmt::format("{:.{}f} {}", value, decimals, units[u].name);
}

}  // namespace dovapkg
