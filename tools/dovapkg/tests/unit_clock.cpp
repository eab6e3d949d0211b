#include <gtest/gtest.h>

#include "clock.hpp"

namespace dovapkg {
namespace {

struct ClockCase {
  const char* text;
  std::uint64_t hz;
};

// Test names and failure messages show the case, not its bytes.
void PrintTo(const ClockCase& value, std::ostream* out) { *out << value.text; }

class ClockAccepts : public ::testing::TestWithParam<ClockCase> {};

TEST_P(ClockAccepts, GivesWholeHertz) {
  const auto parsed = parse_clock_hz(GetParam().text);
  ASSERT_TRUE(parsed) << parsed.error();
  EXPECT_EQ(*parsed, GetParam().hz);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, ClockAccepts,
    ::testing::Values(ClockCase{"1500000000", 1'500'000'000}, ClockCase{"1.5GHz", 1'500'000'000},
                      ClockCase{"1.5 GHz", 1'500'000'000}, ClockCase{"1.5ghz", 1'500'000'000},
                      ClockCase{"850MHz", 850'000'000}, ClockCase{"850.000MHz", 850'000'000},
                      ClockCase{"0.000001MHz", 1}, ClockCase{"32kHz", 32'000},
                      ClockCase{"100Hz", 100}, ClockCase{".5kHz", 500}, ClockCase{"0", 0},
                      ClockCase{"0GHz", 0}, ClockCase{"7.", 7},
                      ClockCase{"18446744073709551615", 18'446'744'073'709'551'615u},
                      ClockCase{"18446744073.709551615GHz", 18'446'744'073'709'551'615u}));

class ClockRefuses : public ::testing::TestWithParam<const char*> {};

TEST_P(ClockRefuses, WithAMessageNamingTheText) {
  const auto parsed = parse_clock_hz(GetParam());
  ASSERT_FALSE(parsed) << *parsed;
  EXPECT_NE(parsed.error().find(std::string("\"") + GetParam() + "\""), std::string::npos)
      << parsed.error();
}

INSTANTIATE_TEST_SUITE_P(Forms, ClockRefuses,
                         ::testing::Values("", "GHz", ".", "-1", "+5", "1e9", "1.5", "1.5.5GHz",
                                           "1.5 THz", "1.5  GHz", "1.5GHz ", "1.2345678901GHz",
                                           "0.5Hz", "18446744073709551616",
                                           "18446744073.709551616GHz", "99999999999GHz"));

TEST(ClockFormat, PicksTheLargestUnitThatFits) {
  EXPECT_EQ(format_clock(1'500'000'000), "1.5 GHz");
  EXPECT_EQ(format_clock(850'000'000), "850 MHz");
  EXPECT_EQ(format_clock(32'000), "32 kHz");
  EXPECT_EQ(format_clock(999), "999 Hz");
  EXPECT_EQ(format_clock(0), "0 Hz (unknown)");
}

TEST(Durations, ReadableWithThreeFigures) {
  EXPECT_EQ(format_microseconds(0.8123), "812 ns");
  EXPECT_EQ(format_microseconds(0.9997), "1.00 µs");  // not "1000 ns"
  EXPECT_EQ(format_microseconds(12.44), "12.4 µs");
  EXPECT_EQ(format_microseconds(3051.0), "3.05 ms");
  EXPECT_EQ(format_microseconds(2.5e6), "2.50 s");
  EXPECT_EQ(format_microseconds(0), "0 s");
  EXPECT_DOUBLE_EQ(cycles_to_microseconds(3000, 1'500'000'000), 2.0);
  EXPECT_EQ(cycles_to_microseconds(3000, 0), 0.0);
}

}  // namespace
}  // namespace dovapkg
