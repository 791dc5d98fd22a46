// MySQL figures in the report: the database-usage file and the live usage
// tool, the warden limits, both merge modes, and --hide-mysql.
#include <algorithm>

#include "fixtures.h"

namespace e2e {
namespace {

class MySql : public E2E {
 protected:
  void SetUp() override {
    E2E::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    sb().install_dbadm();  // root + reachable service: "enabled"
  }
  void mode(std::string_view m) { sb().answer(WARD, "warden-mode", std::string(m) + "\n"); }
};

json mysql_of(const json& u) {
  auto pick = [&](const char* side, const char* what) {
    const json& o = u.value(side, json::object()).value(what, json::object());
    return o.contains("mysql") ? o["mysql"] : json("<absent>");
  };
  json m = {{"usage_cpu", pick("usage", "cpu")}, {"usage_io", pick("usage", "io")},
            {"limit_cpu", pick("limit", "cpu")}, {"limit_io", pick("limit", "io")},
            {"restricted", u.value("restricted", json())}};
  if (u.contains("restriction")) m["restriction"] = u["restriction"];
  return m;
}

TEST_F(MySql, ModeAllShowsTheSmallerUsageAndNoLimits) {
  Row rita = row(RITA, "rita", 1, 5);
  rita.restricted = true;  // the service's view replaces the snapshot's
  rita.restriction = {{1, "old"}};
  sb().write(SNAPSHOT, snapshot({row(ALICE, "alice", 10, 1000), row(BOB, "bob", 50, 100), rita}));
  sb().write(DBPEEK_FILE, R"({"dbward_data": {
      "alice": {"cpu": 25, "io": 2048.5, "cause_of_restrict": "io", "time_of_restrict": 1700000001},
      "bob": {"cpu": 12}}})");
  mode("all");
  const RunResult r = sb().run({"--json"});
  ASSERT_EQ(r.status, 0) << r;
  json doc = report(r);
  EXPECT_EQ(doc["mySqlWard"], "enabled");
  EXPECT_EQ(doc["mySqlWardMode"], "all");
  EXPECT_EQ(mysql_of(user(doc, "alice")),
            json::parse(R"({"usage_cpu": 10.0, "usage_io": 1000.0, "limit_cpu": "-", "limit_io": "-",
                            "restricted": true,
                            "restriction": {"reason": "Violated the io limit", "time": 1700000001}})"));
  EXPECT_EQ(mysql_of(user(doc, "bob")),
            json::parse(R"({"usage_cpu": 12.0, "usage_io": 0.0, "limit_cpu": "-", "limit_io": "-",
                            "restricted": false})"));
  EXPECT_EQ(mysql_of(user(doc, "rita")),
            json::parse(R"({"usage_cpu": 0.0, "usage_io": 0.0, "limit_cpu": "-", "limit_io": "-",
                            "restricted": false})"));
  EXPECT_NE(r.out.find("\"mysql\": 10.0"), std::string::npos) << "usage must print as a float";
}

TEST_F(MySql, OtherModesShowTheWardenLimits) {
  Row bob = row(BOB, "bob", 50, 100);
  bob.limit_cpu_mysql = 7.5;
  bob.limit_io_mysql = 8.5;
  Row carol = row(CAROL, "", 3, 3);  // name from the password database
  sb().write(SNAPSHOT, snapshot({row(ALICE, "alice", 10, 1000), bob, row(20000, "N/A", 4), row(NO_ENTRY, "", 5),
                                  carol, row(RITA, "rita", 1, 5)}));
  sb().write(DBPEEK_FILE, R"({"dbward_data": {"alice": {"cpu": 25, "io": 2048.5}}})");
  sb().answer(WARD, "limits", R"({"alice": {"cpu": 150, "io": 2, "absent": true},
                                   "bob": {"error": "no such user", "cpu": 1, "io": 1},
                                   "carol": [null, 3.5, null], "stranger": {}})");
  mode("abusers");
  const RunResult r = sb().run({"--json"});
  ASSERT_EQ(r.status, 0) << r;
  json doc = report(r);
  EXPECT_EQ(mysql_of(user(doc, "alice")),
            json::parse(R"({"usage_cpu": 25.0, "usage_io": 2048.5, "limit_cpu": 150.0, "limit_io": 2048.0,
                            "restricted": false})"));
  EXPECT_EQ(mysql_of(user(doc, "bob")),
            json::parse(R"({"usage_cpu": 0.0, "usage_io": 0.0, "limit_cpu": 7.5, "limit_io": 8.5,
                            "restricted": false})"));
  EXPECT_EQ(mysql_of(user(doc, "carol")),
            json::parse(R"({"usage_cpu": 0.0, "usage_io": 0.0, "limit_cpu": 0.0, "limit_io": 3584.0,
                            "restricted": false})"));
  EXPECT_EQ(mysql_of(user(doc, "rita")),
            json::parse(R"({"usage_cpu": 0.0, "usage_io": 0.0, "limit_cpu": 0.0, "limit_io": 0.0,
                            "restricted": false})"));
  // One call, with the rows' login names in snapshot order; never "N/A".
  EXPECT_EQ(sb().calls(WARD), (std::vector<std::string>{"kestrix-ward-helper|warden-mode",
                                                         "kestrix-ward-helper|limits|alice|bob|carol|rita"}));
}

TEST_F(MySql, LiveUsageToolUpdatesTheFileFigures) {
  sb().write(SNAPSHOT, snapshot({row(ALICE, "alice", 1), row(BOB, "bob", 1), row(RITA, "rita", 1),
                                  row(CAROL, "carol", 1), row(ADMIN, "admin", 1)}));
  sb().write(DBPEEK_FILE, R"({"dbward_data": {"alice": {"cpu": 30, "io": 100},
                                              "admin": {"cpu": 30, "io": 100, "cause_of_restrict": "cpu"}}})");
  sb().answer(DBPEEK, "-c",
              "USER CPU READ WRITE CAUSE\n"
              "alice 20/0 500 0 -\n"
              "bob 25/10 1K/2K 512/0 -\r\n"
              "rita 0/7 0/3M 0/1G cpu/900\n"
              "carol 0 0 0 write/1234\n"
              "admin 20/0 50 0 -\n"
              "short line only four\n");
  mode("abusers");
  const RunResult r = sb().run({"--json"});
  ASSERT_EQ(r.status, 0) << r;
  json doc = report(r);
  const auto usage = [&](const char* name) {
    const json m = mysql_of(user(doc, name));
    json u = {m["usage_cpu"], m["usage_io"], m["restricted"]};
    if (m.contains("restriction")) u.push_back(m["restriction"]);
    return u;
  };
  EXPECT_EQ(usage("alice"), json::parse(R"([20.0, 500.0, false])"));  // more I/O wins
  EXPECT_EQ(usage("bob"), json::parse(R"([25.0, 1536.0, false])"));
  EXPECT_EQ(usage("rita"),
            json::parse(R"([7.0, 1076887552.0, true, {"reason": "Violated the cpu limit", "time": 900}])"));
  // A user first seen throttled to zero keeps his line's restriction.
  EXPECT_EQ(usage("carol"),
            json::parse(R"([0.0, 0.0, true, {"reason": "Violated the write limit", "time": 1234}])"));
  // Neither more CPU nor more I/O: the file's entry stays, restriction included.
  EXPECT_EQ(usage("admin"),
            json::parse(R"([30.0, 100.0, true, {"reason": "Violated the cpu limit", "time": 0}])"));
  EXPECT_EQ(sb().calls(DBPEEK), std::vector<std::string>{"dbpeek|-c"});
}

TEST_F(MySql, FailedUsageToolLeavesTheFileFigures) {
  sb().write(SNAPSHOT, snapshot({row(ALICE, "alice", 1)}));
  sb().write(DBPEEK_FILE, R"({"dbward_data": {"alice": {"cpu": 30, "io": 100}}})");
  sb().answer(DBPEEK, "-c", "USER CPU READ WRITE CAUSE\nalice 90 9K 9K cpu/1\n", 1);
  mode("abusers");
  json doc = report(sb().run({"--json"}));
  EXPECT_EQ(mysql_of(user(doc, "alice"))["usage_cpu"], 30.0);
  EXPECT_EQ(mysql_of(user(doc, "alice"))["restricted"], false);
}

TEST_F(MySql, UsageFileIsAllOrNothing) {
  sb().write(SNAPSHOT, snapshot({row(ALICE, "alice", 1, 1)}));
  mode("abusers");
  const struct {
    std::string file;
    json usage_cpu;
  } cases[] = {
      {R"({"other": 1, "dbward_data": {"alice": [5, 6, "cpu", 7]}})", 5.0},
      {R"([{"alice": {"cpu": 4}}])", 4.0},
      {R"({"dbward_data": {"alice": {"cpu": 5}, "alice": {"cpu": 6}}})", 6.0},
      {R"({"dbward_data": {"alice": {"cpu": 5}}, "dbward_data": {}})", 0.0},
      {R"({"dbward_data": {"alice": {"cpu": null}}})", 0.0},
      {R"({"dbward_data": {"alice": {"cpu": 5}, "bob": {"time_of_restrict": 1.5}}})", 0.0},
      {R"({"dbward_data": {"alice": {"cpu": 5}}} x)", 0.0},
      {R"({"other": 1})", 0.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    sb().write(DBPEEK_FILE, c.file);
    const RunResult r = sb().run({"--json"});
    ASSERT_EQ(r.status, 0) << r;
    EXPECT_EQ(mysql_of(user(report(r), "alice"))["usage_cpu"], c.usage_cpu);
  }
}

TEST_F(MySql, NonFiniteFiguresAreNeverPrinted) {
  sb().write(SNAPSHOT, snapshot({row(ALICE, "alice", 1, 1)}));
  sb().answer(DBPEEK, "-c", "USER CPU READ WRITE CAUSE\nalice 1e400 inf 0 -\n");
  mode("abusers");
  const RunResult r = sb().run({"--json"});
  ASSERT_EQ(r.status, 0) << r;
  json doc = report(r);
  EXPECT_EQ(mysql_of(user(doc, "alice"))["usage_io"], "<absent>") << r.out;
  for (const char* word : {"inf", "nan", "Infinity", "NaN"}) EXPECT_EQ(r.out.find(word), std::string::npos) << r.out;
}

TEST_F(MySql, HideMysqlClearsTheMembersButStillReportsTheService) {
  Row alice = row(ALICE, "alice", 1, 1);
  alice.cpu_mysql = 3.0;
  alice.limit_io_mysql = "-";
  alice.restricted = true;
  alice.restriction = {{5, "cpu"}};
  sb().write(SNAPSHOT, snapshot({alice, row(BOB, "bob", 0.5)}));
  sb().write(DBPEEK_FILE, R"({"dbward_data": {"bob": {"cpu": 1, "cause_of_restrict": "io"}}})");
  const struct {
    const char* name;
    std::string dbadm_out;
    int dbadm_rc;
    bool error;
  } cases[] = {{"enabled", "", 0, false}, {"error", "can't connect to socket\n", 1, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    sb().write("/run/standin.log", "", 0666);
    sb().answer(DBADM, "list", c.dbadm_out, c.dbadm_rc);
    const RunResult r = sb().run({"--json", "--hide-mysql"});
    ASSERT_EQ(r.status, 0) << r;
    json doc = report(r);
    EXPECT_EQ(doc["mySqlWard"], c.name);
    EXPECT_EQ(doc["mySqlWardMode"], "all");
    EXPECT_EQ(doc.contains("warning"), c.error);
    EXPECT_EQ(doc.contains("context"), c.error);
    ASSERT_EQ(doc["users"].size(), 2u);
    for (const auto& u : doc["users"]) {
      EXPECT_EQ(mysql_of(u), json::parse(R"({"usage_cpu": "<absent>", "usage_io": "<absent>",
                                             "limit_cpu": "<absent>", "limit_io": "<absent>",
                                             "restricted": false})"));
    }
    EXPECT_EQ(sb().calls(WARD), std::vector<std::string>{"kestrix-ward-helper|warden-mode"});
    EXPECT_EQ(sb().calls(DBPEEK), std::vector<std::string>{});
    EXPECT_EQ(sb().calls(DBADM), std::vector<std::string>{"dbadm|list"});
  }
}

TEST_F(MySql, DisabledServiceKeepsTheSnapshotsMysqlMembers) {
  ::unlink(sb().host_path("/usr/sbin/dbadm").c_str());
  Row alice = row(ALICE, "alice", 1, 1);
  alice.cpu_mysql = "x";
  alice.restricted = true;
  alice.restriction = {{5, "cpu"}};
  sb().write(SNAPSHOT, snapshot({alice}));
  sb().write(DBPEEK_FILE, R"({"dbward_data": {"alice": {"cpu": 9}}})");
  const RunResult r = sb().run({"--json"});
  ASSERT_EQ(r.status, 0) << r;
  EXPECT_EQ(mysql_of(user(report(r), "alice")),
            json::parse(R"({"usage_cpu": "x", "usage_io": 0.0, "limit_cpu": 0.0, "limit_io": 0.0,
                            "restricted": true, "restriction": {"reason": "cpu", "time": 5}})"));
  EXPECT_EQ(sb().calls(WARD), std::vector<std::string>{"kestrix-ward-helper|warden-mode"});
  EXPECT_EQ(sb().calls(DBPEEK), std::vector<std::string>{});
}

TEST_F(MySql, MysqlSortKeysReadTheUsageFileEvenWhenHidden) {
  ::unlink(sb().host_path("/usr/sbin/dbadm").c_str());  // disabled: only the file counts
  sb().write(SNAPSHOT, snapshot({row(ALICE, "alice", 9, 9), row(BOB, "bob", 1, 1), row(RITA, "rita", 1, 1),
                                  row(CAROL, "", 0, 0)}));
  sb().write(DBPEEK_FILE, R"({"dbward_data": {"bob": {"cpu": 5, "io": 1}, "rita": {"cpu": 3, "io": 9},
                                              "carol": {"cpu": 10, "io": 0}}})");
  const struct {
    std::vector<std::string> args;
    std::vector<std::string> order;
  } cases[] = {
      {{"--json", "-o", "mysql_cpu"}, {"carol", "bob", "rita", "alice"}},
      {{"--json", "-o", "MYSQL_IO", "--hide-mysql"}, {"rita", "bob", "alice", "carol"}},
      {{"--json", "-o", "mysql_cpu", "--hide-mysql"}, {"carol", "bob", "rita", "alice"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[2]);
    const RunResult r = sb().run(c.args);
    ASSERT_EQ(r.status, 0) << r;
    EXPECT_EQ(usernames(report(r)), c.order);
  }
}

TEST_F(MySql, RunConsultsEveryComponentOnce) {
  sb().write(SNAPSHOT, snapshot({row(ALICE, "alice", 2), row(RITA, "rita", 1)}));
  sb().data("resellers.tsv", "rita\talice\n");
  const RunResult r = sb().run({"--json", "--for-reseller", "rita"});
  ASSERT_EQ(r.status, 0) << r;
  // The KRO check first; the others overlap, so their log order is free.
  auto calls = sb().calls();
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.front(), "kestrix-pnx-helper|panel-feature|KRO");
  std::sort(calls.begin() + 1, calls.end());
  EXPECT_EQ(calls, (std::vector<std::string>{
                       "kestrix-pnx-helper|panel-feature|KRO",
                       "dbadm|list",
                       "dbpeek|-c",
                       "kestrix-pnx-helper|admins",
                       "kestrix-pnx-helper|reseller-users|rita",
                       "kestrix-pnx-helper|user-info-sys|1001|1003",
                       "kestrix-ward-helper|limits|alice|rita",
                       "kestrix-ward-helper|warden-mode",
                   }));
  EXPECT_TRUE(sb().exists(WARDEN_TS));
}

}  // namespace
}  // namespace e2e
