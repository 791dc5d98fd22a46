// The throttling service's state and mode in the report, and the warden
// timestamp file that privileged runs touch.
#include <utime.h>

#include "fixtures.h"

namespace e2e {
namespace {

class Warden : public E2E {
 protected:
  void SetUp() override {
    E2E::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    sb().write(SNAPSHOT, snapshot({row(ALICE, "alice", 2), row(RITA, "rita", 1)}));
  }
  static constexpr time_t LONG_AGO = 1000000000;  // 2001

  void plant_old_timestamp(mode_t mode = 0666) {
    sb().write(WARDEN_TS, "keep me\n", mode);
    const struct utimbuf old {LONG_AGO, LONG_AGO};
    ASSERT_EQ(::utime(sb().host_path(WARDEN_TS).c_str(), &old), 0);
  }
};

TEST_F(Warden, StateComesFromDbadm) {
  sb().install_dbadm();
  const struct {
    const char* name;
    std::string out, err;
    int rc;
    json expected;  // the members "mySqlWard", "warning" and "context"
  } cases[] = {
      {"reachable", "USER CPU\nalice 1\n", "", 0, {{"mySqlWard", "enabled"}}},
      {"cannot connect", "error: can't connect to socket /var/run/db-governor.sock\n", "", 1,
       {{"mySqlWard", "error"},
        {"warning", "%(util)s is disabled in the system. Please, run \"%(command)s\" to start the service"},
        {"context", {{"util", "MySQL warden"}, {"command", "service db_warden restart"}}}}},
      {"cannot connect, status 0", "xx can't connect to socket xx", "", 0,
       {{"mySqlWard", "error"},
        {"warning", "%(util)s is disabled in the system. Please, run \"%(command)s\" to start the service"},
        {"context", {{"util", "MySQL warden"}, {"command", "service db_warden restart"}}}}},
      {"warning on stderr", "table\n", "  \tdeprecated option\n\n", 0,
       {{"mySqlWard", "error"}, {"warning", "dbadm error: %(output)s"}, {"context", {{"output", "deprecated option"}}}}},
      {"silent failure", "", "", 2,
       {{"mySqlWard", "error"}, {"warning", "dbadm error: %(output)s"}, {"context", {{"output", ""}}}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    sb().answer(DBADM, "list", c.out, c.rc, c.err);
    const RunResult r = sb().run({"--json"});
    ASSERT_EQ(r.status, 0) << r;
    json doc = report(r);
    json got = {{"mySqlWard", doc["mySqlWard"]}};
    if (doc.contains("warning")) got["warning"] = doc["warning"];
    if (doc.contains("context")) got["context"] = doc["context"];
    EXPECT_EQ(got, c.expected);
  }
  for (const auto& call : sb().calls(DBADM)) EXPECT_EQ(call, "dbadm|list");
}

TEST_F(Warden, WithoutDbadmTheServiceIsDisabledAndNothingRuns) {
  const RunResult r = sb().run({"--json"});
  ASSERT_EQ(r.status, 0) << r;
  json doc = report(r);
  EXPECT_EQ(doc["mySqlWard"], "disabled");
  EXPECT_FALSE(doc.contains("warning"));
  EXPECT_FALSE(doc.contains("context"));
  EXPECT_EQ(sb().calls(DBPEEK), std::vector<std::string>{});
  EXPECT_EQ(sb().calls(WARD), std::vector<std::string>{"kestrix-ward-helper|warden-mode"});
}

TEST_F(Warden, DbadmThatIsADirectoryCountsAsAbsent) {
  sb().write("/usr/sbin/dbadm/x", "");
  EXPECT_EQ(report(sb().run({"--json"}))["mySqlWard"], "disabled");
}

TEST_F(Warden, DbadmThatCannotBeStartedIsAnError) {
  sb().install_dbadm();
  ::chmod(sb().host_path("/usr/sbin/dbadm").c_str(), 0644);
  const RunResult r = sb().run({"--json"});
  ASSERT_EQ(r.status, 0) << r;
  json doc = report(r);
  EXPECT_EQ(doc["mySqlWard"], "error");
  EXPECT_EQ(doc["warning"], "Permission denied (os error 13)");
  EXPECT_FALSE(doc.contains("context"));
}

TEST_F(Warden, OnlyRootRunsDbadm) {
  sb().install_dbadm();
  sb().answer(DBADM, "list", "can't connect to socket\n", 1);
  const RunResult r = sb().run({"--json"}, {.uid = ALICE});
  ASSERT_EQ(r.status, 0) << r;
  EXPECT_EQ(report(r)["mySqlWard"], "enabled");
  EXPECT_EQ(sb().calls(DBADM), std::vector<std::string>{});
}

TEST_F(Warden, ModeIsTheHelpersTrimmedAnswer) {
  const struct {
    std::string out;
    int rc;
    std::string mode;
  } cases[] = {
      {"all\n", 0, "all"},         {"  abusers \r\n", 0, "abusers"}, {"\"all\"\n", 0, "all"},
      {"\"a\\u0062c\"", 0, "abc"}, {"\"all\" x", 0, "\"all\" x"},    {"", 0, ""},
      {"all\n", 1, "none"},        {"all\n", 3, "none"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("[" + c.out + "] exit " + std::to_string(c.rc));
    sb().answer(WARD, "warden-mode", c.out, c.rc);
    const RunResult r = sb().run({"--json"});
    ASSERT_EQ(r.status, 0) << r;
    EXPECT_EQ(report(r)["mySqlWardMode"], c.mode);
  }
}

TEST_F(Warden, MissingWardenHelperGivesModeNone) {
  sb().remove("/usr/share/kestrix3/scripts/kestrix-ward-helper");
  EXPECT_EQ(report(sb().run({"--json"}))["mySqlWardMode"], "none");
}

TEST_F(Warden, RootCreatesTheTimestampFileHonouringTheUmask) {
  for (const mode_t mask : {mode_t{022}, mode_t{027}, mode_t{0}}) {
    SCOPED_TRACE(mask);
    sb().remove(WARDEN_TS);
    const time_t before = ::time(nullptr);
    const RunResult r = sb().run({"--json"}, {.umask = mask});
    ASSERT_EQ(r.status, 0) << r;
    ASSERT_TRUE(sb().exists(WARDEN_TS));
    const struct stat st = sb().lstat(WARDEN_TS);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0666 & ~mask);
    EXPECT_GE(st.st_mtime, before);
    EXPECT_EQ(st.st_size, 0);
  }
}

TEST_F(Warden, TouchingKeepsTheContentAndRenewsTheTimes) {
  plant_old_timestamp();
  const time_t before = ::time(nullptr);
  ASSERT_EQ(sb().run({"--json"}).status, 0);
  const struct stat st = sb().lstat(WARDEN_TS);
  EXPECT_GE(st.st_mtime, before);
  EXPECT_GE(st.st_atime, before);
  EXPECT_EQ(sb().read(WARDEN_TS), "keep me\n");
}

TEST_F(Warden, OnlyRootAndAcceptedResellersTouchTheTimestamp) {
  const struct {
    const char* name;
    std::vector<std::string> args;
    RunOptions opts;
    bool touched;
  } cases[] = {
      {"ordinary user", {"--json"}, {.uid = ALICE}, false},
      {"reseller without the option", {"--json"}, {.uid = RITA}, false},
      {"reseller naming himself", {"--json", "--for-reseller", "rita"}, {.uid = RITA}, true},
      {"reseller naming another", {"--json", "--for-reseller", "alice"}, {.uid = RITA}, false},
      {"root in a user namespace", {"--json"}, {.userns = true}, false},
      {"root", {"--json"}, {}, true},
      {"root naming a reseller", {"--json", "-r", "rita"}, {}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    plant_old_timestamp();
    sb().run(c.args, c.opts);
    EXPECT_EQ(sb().lstat(WARDEN_TS).st_mtime != LONG_AGO, c.touched);
  }
}

TEST_F(Warden, ReadOnlyKroDirectoryDoesNotChangeTheOutcome) {
  const RunResult r = sb().run({"--json"}, {.ro_kro = true});
  ASSERT_EQ(r.status, 0) << r;
  EXPECT_EQ(usernames(report(r)), (std::vector<std::string>{"alice", "rita"}));
  EXPECT_FALSE(sb().exists(WARDEN_TS));
}

TEST_F(Warden, PlantedLinkIsNotFollowed) {
  // Inside the sandbox this absolute path is a file root may create; the
  // tool must refuse to reach it through the link.
  const std::string victim = "/etc/victim";
  sb().symlink(victim, WARDEN_TS);
  const std::string old_target = sb().host_path("/etc/old-victim");
  sb().write("/etc/old-victim", "old\n");
  const struct utimbuf old {LONG_AGO, LONG_AGO};
  ASSERT_EQ(::utime(old_target.c_str(), &old), 0);

  RunResult r = sb().run({"--json"});
  ASSERT_EQ(r.status, 0) << r;
  EXPECT_FALSE(sb().exists(victim)) << "a link at the timestamp path created its target";

  sb().symlink("/etc/old-victim", WARDEN_TS);
  r = sb().run({"--json"});
  ASSERT_EQ(r.status, 0) << r;
  EXPECT_EQ(sb().lstat("/etc/old-victim").st_mtime, LONG_AGO) << "a link at the timestamp path was followed";
}

TEST_F(Warden, PlantedFifoDoesNotHangTheRun) {
  sb().fifo(WARDEN_TS);
  const RunResult r = sb().run({"--json"}, {.timeout = std::chrono::seconds(10)});
  EXPECT_FALSE(r.timed_out) << "the run blocked on a FIFO at the timestamp path";
  EXPECT_EQ(r.status, 0) << r;
  EXPECT_TRUE(S_ISFIFO(sb().lstat(WARDEN_TS).st_mode));
}

}  // namespace
}  // namespace e2e

namespace e2e {
namespace {

// A hung outside tool must not hang the control panel's request; each one
// counts as a failed run once its bound has passed.
TEST_F(Warden, HungToolsAreGivenUpOn) {
  sb().install_dbadm();
  sb().hang(WARD, "warden-mode");
  sb().hang(DBPEEK, "-c");
  // Not root: the service counts as enabled without dbadm, so dbpeek runs.
  RunResult r = sb().run({"--json"}, {.uid = ALICE, .timeout = std::chrono::seconds(150)});
  ASSERT_FALSE(r.timed_out) << r;
  ASSERT_EQ(r.status, 0) << r;
  json doc = report(r);
  EXPECT_EQ(doc["mySqlWard"], "enabled");
  EXPECT_EQ(doc["mySqlWardMode"], "none");
  EXPECT_EQ(usernames(doc), std::vector<std::string>{"alice"});

  sb().remove("/usr/share/kestrix3/standin/kestrix-ward-helper.warden-mode.hang");
  sb().hang(DBADM, "list");
  r = sb().run({"--json"}, {.timeout = std::chrono::seconds(150)});
  ASSERT_FALSE(r.timed_out) << r;
  ASSERT_EQ(r.status, 0) << r;
  doc = report(r);
  EXPECT_EQ(doc["mySqlWard"], "error");
  EXPECT_TRUE(doc.contains("warning"));
}

}  // namespace
}  // namespace e2e
