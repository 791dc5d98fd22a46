#include "kestrix/json/numbers.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

namespace kestrix::json {
namespace {

std::string report_form(double d) {
  std::string s;
  append_f64(s, d);
  return s;
}

TEST(ReportFloats, LayoutFollowsMagnitude) {
  const std::pair<double, const char*> cases[] = {
      {0.0, "0.0"},          {-0.0, "-0.0"},
      {12.0, "12.0"},        {12.5, "12.5"},
      {1e16, "1e16"},        {1e15, "1000000000000000.0"},
      {9007199254740993.0, "9007199254740992.0"},
      {1.5e-7, "1.5e-7"},    {1e-5, "0.00001"},
      {1e-6, "1e-6"},        {0.1, "0.1"},
      {-2.5e20, "-2.5e20"},  {1.7976931348623157e308, "1.7976931348623157e308"},
      {5e-324, "5e-324"},    {123456.789, "123456.789"},
  };
  for (auto [value, text] : cases) EXPECT_EQ(report_form(value), text) << value;
}

// The exponent of one number must never leak into the next.
TEST(ReportFloats, ConsecutiveNumbersAreIndependent) {
  std::string s;
  for (double d : {1.5e-7, 3.0, 1e16, 1.0, 2.5e-300, 7.0}) {
    append_f64(s, d);
    s += ' ';
  }
  EXPECT_EQ(s, "1.5e-7 3.0 1e16 1.0 2.5e-300 7.0 ");
}

TEST(ReportFloats, ReadsBackToTheSameValue) {
  std::mt19937_64 rng(42);
  for (int i = 0; i < 200000; ++i) {
    std::uint64_t bits = rng();
    double d;
    std::memcpy(&d, &bits, sizeof d);
    if (!std::isfinite(d)) continue;
    std::string s = report_form(d);
    double back = 0;
    auto res = std::from_chars(s.data(), s.data() + s.size(), back);
    ASSERT_EQ(res.ec, std::errc()) << s;
    ASSERT_EQ(std::memcmp(&back, &d, sizeof d), 0) << s;
  }
}

TEST(DisplayFloats, NeverUseAnExponent) {
  EXPECT_EQ(format_f64_display(1.5), "1.5");
  EXPECT_EQ(format_f64_display(1e16), "10000000000000000.0");
  EXPECT_EQ(format_f64_display(1.5e-7), "0.00000015");
  EXPECT_EQ(format_f64_display(-0.0), "-0.0");
  EXPECT_EQ(format_f64_display(std::numeric_limits<double>::infinity()), "inf");
}

}  // namespace
}  // namespace kestrix::json
