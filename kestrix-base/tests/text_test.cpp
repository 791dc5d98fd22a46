#include "kestrix/text.h"
#include "kestrix/io.h"

#include <gtest/gtest.h>

namespace kestrix::text {
namespace {

std::string utf8(char32_t c) {
  std::string out;
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
  return out;
}

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

TEST(CoreTextTest, Utf8Validation) {
  const std::pair<std::string, bool> cases[] = {
      {"", true},
      {"plain", true},
      {"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", true},
      {"\xF4\x8F\xBF\xBF", true},   // U+10FFFF
      {"\xC3", false},              // truncated
      {"\xE2\x82", false},
      {"\xC0\xAF", false},          // overlong "/"
      {"\xE0\x80\xAF", false},
      {"\xED\xA0\x80", false},      // surrogate
      {"\xF4\x90\x80\x80", false},  // beyond U+10FFFF
      {"\x80", false},
      {"a\xFF" "b", false},
  };
  for (const auto& [s, valid] : cases) EXPECT_EQ(is_utf8(s), valid) << s;
}

TEST(CoreTextTest, LinesAndFields) {
  EXPECT_EQ(lines("a\r\nb\n\nc\r"), (std::vector<std::string_view>{"a", "b", "", "c\r"}));
  EXPECT_EQ(lines("a\n"), (std::vector<std::string_view>{"a"}));
  EXPECT_TRUE(lines("").empty());
  EXPECT_EQ(fields(" a \t b\xE3\x80\x80" "c "), (std::vector<std::string_view>{"a", "b", "c"}));
}

TEST(Utf8Lossy, EachBadSequenceBecomesOneReplacement) {
  const std::string r = "\xEF\xBF\xBD";
  EXPECT_EQ(decode_lossy("plain"), "plain");
  EXPECT_EQ(decode_lossy("a\xFF" "b"), "a" + r + "b");
  EXPECT_EQ(decode_lossy("\xE2\x82z"), r + "z");          // two bytes, one replacement
  EXPECT_EQ(decode_lossy("\xFF\xFE"), r + r);             // two lone bytes, two
  EXPECT_EQ(decode_lossy("end\xF0\x9F\x98"), "end" + r);  // unfinished at the end
  EXPECT_EQ(decode_lossy("\xC3\xA9"), "\xC3\xA9");
}

}  // namespace
}  // namespace kestrix::text
