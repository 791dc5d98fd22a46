#include "kestrix/text.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "kestrix/testing/encode_utf8.h"

namespace kestrix::text {
namespace {

std::string utf8(char32_t c) { return testing::encode_utf8(c); }

TEST(CoreTextTest, TrimRemovesExactlyUnicodeWhiteSpace) {
  const char32_t white[] = {0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x20, 0x85, 0xA0, 0x1680,
                            0x2000, 0x2001, 0x2002, 0x2003, 0x2004, 0x2005, 0x2006, 0x2007,
                            0x2008, 0x2009, 0x200A, 0x2028, 0x2029, 0x202F, 0x205F, 0x3000};
  for (char32_t c : white) {
    const std::string s = utf8(c) + "x" + utf8(c) + "y" + utf8(c) + utf8(c);
    EXPECT_EQ(trim(s), "x" + utf8(c) + "y") << std::hex << static_cast<unsigned>(c);
  }
  // Look-alikes that are not white space stay.
  for (char32_t c : {char32_t{0x1C}, char32_t{0x180E}, char32_t{0x200B}, char32_t{0x2060},
                     char32_t{0xFEFF}}) {
    const std::string s = utf8(c) + "x" + utf8(c);
    EXPECT_EQ(trim(s), s) << std::hex << static_cast<unsigned>(c);
  }
  EXPECT_EQ(trim(" \t\xC2\xA0 "), "");
}

TEST(CoreTextTest, LinesAndFields) {
  EXPECT_EQ(lines("a\r\nb\n\nc\r"), (std::vector<std::string_view>{"a", "b", "", "c\r"}));
  EXPECT_EQ(lines("a\n"), (std::vector<std::string_view>{"a"}));
  EXPECT_TRUE(lines("").empty());
  EXPECT_EQ(fields(" a \t b\xE3\x80\x80" "c "), (std::vector<std::string_view>{"a", "b", "c"}));
}

// Only a well-formed sequence is a character: malformed look-alikes of
// white space or of case-mapped letters are kept as they are.
TEST(CoreTextTest, MalformedBytesAreNeverCharacters) {
  EXPECT_EQ(trim("\xE0\x82\xA0x\xC1\xA0"), "\xE0\x82\xA0x\xC1\xA0");  // overlong U+00A0
  EXPECT_EQ(trim("\xC2\xA0x\xC2"), "x\xC2");  // unfinished at the end
  EXPECT_EQ(fields("a\xFF b\xE3\x80"), (std::vector<std::string_view>{"a\xFF", "b\xE3\x80"}));
  EXPECT_EQ(ascii_upper("stra\xC3\x9F" "e"), "STRASSE");
  EXPECT_EQ(ascii_lower("\xE2\x84\xAA" "B"), "kb");  // KELVIN SIGN
  EXPECT_EQ(ascii_upper("\xC3"), std::nullopt);
  EXPECT_EQ(ascii_upper("\xF0\x8F\xBF\xBF"), std::nullopt);
}

// Signs, zeros and both ends of the range, as the data files and the
// command line write them; anything else is refused with its reason.
TEST(CoreTextTest, DecimalSyntaxOfSignedIntegers) {
  using Parsed = std::expected<std::int64_t, DecimalFault>;
  const std::pair<std::string_view, Parsed> cases[] = {
      {"0", 0},
      {"-0", 0},
      {"+0", 0},
      {"007", 7},
      {"-007", -7},
      {"+42", 42},
      {"9223372036854775807", INT64_MAX},
      {"-9223372036854775808", INT64_MIN},
      {"00000000000000000000009223372036854775807", INT64_MAX},
      {"9223372036854775808", std::unexpected(DecimalFault::TooLarge)},
      {"-9223372036854775809", std::unexpected(DecimalFault::TooSmall)},
      {"99999999999999999999999", std::unexpected(DecimalFault::TooLarge)},
      {"", std::unexpected(DecimalFault::Empty)},
      {"+", std::unexpected(DecimalFault::InvalidDigit)},
      {"-", std::unexpected(DecimalFault::InvalidDigit)},
      {"+-1", std::unexpected(DecimalFault::InvalidDigit)},
      {"--1", std::unexpected(DecimalFault::InvalidDigit)},
      {" 1", std::unexpected(DecimalFault::InvalidDigit)},
      {"1 ", std::unexpected(DecimalFault::InvalidDigit)},
      {"1\n", std::unexpected(DecimalFault::InvalidDigit)},
      {"1.0", std::unexpected(DecimalFault::InvalidDigit)},
      {"1e3", std::unexpected(DecimalFault::InvalidDigit)},
      {"0x10", std::unexpected(DecimalFault::InvalidDigit)},
      {"\xD9\xA1", std::unexpected(DecimalFault::InvalidDigit)},  // ARABIC-INDIC DIGIT ONE
  };
  for (const auto& [in, expected] : cases) EXPECT_EQ(parse_decimal<std::int64_t>(in), expected) << in;
  EXPECT_EQ(parse_decimal<std::uint32_t>("-0"), std::unexpected(DecimalFault::InvalidDigit));
  EXPECT_EQ(parse_decimal<std::uint32_t>("4294967296"), std::unexpected(DecimalFault::TooLarge));
}

}  // namespace
}  // namespace kestrix::text
