#include "kestrix/plugins/child_guard.h"

#include "child_guard.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <functional>
#include <latch>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "kestrix/plugins/helper_runner.h"
#include "kestrix/testing/scratch_dir.h"

namespace kestrix::plugins {
namespace {

using namespace std::chrono_literals;
using testing::ScratchDir;

// Runs `body` in a forked process standing in for the program; it never
// returns into the test.
pid_t start_program(const std::function<int()>& body) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    const rlimit no_core{0, 0};  // SIGQUIT would dump one
    ::setrlimit(RLIMIT_CORE, &no_core);
    ::_exit(body());
  }
  return pid;
}

int wait_status(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return status;
}

pid_t read_pid_when_written(const std::string& file) {
  for (auto waited = 0ms; waited < 5s; waited += 10ms) {
    pid_t pid = 0;
    std::ifstream(file) >> pid;
    if (pid > 0) return pid;
    std::this_thread::sleep_for(10ms);
  }
  return -1;
}

// Orphans become our children, so a helper left behind by the program can
// be seen (and cleaned up) here instead of vanishing into pid 1.
class ChildGuard : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0); }
  void TearDown() override {
    ::prctl(PR_SET_CHILD_SUBREAPER, 0);
    while (::waitpid(-1, nullptr, WNOHANG) > 0) {
    }
  }

  // A program that runs one hanging helper; the helper's pid lands in a file.
  pid_t start_hung_run(bool guarded) {
    const auto prog = dir_.script("hang", "echo $$ > " + pidfile_ + "\nexec sleep 30");
    const pid_t program = start_program([prog, guarded] {
      if (guarded) guard_children_against_termination();
      return run_with_timeout(prog, {}, 30) ? 0 : 1;
    });
    helper_ = read_pid_when_written(pidfile_);
    return program;
  }

  // True when the helper has already been reaped by its parent; otherwise
  // it is left over, and gets killed here.
  bool helper_was_reaped() {
    if (helper_ <= 0) return false;
    const bool gone = ::waitpid(helper_, nullptr, WNOHANG) < 0 && errno == ECHILD;
    if (!gone) {
      ::kill(helper_, SIGKILL);
      ::waitpid(helper_, nullptr, 0);
    }
    return gone;
  }

  ScratchDir dir_;
  std::string pidfile_ = dir_.path("helper.pid");
  pid_t helper_ = -1;
};

TEST_F(ChildGuard, TerminationSignalsKillAndReapTheHelperThenEndTheProgramAlike) {
  for (const int sig : {SIGTERM, SIGINT, SIGHUP, SIGQUIT}) {
    SCOPED_TRACE(sig);
    ::unlink(pidfile_.c_str());
    const pid_t program = start_hung_run(true);
    ASSERT_GT(helper_, 0);
    ::kill(program, sig);
    const int status = wait_status(program);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << "status " << status;
    EXPECT_TRUE(helper_was_reaped());
  }
}

TEST_F(ChildGuard, SigkillOfTheProgramStillKillsTheHelper) {
  const pid_t program = start_hung_run(true);
  ASSERT_GT(helper_, 0);
  ::kill(program, SIGKILL);
  wait_status(program);
  // The helper is now ours: it must die of its parent-death signal.
  int status = 0;
  pid_t got = 0;
  for (auto waited = 0ms; waited < 2s && got == 0; waited += 10ms) {
    got = ::waitpid(helper_, &status, WNOHANG);
    if (got == 0) std::this_thread::sleep_for(10ms);
  }
  if (got == 0) helper_was_reaped();
  ASSERT_EQ(got, helper_) << "the helper outlived the program";
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
}

TEST_F(ChildGuard, SignalArrivingWhileTheHelperStartsIsNotLost) {
  // The helper signals its parent at once, often before the parent has
  // even finished starting it.
  const auto prog = dir_.script("early", "echo $$ > " + pidfile_ + "\nkill -TERM $PPID\nexec sleep 30");
  for (int i = 0; i < 10; ++i) {
    ::unlink(pidfile_.c_str());
    const pid_t program = start_program([prog] {
      guard_children_against_termination();
      run_with_timeout(prog, {}, 30);
      return 0;
    });
    const int status = wait_status(program);
    helper_ = read_pid_when_written(pidfile_);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << "status " << status;
    EXPECT_TRUE(helper_was_reaped());
  }
}

TEST_F(ChildGuard, WithoutARunningHelperSignalsActAsBefore) {
  // Ignored stays ignored, and the helper does not inherit a blocked mask.
  const auto prog = dir_.script("hup", "kill -HUP $PPID\nexec grep ^SigBlk /proc/self/status");
  const pid_t ignoring = start_program([prog] {
    ::signal(SIGHUP, SIG_IGN);
    guard_children_against_termination();
    auto out = run_with_timeout(prog, {}, 5);
    return out && out->stdout_bytes == "SigBlk:\t0000000000000000\n" ? 0 : 1;
  });
  const int status = wait_status(ignoring);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;

  const pid_t idle = start_program([] {
    guard_children_against_termination();
    ::raise(SIGTERM);
    return 0;
  });
  const int idle_status = wait_status(idle);
  EXPECT_TRUE(WIFSIGNALED(idle_status) && WTERMSIG(idle_status) == SIGTERM);
}

TEST_F(ChildGuard, EveryRunningHelperIsReapedBeforeTheProgramEnds) {
  const auto prog = dir_.script("hang", "echo $$ >> " + pidfile_ + "\nexec sleep 30");
  const pid_t program = start_program([prog] {
    guard_children_against_termination();
    std::vector<std::thread> calls;
    for (int i = 0; i < 3; ++i) calls.emplace_back([prog] { run_with_timeout(prog, {}, 30); });
    for (auto& call : calls) call.join();
    return 0;
  });
  std::vector<pid_t> helpers;
  for (auto waited = 0ms; waited < 5s && helpers.size() < 3; waited += 10ms) {
    std::this_thread::sleep_for(10ms);
    helpers.clear();
    std::ifstream in(pidfile_);
    for (pid_t pid = 0; in >> pid;) helpers.push_back(pid);
  }
  ASSERT_EQ(helpers.size(), 3u);
  ::kill(program, SIGTERM);
  const int status = wait_status(program);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << "status " << status;
  for (const pid_t pid : helpers) {
    helper_ = pid;
    EXPECT_TRUE(helper_was_reaped()) << pid;
  }
}

// A call short of descriptors while another runs waits for it to end; all
// others waiting too, one of them gives up, which lets the rest go on.
TEST(ChildSlot, AShortStartWaitsOnlyForCallsThatRun) {
  {
    ChildSlot alone;
    EXPECT_FALSE(alone.wait_for_another_to_end());
  }
  {
    auto running = std::make_unique<ChildSlot>();
    ChildSlot mine;
    std::thread ends([&running] { running.reset(); });
    EXPECT_TRUE(mine.wait_for_another_to_end());
    ends.join();
  }

  std::optional<ChildSlot> first;
  first.emplace();
  bool second_went_on = false;
  std::latch both_held(1);
  std::thread second([&] {
    ChildSlot slot;
    both_held.count_down();
    second_went_on = slot.wait_for_another_to_end();
  });
  both_held.wait();
  const bool first_went_on = first->wait_for_another_to_end();
  if (!first_went_on) first.reset();
  second.join();
  EXPECT_NE(first_went_on, second_went_on);
}

TEST_F(ChildGuard, AHelperShortOfDescriptorsStartsOnceAnotherEnds) {
  const auto slow = dir_.script("slow", "touch " + pidfile_ + "\nsleep 0.3\necho slow");
  const auto quick = dir_.script("quick", "echo quick");
  const pid_t program = start_program([&] {
    // Room for one helper's pipes at a time, not two.
    const int lowest_free = ::dup(0);
    ::close(lowest_free);
    const rlimit few{static_cast<rlim_t>(lowest_free + 9), static_cast<rlim_t>(lowest_free + 9)};
    if (::setrlimit(RLIMIT_NOFILE, &few) != 0) return 2;
    HelperResult<HelperOutput> first = std::unexpected(HelperError{});
    std::thread call([&] { first = run_with_timeout(slow, {}, 10); });
    while (::access(pidfile_.c_str(), F_OK) != 0) std::this_thread::sleep_for(5ms);
    const auto second = run_with_timeout(quick, {}, 10);
    call.join();
    return first && first->stdout_bytes == "slow\n" && second && second->stdout_bytes == "quick\n" ? 0 : 1;
  });
  const int status = wait_status(program);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
}

}  // namespace
}  // namespace kestrix::plugins
