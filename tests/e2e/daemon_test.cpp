// The document printed instead of a report when the statistics daemon is
// not running, and what such a run leaves alone.
#include <sys/wait.h>
#include <unistd.h>

#include "fixtures.h"

namespace e2e {
namespace {

// A pid that certainly names no process: a child we have already reaped.
pid_t dead_pid() {
  const pid_t pid = fork();
  if (pid == 0) _exit(0);
  waitpid(pid, nullptr, 0);
  return pid;
}

void expect_daemon_document(const RunResult& r, const std::string& message, double before) {
  ASSERT_EQ(r.status, 0) << r;
  EXPECT_EQ(r.err, "");
  json doc = report(r);
  EXPECT_CURRENT_SECOND(doc, before, now_seconds());
  const auto ts = static_cast<long long>(doc["timestamp"].get<double>());
  EXPECT_EQ(r.out, "{\n  \"result\": \"" + message + "\",\n  \"timestamp\": " + std::to_string(ts) + ".0\n}\n");
}

using Daemon = E2E;

TEST_F(Daemon, PidFileContentDecidesTheOutcome) {
  const std::string self = std::to_string(getpid());
  const struct {
    std::string content;
    const char* result;  // nullptr: running, a report follows
  } cases[] = {
      {self + "\n", nullptr},
      {"  +" + self + " \n\t", nullptr},
      {std::to_string(dead_pid()) + "\n", "Kestrix is dead but subsys locked"},
      {"", "Kestrix is dead but subsys locked"},
      {"abc\n", "Kestrix is dead but subsys locked"},
      {"0\n", "Kestrix is dead but subsys locked"},
      {"-" + self + "\n", "Kestrix is dead but subsys locked"},
      {"4294967297\n", "Kestrix is dead but subsys locked"},
      {self + "\n" + self + "\n", "Kestrix is dead but subsys locked"},
      {self + "x\n", "Kestrix is dead but subsys locked"},
  };
  sb().write(SNAPSHOT, "");  // a report attempt would fail loudly
  for (const auto& c : cases) {
    SCOPED_TRACE("pid file: [" + c.content + "]");
    sb().write(PID_FILE, c.content);
    const double before = now_seconds();
    const RunResult r = sb().run({"--json"});
    if (c.result) {
      expect_daemon_document(r, c.result, before);
    } else {
      EXPECT_EQ(r.status, 1) << r;  // got as far as the (broken) snapshot
      EXPECT_NE(r.err.find("Failed to parse"), std::string::npos) << r;
    }
  }
}

TEST_F(Daemon, MissingPidFileMeansStopped) {
  sb().remove(PID_FILE);
  const double before = now_seconds();
  expect_daemon_document(sb().run({"--json"}), "Kestrix is stopped", before);
}

TEST_F(Daemon, PidFileTheCallerCannotReadMeansStopped) {
  sb().write(PID_FILE, std::to_string(getpid()) + "\n", 0600);
  const double before = now_seconds();
  expect_daemon_document(sb().run({"--json"}, {.uid = ALICE}), "Kestrix is stopped", before);
}

TEST_F(Daemon, ProcessOfAnotherUserCountsAsRunning) {
  // The pid file names this (root) process; kill(pid, 0) from alice gets EPERM.
  sb().write(SNAPSHOT, snapshot({row(ALICE, "alice", 1)}));
  const RunResult r = sb().run({"--json"}, {.uid = ALICE});
  ASSERT_EQ(r.status, 0) << r;
  EXPECT_EQ(report(r)["result"], "success");
}

TEST_F(Daemon, StoppedDaemonLeavesTheWardenAndItsFilesAlone) {
  sb().remove(PID_FILE);
  sb().install_dbadm();
  const RunResult r = sb().run({"--json", "--for-reseller", "rita"});
  ASSERT_EQ(r.status, 0) << r;
  EXPECT_FALSE(sb().exists(WARDEN_TS));
  EXPECT_EQ(sb().calls(), std::vector<std::string>{"kestrix-pnx-helper|panel-feature|KRO"});
}

}  // namespace
}  // namespace e2e
