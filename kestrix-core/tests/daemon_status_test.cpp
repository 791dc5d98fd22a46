#include "kestrix/core/daemon_status.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>

#include "kestrix/testing/ci.h"
#include "kestrix/testing/scratch_dir.h"

namespace kestrix::core {
namespace {

constexpr uid_t NOBODY = 65534;

// Runs `check` without root's privileges: in a child that becomes an
// unprivileged user when we are root, directly otherwise.
template <class Check>
bool unprivileged(Check check) {
  if (::geteuid() != 0) return check();
  const pid_t pid = ::fork();
  if (pid == 0) {
    const bool dropped =
        ::setgroups(0, nullptr) == 0 && ::setgid(NOBODY) == 0 && ::setuid(NOBODY) == 0;
    ::_exit(dropped && check() ? 0 : 1);
  }
  int status = 0;
  return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
         WEXITSTATUS(status) == 0;
}

class DaemonStatusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::chmod(dir_.c_str(), 0755);  // the unprivileged checks read the pid file too
    path_ = dir_ + "/kestrix.pid";
  }
  void TearDown() override {
    stop_child();
  }

  DaemonStatus status_of(const std::string& content) {
    std::ofstream(path_, std::ios::binary | std::ios::trunc) << content;
    return daemon_status(path_);
  }

  pid_t start_child() {
    child_ = ::fork();
    if (child_ == 0) {
      for (;;) ::pause();
    }
    return child_;
  }

  void stop_child() {
    if (child_ <= 0) return;
    ::kill(child_, SIGKILL);
    ::waitpid(child_, nullptr, 0);
    child_ = -1;
  }

  testing::ScratchDir scratch_;
  std::string dir_ = scratch_.root().string();
  std::string path_;
  pid_t child_ = -1;
};

TEST_F(DaemonStatusTest, UnreadableFileMeansStopped) {
  EXPECT_EQ(daemon_status(path_), DaemonStatus::Stopped);  // missing
  EXPECT_EQ(daemon_status(dir_), DaemonStatus::Stopped);   // a directory
  EXPECT_EQ(status_of(std::to_string(::getpid()) + "\xFF"), DaemonStatus::Stopped);
}

TEST_F(DaemonStatusTest, PermissionDeniedMeansStopped) {
  status_of(std::to_string(::getpid()));
  ASSERT_EQ(::chmod(path_.c_str(), 0), 0);
  const std::string path = path_;
  EXPECT_TRUE(unprivileged([&] { return daemon_status(path) == DaemonStatus::Stopped; }));
}

TEST_F(DaemonStatusTest, GarbledFileMeansDeadButLocked) {
  for (const char* content : {"", " \n", "abc", "0", "-0", "-5", "+-1", "12abc", "2147483648",
                              "99999999999", "1 2", "1\n2\n", "0x10", "1.0"}) {
    EXPECT_EQ(status_of(content), DaemonStatus::DeadButLocked) << '"' << content << '"';
  }
}

TEST_F(DaemonStatusTest, LiveChildRunsAndReapedChildIsDead) {
  const pid_t pid = start_child();
  ASSERT_GT(pid, 0);
  const std::string id = std::to_string(pid);
  EXPECT_EQ(status_of(id + "\n"), DaemonStatus::Running);
  EXPECT_EQ(status_of(" \t+" + id + "\r\n\n"), DaemonStatus::Running);
  EXPECT_EQ(status_of("\xC2\xA0" + id + "\xE2\x80\xA8"), DaemonStatus::Running);

  stop_child();
  EXPECT_EQ(status_of(id + "\n"), DaemonStatus::DeadButLocked);
}

TEST_F(DaemonStatusTest, ProcessOfAnotherUserCountsAsRunning) {
  // kill() fails with EPERM for a process that exists but is not ours. As
  // root, look at this (root-owned) process from an unprivileged child;
  // otherwise process 1 usually belongs to someone else.
  if (::geteuid() == 0) {
    status_of(std::to_string(::getpid()));
    ::chmod(path_.c_str(), 0644);
    const std::string path = path_;
    EXPECT_TRUE(unprivileged([&] {
      return ::kill(::getppid(), 0) != 0 && errno == EPERM &&
             daemon_status(path) == DaemonStatus::Running;
    }));
    return;
  }
  if (::kill(1, 0) == 0 || errno != EPERM) KESTRIX_SKIP("process 1 is ours to signal");
  EXPECT_EQ(status_of("1\n"), DaemonStatus::Running);
}

TEST(DaemonStatusTextTest, TextsForTheReport) {
  EXPECT_EQ(daemon_status_text(DaemonStatus::Stopped), "Kestrix is stopped");
  EXPECT_EQ(daemon_status_text(DaemonStatus::DeadButLocked), "Kestrix is dead but subsys locked");
  EXPECT_EQ(daemon_status_text(DaemonStatus::Running), "");
}

}  // namespace
}  // namespace kestrix::core
