#include "kestrix/utf8.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kestrix/testing/encode_utf8.h"
#include "kestrix/text.h"

namespace kestrix::utf8 {
namespace {

std::string encode(char32_t c) { return testing::encode_utf8(c); }

std::string described(std::string_view bytes) {
  const auto fault = first_fault(bytes);
  return fault ? fault_text(*fault) : "";
}

TEST(Utf8Fault, FirstFaultIsNamedWithItsLengthAndIndex) {
  const std::pair<std::string, std::string> cases[] = {
      {"", ""},
      {"plain ascii, longer than eight bytes", ""},
      {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", ""},
      {"\xF4\x8F\xBF\xBF", ""},  // U+10FFFF
      {"abcdefg\xFF", "invalid utf-8 sequence of 1 bytes from index 7"},
      {"a\x80", "invalid utf-8 sequence of 1 bytes from index 1"},
      {"\xC0\xAF", "invalid utf-8 sequence of 1 bytes from index 0"},      // overlong lead
      {"\xE0\x80\xAF", "invalid utf-8 sequence of 1 bytes from index 0"},  // overlong
      {"\xED\xA0\x80", "invalid utf-8 sequence of 1 bytes from index 0"},  // surrogate
      {"\xF0\x8F\xBF\xBF", "invalid utf-8 sequence of 1 bytes from index 0"},  // overlong
      {"\xF4\x90\x80\x80", "invalid utf-8 sequence of 1 bytes from index 0"},  // > U+10FFFF
      {"\xF5\x80\x80\x80", "invalid utf-8 sequence of 1 bytes from index 0"},
      {"xx\xE2\x82z", "invalid utf-8 sequence of 2 bytes from index 2"},
      {"\xF0\x9F\x98z", "invalid utf-8 sequence of 3 bytes from index 0"},
      {"\xE0\xA0", "incomplete utf-8 byte sequence from index 0"},
      {"\xE0\x80", "invalid utf-8 sequence of 1 bytes from index 0"},  // no ending can fix it
      {"ok\xC3", "incomplete utf-8 byte sequence from index 2"},
      {"abcdefgh\xF0\x9F\x98", "incomplete utf-8 byte sequence from index 8"},
      {"\xC3z\xC3", "invalid utf-8 sequence of 1 bytes from index 0"},  // the first fault wins
  };
  for (const auto& [bytes, expected] : cases) {
    EXPECT_EQ(described(bytes), expected) << bytes;
    EXPECT_EQ(is_utf8(bytes), expected.empty()) << bytes;
  }
}

// The eight-byte steps over ASCII must neither skip a fault nor misplace
// it, wherever it falls against them.
TEST(Utf8Fault, IsFoundAtEveryOffsetPastAsciiRuns) {
  for (std::size_t before = 0; before < 70; ++before) {
    for (const std::string bad : {"\xFF", "\x80", "\xC3z"}) {
      const std::string text = std::string(before, 'a') + bad + std::string(11, 'b');
      EXPECT_EQ(described(text),
                "invalid utf-8 sequence of 1 bytes from index " + std::to_string(before));
    }
    const std::string cut = std::string(before, 'a') + "\xE2\x82";
    EXPECT_EQ(described(cut), "incomplete utf-8 byte sequence from index " + std::to_string(before));
  }
}

// Every length of ASCII, whole blocks of the fast paths and the bytes left
// over: the scan must stop at the end, which the sanitizer build checks.
TEST(Utf8Fault, AsciiOfEveryLengthIsValid) {
  for (std::size_t length = 0; length < 100; ++length) {
    // Exactly as large as the text, without a string's terminator behind it.
    const std::vector<char> ascii(length, 'a');
    EXPECT_TRUE(is_utf8(std::string_view(ascii.data(), ascii.size()))) << length;
    EXPECT_TRUE(is_utf8(std::string(ascii.begin(), ascii.end()) + "\u00e9")) << length;
  }
}

TEST(Utf8Fault, EveryScalarValueAndNothingElseIsValid) {
  for (char32_t c = 0; c <= 0x10FFFF; ++c) {
    const bool scalar = c < 0xD800 || c > 0xDFFF;
    ASSERT_EQ(is_utf8(encode(c)), scalar) << std::hex << static_cast<unsigned>(c);
  }
  ASSERT_FALSE(is_utf8(encode(0x110000)));
  // Overlong forms of a few values, one per longer width.
  EXPECT_FALSE(is_utf8("\xC1\xBF"));
  EXPECT_FALSE(is_utf8("\xE0\x9F\xBF"));
  EXPECT_FALSE(is_utf8("\xF0\x8F\xBF\xBF"));
}

TEST(Utf8Lossy, EachBadSequenceBecomesOneReplacement) {
  const std::string r = "\xEF\xBF\xBD";
  EXPECT_EQ(text::decode_lossy(""), "");
  EXPECT_EQ(text::decode_lossy("plain"), "plain");
  EXPECT_EQ(text::decode_lossy("a\xFF" "b"), "a" + r + "b");
  EXPECT_EQ(text::decode_lossy("\xE2\x82z"), r + "z");          // two bytes, one replacement
  EXPECT_EQ(text::decode_lossy("\xFF\xFE"), r + r);             // two lone bytes, two
  EXPECT_EQ(text::decode_lossy("\xED\xA0\x80"), r + r + r);     // a surrogate starts nothing
  EXPECT_EQ(text::decode_lossy("end\xF0\x9F\x98"), "end" + r);  // unfinished at the end
  EXPECT_EQ(text::decode_lossy("\xC3\xA9\xF0\x9F\x98\x80"), "\xC3\xA9\xF0\x9F\x98\x80");
}

// Whatever comes in, what goes out is valid, and valid input is kept.
TEST(Utf8Lossy, AnyTwoBytesDecodeToValidText) {
  for (unsigned a = 0; a < 256; ++a) {
    for (unsigned b = 0; b < 256; ++b) {
      const std::string in{static_cast<char>(a), static_cast<char>(b)};
      const std::string out = text::decode_lossy(in);
      ASSERT_TRUE(is_utf8(out)) << a << " " << b;
      if (is_utf8(in)) {
        ASSERT_EQ(out, in);
      }
    }
  }
}

TEST(Excerpt, KeepsShortTextAndNeverSplitsACharacter) {
  EXPECT_EQ(excerpt("short", 200), "short");
  EXPECT_EQ(excerpt("exactly", 7), "exactly");
  EXPECT_EQ(excerpt("abcdef", 3), "abc");
  // A cut inside a two-, three- or four-byte character backs off before it.
  EXPECT_EQ(excerpt("ab\xC3\xA9", 3), "ab");
  EXPECT_EQ(excerpt("ab\xC3\xA9z", 4), "ab\xC3\xA9");
  EXPECT_EQ(excerpt("a\xE2\x82\xAC", 3), "a");
  EXPECT_EQ(excerpt("a\xE2\x82\xAC", 2), "a");
  EXPECT_EQ(excerpt("a\xF0\x9F\x98\x80z", 4), "a");
  EXPECT_EQ(excerpt("a\xF0\x9F\x98\x80z", 2), "a");
  EXPECT_EQ(excerpt("a\xF0\x9F\x98\x80z", 5), "a\xF0\x9F\x98\x80");
  EXPECT_EQ(excerpt("\xC3\xA9", 1), "");
  EXPECT_EQ(excerpt("\xC3\xA9", 0), "");
}

}  // namespace
}  // namespace kestrix::utf8
