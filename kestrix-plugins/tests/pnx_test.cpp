#include "kestrix/plugins/pnx.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

#include "kestrix/testing/byte_changes.h"
#include "kestrix/testing/scratch_dir.h"

namespace kestrix::plugins {
namespace {

using testing::ScratchDir;

const std::string FAILURE_PREFIX = "failed to parse user-info-sys JSON: ";

const std::string ALICE =
    R"({"uid": 1000, "username": "alice", "email": "a@x", "domain": "a.example",
        "locale": "en", "reseller": "res", "display_name": "Alice \u00c9 \ud83d\ude00", "package": "gold"})";

// Both decoders of the answer must refuse it alike.
std::string lookup_error(const std::string& answer) {
  auto r = parse_user_lookup(answer);
  EXPECT_FALSE(r) << answer;
  auto lean = parse_panel_accounts(answer);
  EXPECT_FALSE(lean) << answer;
  if (r && lean) return "";
  EXPECT_EQ(r ? "" : r.error().message, lean ? "" : lean.error().message);
  return r ? "" : r.error().message;
}

TEST(UserLookupAnswer, ObjectAndArrayFormsGiveTheSameRecords) {
  const std::string forms[] = {
      R"({"users": [)" + ALICE + R"(], "unresolved": [{"uid": -5, "reason": "gone"}]})",
      R"([[[1000, "alice", "a@x", "a.example", "en", "res", "Alice \u00c9 \ud83d\ude00"]],)"
      R"( [[-5, "gone"]]])" "\n",
  };
  for (const auto& answer : forms) {
    auto r = parse_user_lookup(answer);
    ASSERT_TRUE(r) << r.error().message;
    ASSERT_EQ(r->users.size(), 1u);
    const UserInfo& u = r->users[0];
    EXPECT_EQ(u.uid, 1000);
    EXPECT_EQ(u.username, "alice");
    EXPECT_EQ(u.domain, "a.example");
    EXPECT_EQ(u.reseller, "res");
    EXPECT_EQ(u.display_name, "Alice \xC3\x89 \xF0\x9F\x98\x80");
    ASSERT_EQ(r->unresolved.size(), 1u);
    EXPECT_EQ(r->unresolved[0].uid, -5);
    EXPECT_EQ(r->unresolved[0].reason, "gone");
  }
}

TEST(UserLookupAnswer, TheTableKeepsDomainAndResellerOfTheLastRecordPerUid) {
  const std::string forms[] = {
      R"({"users": [)" + ALICE +
          R"(, {"uid": 4294968296, "username": "w", "email": "", "domain": "w.example",
               "locale": "", "reseller": "", "display_name": ""}],
          "unresolved": [{"uid": -5, "reason": "gone"}]})",
      R"([[[1000, "alice", "a@x", "a.example", "en", "res", ""],)"
      R"(  [4294968296, "w", "", "w.example", "", "", ""]], [[-5, "gone"]]])",
  };
  for (const auto& answer : forms) {
    auto r = parse_panel_accounts(answer);
    ASSERT_TRUE(r) << r.error().message;
    ASSERT_EQ(r->size(), 1u);  // 4294968296 is uid 1000 in 32 bits
    EXPECT_EQ(r->find(1000), (PanelAccount{"w.example", ""}));
  }
  auto empty = parse_panel_accounts(R"({"unresolved": [], "users": []})");
  ASSERT_TRUE(empty);
  EXPECT_TRUE(empty->empty());
}

TEST(UserLookupAnswer, EmptyListsAndRepeatsArePassedOn) {
  auto empty = parse_user_lookup(R"({"unresolved": [], "users": []})");
  ASSERT_TRUE(empty);
  EXPECT_TRUE(empty->users.empty() && empty->unresolved.empty());
  auto twice = parse_user_lookup(R"({"users": [)" + ALICE + "," + ALICE + R"(], "unresolved": []})");
  ASSERT_TRUE(twice);
  EXPECT_EQ(twice->users.size(), 2u);
}

TEST(UserLookupAnswer, MissingMemberIsNamedAndTheAnswerQuoted) {
  const std::string answer = R"({"users": []})";
  EXPECT_EQ(lookup_error(answer),
            FAILURE_PREFIX + "missing field `unresolved` at line 1 column 13: output=" + answer);
}

TEST(UserLookupAnswer, FieldRulesAreEnforced) {
  struct Case {
    std::string user;
    std::string description;  // start of the reader's message
  };
  const Case cases[] = {
      {R"({"uid": 1, "username": "u", "email": "", "domain": null, "locale": "", "reseller": "", "display_name": ""})",
       "invalid type: null, expected a string"},
      {R"({"uid": 1000.0, "username": "u", "email": "", "domain": "", "locale": "", "reseller": "", "display_name": ""})",
       "invalid type: floating point `1000.0`, expected i64"},
      {R"({"uid": "1000", "username": "u", "email": "", "domain": "", "locale": "", "reseller": "", "display_name": ""})",
       "invalid type: string \"1000\", expected i64"},
      {R"({"uid": 9223372036854775808, "username": "u", "email": "", "domain": "", "locale": "", "reseller": "", "display_name": ""})",
       "invalid value: integer `9223372036854775808`, expected i64"},
      {R"({"uid": 1, "uid": 2, "username": "u", "email": "", "domain": "", "locale": "", "reseller": "", "display_name": ""})",
       "duplicate field `uid`"},
      {R"({"uid": 1})", "missing field `username`"},
      {R"([1, "u", "", "", "", ""])", "invalid length 6, expected struct UserInfo with 7 elements"},
      {R"([1, "u", "", "", "", "", "", ""])", "trailing characters"},
  };
  for (const auto& c : cases) {
    const std::string message =
        lookup_error(R"({"users": [)" + c.user + R"(], "unresolved": []})");
    EXPECT_EQ(message.substr(0, FAILURE_PREFIX.size() + c.description.size()), FAILURE_PREFIX + c.description)
        << message;
  }
}

TEST(UserLookupAnswer, TrailingTextFailsAndLongOutputIsCutAt200Bytes) {
  const std::string answer = R"({"users": [], "unresolved": []} x)";
  EXPECT_EQ(lookup_error(answer),
            FAILURE_PREFIX + "trailing characters at line 1 column 33: output=" + answer);
  const std::string long_answer = R"({"users": [)" + std::string(300, ' ') + "]";
  EXPECT_TRUE(lookup_error(long_answer)
                  .ends_with(": output=" + long_answer.substr(0, 200)));
}

// An answer large enough that its front is given back while the rest is
// read: the table and every message, with its line and column, must be
// those of the decode that keeps the whole text.
TEST(UserLookupAnswer, GivingBackTheTextReadChangesNothing) {
  std::string records;
  for (int i = 0; i < 40000; ++i) {
    if (i > 0) records += ",\n";
    records += R"({"uid": )" + std::to_string(1000 + i) + R"(, "username": "u)" +
               std::to_string(i) + R"(", "email": "e", "domain": "d)" + std::to_string(i) +
               R"(.example", "locale": "en", "reseller": "r", "display_name": "User \u00c9"})";
  }
  ASSERT_GT(records.size(), std::size_t{5} << 20);
  const std::string whole = "{\"users\": [\n" + records + "\n], \"unresolved\": []}\n";
  const std::string answers[] = {
      whole,
      // A fault in the last record, one after the array, and text cut short.
      whole.substr(0, whole.rfind(R"("uid": )") + 7) + "\"x\"" +
          whole.substr(whole.rfind(R"("uid": )") + 11),
      "{\"users\": [\n" + records + "\n], \"unresolved\": [{\"uid\": 1}]}",
      whole.substr(0, whole.size() - 40),
  };
  for (const std::string& answer : answers) {
    auto kept = parse_panel_accounts(answer);
    auto taken = take_panel_accounts(answer);
    ASSERT_EQ(kept.has_value(), taken.has_value());
    if (kept) {
      EXPECT_EQ(kept->size(), 40000u);
      EXPECT_EQ(*kept, *taken);
    } else {
      EXPECT_NE(kept.error().message.find(" at line 4000"), std::string::npos)
          << kept.error().message;
      EXPECT_EQ(kept.error().message, taken.error().message);
    }
  }
}

// Records in the panel's own layout are taken by a fast path, any other by
// the full decoder: whatever the answer, the table must be the one the
// whole records give, or the message theirs.
TEST(UserLookupAnswer, TheFastPathGivesWhatTheWholeRecordsGive) {
  const std::string answer =
      R"({"users": [{"uid": 1000, "username": "u0", "email": "u0@x", "domain": "d0.example", )"
      R"("locale": "en_US", "reseller": "r0", "display_name": "U 0"}, {"uid": -7, "username": )"
      R"("u1", "email": "", "domain": "", "locale": "", "reseller": "r1", "display_name": ""}], )"
      R"("unresolved": []})";
  const auto same_both_ways = [](const std::string& text) {
    auto records = parse_user_lookup(text);
    auto table = parse_panel_accounts(text);
    ASSERT_EQ(records.has_value(), table.has_value()) << text;
    if (!records) {
      EXPECT_EQ(records.error().message, table.error().message) << text;
      return;
    }
    PanelAccountsByUid::Builder expected;
    for (const UserInfo& u : records->users)
      expected.add(static_cast<std::uint32_t>(u.uid), u.domain, u.reseller);
    EXPECT_EQ(*table, std::move(expected).build()) << text;
  };
  same_both_ways(answer);
  testing::for_each_changed_byte(answer, "\"\\{}[],: 0-.e9tnx", same_both_ways);
  testing::for_each_dropped_or_added_byte(answer, same_both_ways);
}

TEST(NameListAnswer, ListsKeepOrderAndDuplicates) {
  EXPECT_EQ(parse_name_list("[\"root\", \"admin\", \"root\"]\n", "admins").value(),
            (std::vector<std::string>{"root", "admin", "root"}));
  EXPECT_TRUE(parse_name_list("[]", "admins").value().empty());
  EXPECT_EQ(parse_name_list("", "admins").error().message,
            "failed to parse admins JSON: EOF while parsing a value at line 1 column 0");
  EXPECT_EQ(parse_name_list("[\"a\", 1]", "reseller-users").error().message,
            "failed to parse reseller-users JSON: invalid type: integer `1`, expected a string at "
            "line 1 column 7");
  EXPECT_EQ(parse_name_list("[\"a\",]", "admins").error().message,
            "failed to parse admins JSON: trailing comma at line 1 column 6");
}

class PanelHelper : public ::testing::Test {
 protected:
  // Answers with its arguments: names as a list, uids as records of domain "d<uid>".
  std::string helper() {
    return dir_.script("pnx", R"(case "$1" in
admins) printf '["root","admin"]' ;;
reseller-users) printf '["%s","%s"]' "$2" "$#" ;;
user-info-sys) shift; printf '{"users": ['
  sep=; for u in "$@"; do
    printf '%s{"uid": %s, "username": "", "email": "", "domain": "d%s", "locale": "", "reseller": "r", "display_name": ""}' "$sep" "$u" "$u"; sep=,
  done
  printf '], "unresolved": []}' ;;
*) echo "unknown request $1" >&2; exit 2 ;;
esac)");
  }
  ScratchDir dir_;
};

TEST_F(PanelHelper, RequestsCarryTheirArguments) {
  const auto prog = helper();
  EXPECT_EQ(admins(prog).value(), (std::vector<std::string>{"root", "admin"}));
  EXPECT_EQ(reseller_users("", prog).value(), (std::vector<std::string>{"", "2"}));
  auto r = user_info_sys({1000, -1, 1001}, prog);
  ASSERT_TRUE(r) << r.error().message;
  ASSERT_EQ(r->size(), 3u);
  EXPECT_EQ(r->find(1000)->domain, "d1000");
  EXPECT_EQ(r->find(4294967295u)->domain, "d-1");
  EXPECT_EQ(r->find(1001)->domain, "d1001");
  EXPECT_EQ(run_pnx_helper({"panel-feature", "KRO"}, prog).error().message,
            prog + " exited with exit status: 2: unknown request panel-feature");
}

// The answer is decoded while it arrives, but judged as a whole: the exit
// status first, then UTF-8, then the decode.
TEST_F(PanelHelper, AnAnswerIsJudgedWhole) {
  struct Case {
    std::string script;
    std::string message;  // after the program's path, or whole
  };
  const Case cases[] = {
      {R"(printf '{"users": [], "unresolved": []}'; echo oops >&2; exit 3)",
       " exited with exit status: 3: oops"},
      {R"(printf '{"users": [1'; exit 3)", " exited with exit status: 3: "},
      {R"(printf '{"users": [x, "\377"]}')",
       "helper output is not valid UTF-8: invalid utf-8 sequence of 1 bytes from index 15"},
      {R"(printf '{"users": [1], "unresolved": []}')",
       FAILURE_PREFIX + "invalid type: integer `1`, expected struct UserInfo at line 1 column 12: "
                        R"(output={"users": [1], "unresolved": []})"},
  };
  for (const Case& c : cases) {
    const auto prog = dir_.script("answer", c.script);
    auto r = user_info_sys({1000}, prog);
    ASSERT_FALSE(r) << c.script;
    EXPECT_EQ(r.error().message, c.message.starts_with(" ") ? prog + c.message : c.message);
  }
}

TEST_F(PanelHelper, EmptyUidListRunsNothing) {
  auto r = user_info_sys(std::vector<std::int64_t>{}, dir_.path("absent"));
  ASSERT_TRUE(r) << r.error().message;
  EXPECT_TRUE(r->empty());
}

TEST_F(PanelHelper, ListTooLongForOneCommandLineIsSplitAndJoinedInOrder) {
  const auto prog = helper();
  const auto calls = dir_.path("calls");
  // Count the runs, then answer as the plain helper does.
  const auto counting = dir_.script("counting", "echo >> " + calls + "\nexec " + prog + " \"$@\"");
  std::vector<std::int64_t> uids;
  for (std::int64_t uid = 1000000000; uid < 1000300000; ++uid) uids.push_back(uid);
  auto r = user_info_sys(uids, counting);
  ASSERT_TRUE(r) << r.error().message;
  ASSERT_EQ(r->size(), 300000u);
  bool all = true;
  for (std::int64_t uid = 1000000000; uid < 1000300000; ++uid)
    all &= r->find(static_cast<std::uint32_t>(uid)).value_or(PanelAccount{}).domain ==
           "d" + std::to_string(uid);
  EXPECT_TRUE(all);
  std::ifstream in(calls);
  const auto runs = std::count(std::istreambuf_iterator<char>(in), {}, '\n');
  EXPECT_GE(runs, 2);
}

}  // namespace
}  // namespace kestrix::plugins
