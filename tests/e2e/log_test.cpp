// The diagnostic log: absorbed failures and helper runs on standard error,
// only when NIMBREL_TOP_LOG names a level, and never at the run's expense.
#include <algorithm>
#include <regex>
#include <sstream>

#include "fixtures.h"

namespace e2e {
namespace {

constexpr std::string_view PNX_PATH = "/usr/share/kestrix3/scripts/kestrix-pnx-helper";

RunOptions with_log(std::string value) { return {.env = {"NIMBREL_TOP_LOG=" + std::move(value)}}; }

// No variable at all, whatever the environment the tests run in.
RunOptions without_log() { return {.env = {"NIMBREL_TOP_LOG"}}; }

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

bool has_line(const RunResult& r, const std::string& line) {
  for (const auto& l : lines_of(r.err))
    if (l == line) return true;
  return false;
}

bool has_line_starting(const RunResult& r, const std::string& prefix) {
  for (const auto& l : lines_of(r.err))
    if (l.starts_with(prefix)) return true;
  return false;
}

class Log : public E2E {
 protected:
  // A run that absorbs several failures: the panel's records and
  // administrators, the warden limits and the configuration.
  void SetUp() override {
    E2E::SetUp();
    if (!box_) return;
    sb().install_dbadm();
    sb().write(SNAPSHOT, snapshot({row(ALICE, "alice", 3), row(BOB, "bob", 2)}));
    sb().answer(PNX, "user-info-sys", "", 3, "  panel down \n");
    sb().answer(PNX, "admins", "not json\n");
    sb().answer(WARD, "limits", "", 1);
    sb().write(CONFIG, "hide_kro_more_than_maxuid = no\ninterval = 0\n");
  }
};

TEST_F(Log, WithoutAValidLevelNothingChanges) {
  const RunResult quiet = sb().run({"--json"}, without_log());
  ASSERT_EQ(quiet.status, 0) << quiet;
  EXPECT_EQ(quiet.err, "");
  ASSERT_FALSE(quiet.out.empty());
  for (const char* value : {"", "bogus", "WARN", "trace", " warn"}) {
    SCOPED_TRACE(std::string("NIMBREL_TOP_LOG=[") + value + "]");
    const RunResult r = sb().run({"--json"}, with_log(value));
    EXPECT_EQ(r.status, quiet.status);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, quiet.out);
  }
}

TEST_F(Log, WarnNamesEachAbsorbedFailureWithItsReason) {
  const RunResult quiet = sb().run({"--json"}, without_log());
  const RunResult r = sb().run({"--json"}, with_log("warn"));
  ASSERT_EQ(r.status, 0) << r;
  EXPECT_EQ(r.out, quiet.out);
  EXPECT_TRUE(has_line(r,
                       "nimbrel-top: WARN kestrix_cli::driver: user-info-sys failed, no domains "
                       "or resellers from the panel: " +
                           std::string(PNX_PATH) + " exited with exit status: 3: panel down"))
      << r.err;
  EXPECT_TRUE(has_line_starting(r,
                                "nimbrel-top: WARN kestrix_cli::driver: admins failed, no "
                                "administrator is hidden: failed to parse admins JSON: "))
      << r.err;
  EXPECT_TRUE(has_line_starting(r,
                                "nimbrel-top: WARN kestrix_cli::driver: limits failed, no MySQL "
                                "limits: /usr/share/kestrix3/scripts/kestrix-ward-helper exited "
                                "with exit status: 1"))
      << r.err;
  EXPECT_TRUE(has_line(r,
                       "nimbrel-top: WARN kestrix_core::config: /etc/sysconfig/kestrix2: "
                       "interval must be > 0 (got 0); using the defaults"))
      << r.err;
  // Nothing below the threshold, and every line in the one layout.
  const std::regex layout("nimbrel-top: (ERROR|WARN) [a-z_]+::[a-z_]+: .+");
  for (const auto& line : lines_of(r.err)) EXPECT_TRUE(std::regex_match(line, layout)) << line;
}

TEST_F(Log, ToolAndResellerFailuresAreNamed) {
  sb().answer(WARD, "warden-mode", "", 1, "no mode\n");
  sb().answer(DBPEEK, "-c", "", 2, "access denied");
  sb().answer(PNX, "reseller-users", "", 4);
  const RunResult quiet = sb().run({"--json", "--for-reseller", "rita"}, without_log());
  const RunResult r = sb().run({"--json", "--for-reseller", "rita"}, with_log("warn"));
  ASSERT_EQ(r.status, 0) << r;
  EXPECT_EQ(r.out, quiet.out);
  EXPECT_TRUE(has_line(r, "nimbrel-top: WARN kestrix_core::warden: warden-mode failed, mode 'none': "
                          "/usr/share/kestrix3/scripts/kestrix-ward-helper exited with exit "
                          "status: 1: no mode"))
      << r.err;
  EXPECT_TRUE(has_line(r, "nimbrel-top: WARN kestrix_core::dbpeek: /usr/sbin/dbpeek -c exited with "
                          "exit status: 2, database usage not refreshed: access denied"))
      << r.err;
  EXPECT_TRUE(has_line(r, "nimbrel-top: WARN kestrix_cli::caller: reseller-users failed, only the "
                          "reseller's own row is visible: " + std::string(PNX_PATH) +
                          " exited with exit status: 4: "))
      << r.err;
}

TEST_F(Log, TheExistingConfigurationWarningIsShown) {
  sb().write(CONFIG, "log_level = verbose\n");
  const RunResult r = sb().run({"--json"}, with_log("warn"));
  EXPECT_TRUE(has_line(r,
                       "nimbrel-top: WARN kestrix_core::config: Unknown log_level 'verbose', "
                       "using default 'info'"))
      << r.err;
  EXPECT_EQ(sb().run({"--json"}, without_log()).err, "");
}

TEST_F(Log, InfoTellsWhyFilesWereNotUsed) {
  sb().remove(SNAPSHOT);
  sb().write(CONFIG, "env = \xff\n");
  const RunResult r = sb().run({"--json"}, with_log("info"));
  ASSERT_EQ(r.status, 0) << r;
  EXPECT_TRUE(has_line(r,
                       "nimbrel-top: WARN kestrix_cli::snapshot: cannot read "
                       "/var/kro/nimbrel_top.json: No such file or directory (os error 2); the "
                       "snapshot is empty"))
      << r.err;
  EXPECT_TRUE(has_line(r,
                       "nimbrel-top: INFO kestrix_core::config: cannot read "
                       "/etc/sysconfig/kestrix2: not valid UTF-8; using the defaults"))
      << r.err;

  sb().write(PID_FILE, "abc\n");
  const RunResult dead = sb().run({"--json"}, with_log("info"));
  EXPECT_TRUE(has_line(dead,
                       "nimbrel-top: INFO kestrix_core::daemon_status: /var/run/kestrix.pid names "
                       "no process ('abc'); the daemon counts as dead"))
      << dead.err;

  const RunResult denied = sb().run({"--json"}, {.userns = true, .env = {"NIMBREL_TOP_LOG=info"}});
  EXPECT_EQ(denied.status, 1) << denied;
  EXPECT_TRUE(has_line_starting(denied,
                                "nimbrel-top: INFO kestrix_core::user_namespace: not the "
                                "initial user namespace: uid_map is '0"))
      << denied.err;
}

TEST_F(Log, KroCheckTellsARunFailureFromAnAnswer) {
  sb().answer(PNX, "panel-feature", "TRUE\n");
  const RunResult answered = sb().run({"--json"}, with_log("info"));
  EXPECT_EQ(answered.status, 0);
  EXPECT_TRUE(answered.out.starts_with("Command is skipped")) << answered;
  EXPECT_EQ(answered.err,
            "nimbrel-top: INFO kestrix_core::kro_check: KRO counted as unsupported: "
            "the helper answered 'TRUE'\n");

  sb().remove(std::string(PNX_PATH));
  const RunResult missing = sb().run({"--json"}, with_log("warn"));
  EXPECT_EQ(missing.out, answered.out);
  EXPECT_EQ(missing.err,
            "nimbrel-top: WARN kestrix_core::kro_check: KRO counted as unsupported: "
            "the helper could not be run: failed to spawn " +
                std::string(PNX_PATH) + ": No such file or directory (os error 2)\n");
}

TEST_F(Log, DebugShowsEveryHelperAndToolRun) {
  const RunResult r = sb().run({"--json"}, with_log("debug"));
  ASSERT_EQ(r.status, 0) << r;
  const std::regex run_line(
      "nimbrel-top: DEBUG kestrix_plugins::helper_runner: ran (/[^ ]+) with ([0-9]+) arguments? in "
      "[0-9]+ ms: (exit status: [0-9]+|signal: .*|failed: .*)");
  std::vector<std::string> runs;
  for (const auto& line : lines_of(r.err)) {
    std::smatch m;
    if (std::regex_match(line, m, run_line))
      runs.push_back(m[1].str() + " " + m[2].str() + " " + m[3].str());
  }
  // The KRO check comes first; the calls after it overlap, in any order.
  ASSERT_FALSE(runs.empty()) << r.err;
  EXPECT_EQ(runs.front(), std::string(PNX_PATH) + " 2 exit status: 0");  // panel-feature KRO
  std::sort(runs.begin() + 1, runs.end());
  const std::vector<std::string> expected = {
      std::string(PNX_PATH) + " 2 exit status: 0",
      "/usr/sbin/dbadm 1 exit status: 0",                                  // list
      "/usr/sbin/dbpeek 1 exit status: 0",                                 // -c
      std::string(PNX_PATH) + " 1 exit status: 0",                         // admins
      std::string(PNX_PATH) + " 3 exit status: 3",                         // user-info-sys
      "/usr/share/kestrix3/scripts/kestrix-ward-helper 1 exit status: 0",  // warden-mode
      "/usr/share/kestrix3/scripts/kestrix-ward-helper 3 exit status: 1",  // limits
  };
  EXPECT_EQ(runs, expected) << r.err;
  EXPECT_TRUE(has_line(r, "nimbrel-top: DEBUG kestrix_plugins::arg_batches: " +
                              std::string(PNX_PATH) + " user-info-sys: 2 items in 1 batches"))
      << r.err;
}

TEST_F(Log, UnwritableStandardErrorChangesNothing) {
  const RunResult quiet = sb().run({"--json"}, without_log());
  ASSERT_EQ(quiet.status, 0) << quiet;
  const std::vector<RunOptions> unwritable = {
      {.env = {"NIMBREL_TOP_LOG=debug"}, .stderr_path = "-"},
      {.env = {"NIMBREL_TOP_LOG=debug"}, .stderr_path = "/dev/full"},
      {.env = {"NIMBREL_TOP_LOG=debug"}, .stderr_closed_pipe = true},
  };
  for (const auto& opts : unwritable) {
    SCOPED_TRACE(opts.stderr_closed_pipe ? "closed pipe" : opts.stderr_path);
    const RunResult r = sb().run({"--json"}, opts);
    EXPECT_EQ(r.signal, 0) << r;
    EXPECT_EQ(r.status, quiet.status) << r;
    EXPECT_EQ(r.out, quiet.out);
  }
}

}  // namespace
}  // namespace e2e
