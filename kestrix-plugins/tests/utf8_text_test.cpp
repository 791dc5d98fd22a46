#include "utf8_text.h"

#include <string>

#include <gtest/gtest.h>

#include "kestrix/plugins/helper_runner.h"

namespace kestrix::plugins {
namespace {

struct FaultCase {
  std::string bytes;
  std::string expected;  // empty: valid
};

TEST(Utf8Fault, FirstFaultIsNamedWithItsLengthAndIndex) {
  const FaultCase cases[] = {
      {"plain ascii", ""},
      {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", ""},
      {"\xF4\x8F\xBF\xBF", ""},  // U+10FFFF
      {"abcdefg\xFF", "invalid utf-8 sequence of 1 bytes from index 7"},
      {"a\x80", "invalid utf-8 sequence of 1 bytes from index 1"},
      {"\xC0\xAF", "invalid utf-8 sequence of 1 bytes from index 0"},      // overlong lead
      {"\xE0\x80\x80", "invalid utf-8 sequence of 1 bytes from index 0"},  // overlong
      {"\xED\xA0\x80", "invalid utf-8 sequence of 1 bytes from index 0"},  // surrogate
      {"\xF4\x90\x80\x80", "invalid utf-8 sequence of 1 bytes from index 0"},  // > U+10FFFF
      {"\xF5\x80\x80\x80", "invalid utf-8 sequence of 1 bytes from index 0"},
      {"xx\xE2\x82z", "invalid utf-8 sequence of 2 bytes from index 2"},
      {"\xF0\x9F\x98z", "invalid utf-8 sequence of 3 bytes from index 0"},
      {"ok\xC3", "incomplete utf-8 byte sequence from index 2"},
      {"ok\xF0\x9F\x98", "incomplete utf-8 byte sequence from index 2"},
      {"\xC3z\xC3", "invalid utf-8 sequence of 1 bytes from index 0"},  // the first fault wins
  };
  for (const auto& c : cases) {
    const auto fault = find_utf8_fault(c.bytes);
    EXPECT_EQ(fault ? utf8_fault_text(*fault) : "", c.expected) << c.bytes;
  }
}

TEST(Excerpt, KeepsShortTextAndNeverSplitsACharacter) {
  EXPECT_EQ(excerpt("short", 200), "short");
  EXPECT_EQ(excerpt("exactly", 7), "exactly");
  EXPECT_EQ(excerpt("abcdef", 3), "abc");
  // A cut inside a two-, three- or four-byte character backs off before it.
  EXPECT_EQ(excerpt("ab\xC3\xA9", 3), "ab");
  EXPECT_EQ(excerpt("a\xE2\x82\xAC", 3), "a");
  EXPECT_EQ(excerpt("a\xE2\x82\xAC", 2), "a");
  EXPECT_EQ(excerpt("a\xF0\x9F\x98\x80z", 4), "a");
  EXPECT_EQ(excerpt("a\xF0\x9F\x98\x80z", 5), "a\xF0\x9F\x98\x80");
  EXPECT_EQ(excerpt("\xC3\xA9", 0), "");
}

}  // namespace
}  // namespace kestrix::plugins
