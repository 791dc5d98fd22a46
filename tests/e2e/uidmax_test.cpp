// Rows above UID_MAX are hidden unless the configuration turns that off; a
// configuration with any bad value counts as absent.
#include "fixtures.h"

namespace e2e {
namespace {

class UidMax : public E2E {
 protected:
  void SetUp() override {
    E2E::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    sb().write(SNAPSHOT, snapshot({row(60001, "above", 3), row(60000, "edge", 2), row(4294967295u, "top", 1),
                                    row(ALICE, "alice", 0)}));
  }
  std::vector<std::string> shown(const RunResult& r) { return usernames(report(r)); }
};

const std::vector<std::string> HIDDEN{"edge", "alice"};
const std::vector<std::string> ALL{"above", "edge", "top", "alice"};

TEST_F(UidMax, ConfigurationDecidesWhetherRowsAboveUidMaxAreHidden) {
  const struct {
    std::optional<std::string> config;  // nullopt: no file
    bool hidden;
  } cases[] = {
      {std::nullopt, true},
      {"", true},
      {"hide_kro_more_than_maxuid = no\n", false},
      {"hide_kro_more_than_maxuid=OFF\n", false},
      {"hide_kro_more_than_maxuid = off\n", false},
      {"hide_kro_more_than_maxuid = f\n", false},
      {"hide_kro_more_than_maxuid = 0\r\n", false},
      {"hide_kro_more_than_maxuid = false   \n", false},
      {"  [main]\n; comment\n# hide_kro_more_than_maxuid = yes\nhide_kro_more_than_maxuid = No\n", false},
      {"hide_kro_more_than_maxuid = disabled\n", true},
      {"hide_kro_more_than_maxuid = yes\n", true},
      {"HIDE_KRO_MORE_THAN_MAXUID = no\n", true},
      {"hide_kro_more_than_maxuid = no\nhide_kro_more_than_maxuid = yes\n", true},
      {"hide_kro_more_than_maxuid = yes\nhide_kro_more_than_maxuid = n\n", false},
      // One bad value anywhere voids the whole file, earlier lines included.
      {"hide_kro_more_than_maxuid = no\ninterval = 0\n", true},
      {"hide_kro_more_than_maxuid = no\ntimeout = 5s\n", true},
      {"hide_kro_more_than_maxuid = no\ndb_type = pg\n", true},
      {"hide_kro_more_than_maxuid = no\nkeep_history_days = -1\n", true},
      // Values that are not errors keep the file usable.
      {"hide_kro_more_than_maxuid = no\nlog_level = verbose\ninterval = +7\ndb_timeout = 0\n", false},
      {"hide_kro_more_than_maxuid = no\nenv = my env # test\ninterval 10\n", false},
      {std::string("hide_kro_more_than_maxuid = no\nserver_id = \xff\n"), true},  // not UTF-8
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.config ? "config:\n" + *c.config : "no config");
    if (c.config) sb().write(CONFIG, *c.config);
    else sb().remove(CONFIG);
    const RunResult r = sb().run({"--json"});
    ASSERT_EQ(r.status, 0) << r;
    EXPECT_EQ(shown(r), c.hidden ? HIDDEN : ALL);
  }
}

TEST_F(UidMax, UnreadableConfigurationCountsAsAbsent) {
  sb().write(CONFIG, "hide_kro_more_than_maxuid = no\n", 0600);
  sb().write(SNAPSHOT, snapshot({row(60001, "alice", 1), row(ALICE, "alice", 0)}));
  const RunResult again = sb().run({"--json"}, {.uid = ALICE});
  ASSERT_EQ(again.status, 0) << again;
  ASSERT_EQ(report(again)["users"].size(), 1u);
  EXPECT_EQ(report(again)["users"][0]["id"], ALICE);
}

TEST_F(UidMax, UidMaxComesFromLoginDefs) {
  const struct {
    std::optional<std::string> defs;
    std::vector<std::string> shown;
  } cases[] = {
      {std::nullopt, HIDDEN},  // default 60000
      {"UID_MAX 60001\n", {"above", "edge", "alice"}},
      {"UID_MAX\t1001\n", {"alice"}},
      {"#UID_MAX 100\nUID_MAX abc\nUID_MAX=5\nUID_MAX\nUID_MAX 60001 # comment\nUID_MAX 1\n", {"above", "edge", "alice"}},
      {"UID_MAX -1\nUID_MAX 4294967296\n", HIDDEN},
      {"UID_MAX 4294967295\n", ALL},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.defs ? *c.defs : "no login.defs");
    if (c.defs) sb().write(LOGIN_DEFS, "UID_MIN 1000\n" + *c.defs);
    else sb().remove(LOGIN_DEFS);
    const RunResult r = sb().run({"--json"});
    ASSERT_EQ(r.status, 0) << r;
    EXPECT_EQ(shown(r), c.shown);
  }
}

TEST_F(UidMax, HiddenRowsAreNotLookedUp) {
  const RunResult r = sb().run({"--json"});
  ASSERT_EQ(r.status, 0) << r;
  const auto calls = sb().calls(PNX);
  EXPECT_NE(std::find(calls.begin(), calls.end(), "kestrix-pnx-helper|user-info-sys|60000|1001"), calls.end());
}

}  // namespace
}  // namespace e2e
