#include "kestrix/json/skim.h"

#include <cstdint>
#include <string>

#include <gtest/gtest.h>

namespace kestrix::json {
namespace {

// A skim may only take what Reader would read with the same value; where it
// gives up, Reader decides.
TEST(Skim, NumbersAreTakenOnlyWhereReaderAgreesWithoutJudging) {
  const auto f64 = [](std::string_view text) -> std::optional<double> {
    Skim s(text, 0);
    double out = -1;
    if (!s.f64(&out) || s.offset() != text.size()) return std::nullopt;
    return out;
  };
  EXPECT_EQ(f64(" 189.08"), 189.08);
  EXPECT_EQ(f64("-0"), -0.0);
  EXPECT_TRUE(std::signbit(*f64("-0")));
  EXPECT_EQ(f64("18446744073709551616"), 18446744073709551616.0);
  EXPECT_EQ(f64("0.30000000000000004"), 0.30000000000000004);
  for (std::string_view given_up : {"1e3", "1E3", "01", "-", "1.", ".5", "+1", "x", "\"1\""})
    EXPECT_EQ(f64(given_up), std::nullopt) << given_up;

  const auto u32 = [](std::string_view text) -> std::optional<std::uint32_t> {
    Skim s(text, 0);
    std::uint32_t out = 0;
    if (!s.u32(out)) return std::nullopt;
    return out;
  };
  EXPECT_EQ(u32("4294967295"), 4294967295u);
  EXPECT_EQ(u32("0"), 0u);
  for (std::string_view given_up : {"4294967296", "-1", "1.0", "1e2", "00", "07"})
    EXPECT_EQ(u32(given_up), std::nullopt) << given_up;

  const auto i64 = [](std::string_view text) -> std::optional<std::int64_t> {
    Skim s(text, 0);
    std::int64_t out = 0;
    if (!s.i64(&out)) return std::nullopt;
    return out;
  };
  EXPECT_EQ(i64("-999999999999999999"), -999999999999999999);
  EXPECT_EQ(i64("0"), 0);
  // Reader takes these; a skim leaves them to it.
  for (std::string_view given_up : {"-0", "9223372036854775807", "-", "- 1"})
    EXPECT_EQ(i64(given_up), std::nullopt) << given_up;
}

TEST(Skim, PiecesMatchAsWrittenOrSpacedAndStringsWithoutEscapes) {
  const std::string text = R"( { "a" : "x\u00e9y" , "b":"plain", "c" : null } )";
  Skim s(text, 0);
  std::string_view value;
  EXPECT_FALSE(s.piece("{\"b\":"));  // not next: nothing is taken
  EXPECT_EQ(s.offset(), 0u);
  ASSERT_TRUE(s.piece("{\"a\":"));
  EXPECT_FALSE(s.string(value));  // an escape is Reader's to decode

  Skim t(text, text.find(", \"b\""));
  ASSERT_TRUE(t.piece(",\"b\":"));
  ASSERT_TRUE(t.string(value));
  EXPECT_EQ(value, "plain");
  EXPECT_FALSE(t.piece(",\"c \":"));  // white space inside a name is part of it
  ASSERT_TRUE(t.piece(",\"c\":"));
  EXPECT_TRUE(t.null());
  EXPECT_FALSE(t.piece(",\"d\":"));
  EXPECT_TRUE(t.piece("}"));
  EXPECT_EQ(t.offset(), text.size() - 1);

  // Strings beyond ASCII are taken only where the caller allows them.
  const std::string accented = "\"caf\xC3\xA9\"";
  Skim any(accented, 0);
  EXPECT_TRUE(any.string(value) && value == "caf\xC3\xA9");
  Skim ascii(accented, 0, detail::Run::Ascii);
  EXPECT_FALSE(ascii.string(value));

  for (std::string_view scalar : {"\"s\"", "true", "false", "null", "-1.5"}) {
    Skim u(scalar, 0);
    EXPECT_TRUE(u.scalar() && u.offset() == scalar.size()) << scalar;
  }
  for (std::string_view container : {"[1]", "{}", "nul", "tru"}) {
    Skim u(container, 0);
    EXPECT_FALSE(u.scalar()) << container;
  }
}

}  // namespace
}  // namespace kestrix::json
