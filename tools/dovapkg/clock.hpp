#pragma once

// Clock rates and times: parsing "1500000000", "1.5GHz" or "850MHz", and printing rates and
// durations for people.

#include <cstdint>
#include <string>
#include <string_view>
#include <tl/expected.hpp>

namespace dovapkg {

// A whole number of hertz, optionally with a decimal fraction and a unit Hz, kHz, MHz or GHz
// (case-insensitive, a space before the unit allowed). The value must come to a whole number of
// hertz that fits in 64 bits. On failure, a message for the user.
tl::expected<std::uint64_t, std::string> parse_clock_hz(std::string_view text);

// "1.5 GHz", "850 MHz", "0 Hz (unknown)".
std::string format_clock(std::uint64_t hz);

// Microseconds taken by a cycle count at a clock rate; 0 when the rate is 0.
double cycles_to_microseconds(std::uint64_t cycles, std::uint64_t hz);

// A duration in a readable unit with three significant decimals: "812 ns", "12.4 µs", "3.05 ms".
std::string format_microseconds(double microseconds);

}  // namespace dovapkg
