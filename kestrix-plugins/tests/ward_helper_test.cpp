#include "kestrix/plugins/ward_helper.h"

#include <string>

#include <gtest/gtest.h>

#include "kestrix/testing/scratch_dir.h"

namespace kestrix::plugins {
namespace {

using testing::ScratchDir;

const std::string FAILURE_PREFIX = "failed to parse ward-helper JSON: ";

WardLimitsMap parsed(std::string_view answer) {
  auto m = parse_ward_limits(answer);
  EXPECT_TRUE(m) << m.error().message;
  return m ? *m : WardLimitsMap{};
}

std::string parse_error(std::string_view answer) {
  auto m = parse_ward_limits(answer);
  EXPECT_FALSE(m) << answer;
  return m ? "" : m.error().message;
}

TEST(WardLimitsAnswer, ObjectMembersAreOptionalAndNullMeansAbsent) {
  const auto m = parsed(R"( {"a": {}, "b": {"cpu": null, "io": 2048, "extra": [1, {}]},
                            "c": {"cpu": 1.5e2, "error": "no such user", "absent": true}} )"
                        "\n");
  ASSERT_EQ(m.size(), 3u);
  const auto& a = m.at("a");
  EXPECT_FALSE(a.cpu || a.io || a.error);
  EXPECT_FALSE(a.absent);
  EXPECT_FALSE(m.at("b").cpu);
  EXPECT_EQ(m.at("b").io, 2048.0);
  EXPECT_EQ(m.at("c").cpu, 150.0);
  EXPECT_EQ(m.at("c").error, "no such user");
  EXPECT_TRUE(m.at("c").absent);
  EXPECT_TRUE(parsed("{}").empty());
}

TEST(WardLimitsAnswer, ArrayFormNeedsThreeValuesAndAllowsFour) {
  const auto m = parsed(R"({"x": [1, null, null], "y": [null, 2, "e", true]})");
  EXPECT_EQ(m.at("x").cpu, 1.0);
  EXPECT_FALSE(m.at("x").absent);
  EXPECT_EQ(m.at("y").error, "e");
  EXPECT_TRUE(m.at("y").absent);
  EXPECT_EQ(parse_error(R"({"x": [1, 2]})"),
            FAILURE_PREFIX + "invalid length 2, expected struct WardLimits with 4 elements at line 1 column 12"
                    ": output={\"x\": [1, 2]}");
  EXPECT_EQ(parse_error(R"({"x": [1, 2, null, false, 5]})").substr(0, FAILURE_PREFIX.size() + 19),
            FAILURE_PREFIX + "trailing characters");
}

TEST(WardLimitsAnswer, LaterDuplicateAccountWinsButDuplicateFieldFails) {
  const auto m = parsed(R"({"u": {"cpu": 1}, "u": {"cpu": 2}})");
  EXPECT_EQ(m.at("u").cpu, 2.0);
  EXPECT_EQ(parse_error(R"({"u": {"cpu": 1, "cpu": 2}})"),
            FAILURE_PREFIX + "duplicate field `cpu` at line 1 column 22: output={\"u\": {\"cpu\": 1, \"cpu\": 2}}");
}

TEST(WardLimitsAnswer, WrongShapesFail) {
  const std::string bad[] = {
      R"({"u": {"absent": null}})", R"({"u": {"absent": "yes"}})", R"({"u": {"cpu": "1"}})",
      R"({"u": 5})",  R"({"u": null})", R"([])", "", R"({} {})", R"({"u": {}},)",
  };
  for (const auto& answer : bad) {
    const std::string message = parse_error(answer);
    EXPECT_EQ(message.substr(0, FAILURE_PREFIX.size()), FAILURE_PREFIX) << answer;
    EXPECT_TRUE(message.ends_with(": output=" + answer)) << message;
  }
  EXPECT_EQ(parse_error(""), FAILURE_PREFIX + "EOF while parsing a value at line 1 column 0: output=");
}

TEST(WardLimitsAnswer, OutputIsQuotedUpTo200Bytes) {
  const std::string answer = "[" + std::string(300, ' ') + "]";
  EXPECT_TRUE(parse_error(answer).ends_with(": output=[" + std::string(199, ' ')));
}

TEST(WardLimitsHelper, EmptyListRunsNothing) {
  auto m = ward_limits({}, "/nonexistent/helper");
  ASSERT_TRUE(m) << m.error().message;
  EXPECT_TRUE(m->empty());
}

TEST(WardLimitsHelper, AsksForTheNamesInOrder) {
  ScratchDir dir;
  // Echoes its arguments back as the accounts' error texts.
  const auto prog = dir.script("ward", R"([ "$1" = limits ] || exit 9
shift; printf '{"first": {"error": "%s"}, "second": {"error": "%s"}, "count": {"error": "%s"}}' "$1" "$2" "$#")");
  auto m = ward_limits({"bob smith", "-x"}, prog);
  ASSERT_TRUE(m) << m.error().message;
  EXPECT_EQ(m->at("first").error, "bob smith");
  EXPECT_EQ(m->at("second").error, "-x");
  EXPECT_EQ(m->at("count").error, "2");
}

TEST(WardLimitsHelper, HelperFailureIsPassedOn) {
  ScratchDir dir;
  const auto prog = dir.script("ward", "echo broken >&2; exit 1");
  EXPECT_EQ(ward_limits({"a"}, prog).error().message, prog + " exited with exit status: 1: broken");
}

}  // namespace
}  // namespace kestrix::plugins
