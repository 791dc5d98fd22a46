#include "kestrix/json/reader.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>

#include "kestrix/json/record.h"

namespace kestrix::json {
namespace {

struct Pair {
  std::int64_t time = 0;
  std::string reason;
  bool flag = false;
};

bool read(Reader& r, Pair& v) {
  static constexpr RecordType<Pair, 3> type{"Pair",
                                            {{field<&Pair::time>("time", Need::Required),
                                              field<&Pair::reason>("reason", Need::Required),
                                              field<&Pair::flag>("flag", Need::Defaulted)}}};
  return read_record(r, type, v);
}

std::string error_of(std::string_view text) {
  auto r = decode<std::vector<Pair>>(text);
  return r ? "ok" : r.error();
}

// Messages and positions are those of a typed serde-style decoder.
TEST(Reader, ReportsFaultsWithTheirPositions) {
  const std::pair<const char*, const char*> cases[] = {
      {"", "EOF while parsing a value at line 1 column 0"},
      {"  \n ", "EOF while parsing a value at line 2 column 1"},
      {"[] x", "trailing characters at line 1 column 4"},
      {"[{}]", "missing field `time` at line 1 column 3"},
      {"[{\"time\":1}]", "missing field `reason` at line 1 column 11"},
      {"[{\"time\":1,\"time\":2}]", "duplicate field `time` at line 1 column 17"},
      {"[{\"x\":1,\"x\":2}]", "duplicate field `x` at line 1 column 11"},
      {"[[1]]", "invalid length 1, expected struct Pair with 3 elements at line 1 column 4"},
      {"[[1,\"a\",true,4]]", "trailing characters at line 1 column 14"},
      {"[[1,\"a\",]]", "trailing comma at line 1 column 9"},
      {"[{\"time\":\"x\"}]", "invalid type: string \"x\", expected i64 at line 1 column 12"},
      {"[{\"time\":1.0}]", "invalid type: floating point `1.0`, expected i64 at line 1 column 12"},
      {"[{\"time\":9223372036854775808}]",
       "invalid value: integer `9223372036854775808`, expected i64 at line 1 column 28"},
      {"[{\"time\":-9223372036854775808,\"reason\":\"\"}]", "ok"},
      {"[{\"time\":1e2}]", "invalid type: floating point `100.0`, expected i64 at line 1 column 12"},
      {"[{\"time\":01}]", "invalid number at line 1 column 11"},
      {"[{\"time\":-}]", "invalid number at line 1 column 11"},
      {"[{\"time\":1.}]", "invalid number at line 1 column 12"},
      {"[{\"time\":null}]", "invalid type: null, expected i64 at line 1 column 13"},
      {"[{\"time\":tru}]", "expected ident at line 1 column 13"},
      {"[{\"time\":[]}]", "invalid type: sequence, expected i64 at line 1 column 9"},
      {"[{\"reason\":5}]", "invalid type: integer `5`, expected a string at line 1 column 12"},
      {"[{\"flag\":1}]", "invalid type: integer `1`, expected a boolean at line 1 column 10"},
      {"[5]", "invalid type: integer `5`, expected struct Pair at line 1 column 2"},
      {"{}", "invalid type: map, expected a sequence at line 1 column 0"},
      {"[{\"time\":1,}]", "trailing comma at line 1 column 12"},
      {"[{\"time\" 1}]", "expected `:` at line 1 column 10"},
      {"[{\"time\":1 \"reason\":\"\"}]", "expected `,` or `}` at line 1 column 12"},
      {"[{5:1}]", "key must be a string at line 1 column 3"},
      {"[{\"x\":[1,]}]", "expected value at line 1 column 10"},
      {"[{\"x\":{\"a\" 1}}]", "expected `:` at line 1 column 12"},
      {"[{\"reason\":\"a\\qb\"}]", "invalid escape at line 1 column 15"},
      {"[{\"reason\":\"a\tb\"}]",
       "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 14"},
      {"[{\"reason\":\"\\ud800x\"}]", "unexpected end of hex escape at line 1 column 19"},
      {"[{\"reason\":\"\\udc00\"}]", "lone leading surrogate in hex escape at line 1 column 18"},
      {"[{\"reason\":\"abc", "EOF while parsing a string at line 1 column 15"},
      {"[{\"time\":1", "EOF while parsing an object at line 1 column 10"},
      {"[1e400]", "number out of range at line 1 column 6"},
  };
  for (auto [text, message] : cases) EXPECT_EQ(error_of(text), message) << text;
}

TEST(Reader, UnknownMembersAreValidatedAndSkipped) {
  auto r = decode<std::vector<Pair>>(
      R"([{"extra":{"deep":[1,-2.5e3,"\u00e9",null,true,{}]},"time":7,"reason":"r"}])");
  ASSERT_TRUE(r) << r.error();
  EXPECT_EQ((*r)[0].time, 7);
  EXPECT_EQ((*r)[0].reason, "r");
  EXPECT_EQ(error_of(R"([{"extra":1x}])"), "expected `,` or `}` at line 1 column 12");
}

// A value that is built and one that is skipped are walked by the same
// code, but a skipped value leaves what follows an opening bracket or a
// comma to the next member's read, which words those faults its own way.
TEST(Reader, SkippedValuesWordSeparatorFaultsTheirOwnWay) {
  const std::pair<const char*, const char*> built[] = {
      {"[1,]", "trailing comma at line 1 column 4"},
      {"{\"a\":1,}", "trailing comma at line 1 column 8"},
      {"[", "EOF while parsing a list at line 1 column 1"},
      {"[1,", "EOF while parsing a value at line 1 column 3"},
      {"{\"a\":1,", "EOF while parsing a value at line 1 column 7"},
      {"{", "EOF while parsing an object at line 1 column 1"},
      {"[1 2]", "expected `,` or `]` at line 1 column 4"},
      {"{\"a\":1 2}", "expected `,` or `}` at line 1 column 8"},
  };
  for (auto [text, message] : built) {
    auto v = decode<nlohmann::json>(text);
    EXPECT_EQ(v ? "ok" : v.error(), message) << text;
  }
  const std::pair<const char*, const char*> skipped[] = {
      {"[{\"x\":[1,]}]", "expected value at line 1 column 10"},
      {"[{\"x\":{\"a\":1,}}]", "key must be a string at line 1 column 14"},
      {"[{\"x\":[", "EOF while parsing a value at line 1 column 7"},
      {"[{\"x\":[1,", "EOF while parsing a value at line 1 column 9"},
      {"[{\"x\":{\"a\":1,", "EOF while parsing an object at line 1 column 13"},
      {"[{\"x\":{", "EOF while parsing an object at line 1 column 7"},
      {"[{\"x\":[1 2]}]", "expected `,` or `]` at line 1 column 10"},
      {"[{\"x\":{\"a\":1 2}}]", "expected `,` or `}` at line 1 column 14"},
  };
  for (auto [text, message] : skipped) EXPECT_EQ(error_of(text), message) << text;
}

TEST(Reader, ArrayFormLeavesTrailingDefaults) {
  auto r = decode<std::vector<Pair>>(R"([[5,"why"],[6,"x",true]])");
  ASSERT_TRUE(r) << r.error();
  EXPECT_FALSE((*r)[0].flag);
  EXPECT_TRUE((*r)[1].flag);
}

TEST(Reader, NestingIsCappedWithoutRecursingForever) {
  std::string deep(127, '[');
  deep += std::string(127, ']');
  EXPECT_TRUE(decode<nlohmann::json>(deep));
  std::string too_deep(128, '[');
  EXPECT_EQ(decode<nlohmann::json>(too_deep).error(),
            "recursion limit exceeded at line 1 column 128");
  std::string huge(1000000, '[');
  EXPECT_FALSE(decode<nlohmann::json>(huge));
  // Skipped values count too.
  EXPECT_FALSE(decode<std::vector<Pair>>("[{\"x\":" + huge));
}

TEST(Reader, ValuesKeepTheirNumberKinds) {
  auto v = decode<nlohmann::json>(R"([1, -1, 1.0, -0, 18446744073709551615, 18446744073709551616])");
  ASSERT_TRUE(v);
  EXPECT_TRUE((*v)[0].is_number_unsigned());
  EXPECT_TRUE((*v)[1].is_number_integer() && !(*v)[1].is_number_unsigned());
  EXPECT_TRUE((*v)[2].is_number_float());
  EXPECT_TRUE((*v)[3].is_number_float());
  EXPECT_TRUE(std::signbit((*v)[3].get<double>()));
  EXPECT_TRUE((*v)[4].is_number_unsigned());
  EXPECT_TRUE((*v)[5].is_number_float());

  auto edges = decode<nlohmann::json>(
      "[9999999999999999999, -9223372036854775808, -9223372036854775809, -9999999999999999999,"
      " 10000000000000000000]");
  ASSERT_TRUE(edges);
  EXPECT_EQ((*edges)[0].get<std::uint64_t>(), 9999999999999999999u);
  EXPECT_EQ((*edges)[1].get<std::int64_t>(), INT64_MIN);
  EXPECT_TRUE((*edges)[2].is_number_float());
  EXPECT_TRUE((*edges)[3].is_number_float());
  EXPECT_EQ((*edges)[4].get<std::uint64_t>(), 10000000000000000000u);
}

TEST(Reader, EscapesDecode) {
  auto v = decode<std::string>(R"("a\"\\\/\b\f\n\r\t\u00e9\ud83d\ude00")");
  ASSERT_TRUE(v) << v.error();
  EXPECT_EQ(*v, "a\"\\/\b\f\n\r\t\xC3\xA9\xF0\x9F\x98\x80");
}

TEST(Reader, LaterDuplicateKeyWinsInsideValues) {
  auto v = decode<nlohmann::json>(R"({"a":1,"a":2})");
  ASSERT_TRUE(v);
  EXPECT_EQ((*v)["a"], 2);
}

}  // namespace
}  // namespace kestrix::json

namespace kestrix::json {
namespace {

// Whatever path a number takes inside the reader, it must land on the
// correctly rounded double.
TEST(Reader, NumbersReadBackExactly) {
  std::mt19937_64 rng(7);
  std::vector<std::string> texts = {"0.1", "0.3", "123.456", "-2.5", "9007199254740993.5",
                                    "0.0000000000000000000001", "1.00000000000000011102230246251565",
                                    "18446744073709551616.5", "12345678901234567890123.0"};
  for (int i = 0; i < 20000; ++i) {
    std::uint64_t bits = rng();
    double d;
    std::memcpy(&d, &bits, sizeof d);
    if (!std::isfinite(d)) continue;
    char buf[64];
    texts.emplace_back(buf, std::to_chars(buf, buf + sizeof buf, d).ptr);
    std::snprintf(buf, sizeof buf, "%.*f", static_cast<int>(rng() % 8), std::fmod(d, 1e6));
    texts.emplace_back(buf);
  }
  for (const auto& text : texts) {
    double want = 0;
    std::from_chars(text.data(), text.data() + text.size(), want);
    auto got = decode<double>(text);
    ASSERT_TRUE(got) << text << ": " << got.error();
    ASSERT_EQ(std::memcmp(&*got, &want, sizeof want), 0) << text;
  }
}

}  // namespace
}  // namespace kestrix::json

namespace kestrix::json {
namespace {

// An object of `n` distinct unknown members, then `tail` (a last member).
std::string many_unknown_members(std::size_t n, std::string_view tail) {
  std::string text = "{";
  for (std::size_t i = 0; i < n; ++i) text += "\"k" + std::to_string(i * 7919 % n) + "\":0,";
  text += tail;
  text += "}";
  return text;
}

std::size_t comparisons_for(std::size_t n) {
  const std::string text = many_unknown_members(n, "\"time\":1,\"reason\":\"r\"");
  Reader r(text);
  Pair p;
  EXPECT_TRUE(read(r, p) && r.finish()) << r.message();
  return r.key_comparisons();
}

// A hostile answer can hold tens of thousands of unknown members: checking
// each against every earlier one made decoding quadratic. Ten times the
// members must cost about ten times the comparisons (a logarithmic factor
// allowed), not a hundred times.
TEST(Reader, UnknownMemberChecksGrowAlmostLinearly) {
  const std::size_t small = comparisons_for(2000);
  const std::size_t large = comparisons_for(20000);
  EXPECT_GT(small, 0u);
  EXPECT_LT(large, small * 20) << small << " comparisons for 2000, " << large << " for 20000";
}

// The check still finds a repeat far from the first occurrence, and reports
// it right after the repeated name, as before.
TEST(Reader, ARepeatedUnknownMemberIsFoundAmongMany) {
  const std::string text = "[" + many_unknown_members(5000, "\"k1234\":[]") + "]";
  auto r = decode<std::vector<Pair>>(text);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error(), "duplicate field `k1234` at line 1 column " +
                           std::to_string(text.size() - 5));
}

}  // namespace
}  // namespace kestrix::json
