#include "kestrix/plugins/helper_runner.h"

#include <dirent.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "kestrix/sanitizers.h"
#include "kestrix/testing/scratch_dir.h"

namespace kestrix::plugins {
namespace {

using testing::ScratchDir;
using Clock = std::chrono::steady_clock;

std::set<std::string> open_descriptors() {
  std::set<std::string> fds;
  if (DIR* d = ::opendir("/proc/self/fd")) {
    while (const dirent* e = ::readdir(d))
      if (e->d_name[0] != '.') fds.insert(e->d_name);
    ::closedir(d);
  }
  return fds;
}

// Every child of the test process has been reaped.
bool no_children_left() {
  int status = 0;
  return ::waitpid(-1, &status, WNOHANG) < 0 && errno == ECHILD;
}

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

class HelperRunner : public ::testing::Test {
 protected:
  void SetUp() override { fds_before_ = open_descriptors(); }
  void TearDown() override {
    // The set taken now also holds the descriptor listing itself, like before.
    EXPECT_EQ(open_descriptors(), fds_before_) << "a descriptor leaked";
    EXPECT_TRUE(no_children_left()) << "a child was not reaped";
  }
  ScratchDir dir_;
  std::set<std::string> fds_before_;
};

TEST_F(HelperRunner, CollectsBothStreamsArgumentsAndStatus) {
  const auto prog = dir_.script("echo", R"(printf '%s|' "$@"; printf 'warn' >&2; exit 0)");
  auto out = run_with_timeout(prog, {"a b", "", "-c", "$HOME"}, 5);
  ASSERT_TRUE(out) << out.error().message();
  EXPECT_EQ(out->stdout_bytes, "a b||-c|$HOME|");
  EXPECT_EQ(out->stderr_bytes, "warn");
  EXPECT_EQ(out->status, 0);
}

TEST_F(HelperRunner, SilentSuccessGivesEmptyText) {
  const auto prog = dir_.script("quiet", "exit 0");
  auto text = run_helper(prog, {}, 5);
  ASSERT_TRUE(text) << text.error().message();
  EXPECT_EQ(*text, "");
}

// An answer larger than memory fails the run with a message of its own;
// it neither ends the process nor passes for an empty answer.
TEST_F(HelperRunner, AnAnswerTooLargeToHoldFailsTheRun) {
  if (KESTRIX_SANITIZED) GTEST_SKIP() << "sanitizers reserve more address space than the limit allows";
  const auto prog = dir_.script("flood", "head -c 2000000000 /dev/zero");
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    const rlimit limit{256 << 20, 256 << 20};
    if (::setrlimit(RLIMIT_AS, &limit) != 0) ::_exit(2);
    auto text = run_helper(prog, {}, 30);
    const std::string want = prog + " wrote more output than memory can hold";
    if (!text && text.error().message() == want) ::_exit(0);
    std::fprintf(stderr, "got: %s\n", text ? "an answer" : text.error().message().c_str());
    ::_exit(1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "wait status " << status;
}

TEST_F(HelperRunner, OutputIsReturnedUntrimmed) {
  const auto prog = dir_.script("spaced", R"(printf '  true\n\n')");
  EXPECT_EQ(run_helper(prog, {}, 5).value(), "  true\n\n");
}

TEST_F(HelperRunner, FailureReportsStatusAndTrimmedStderr) {
  const auto prog = dir_.script("fail3", R"(printf ' \t\302\240word \n' >&2; exit 3)");
  auto text = run_helper(prog, {}, 5);
  ASSERT_FALSE(text);
  EXPECT_EQ(text.error().message(), prog + " exited with exit status: 3: word");
}

TEST_F(HelperRunner, FailureWithoutStderrEndsWithColon) {
  const auto prog = dir_.script("fail1", "exit 1");
  EXPECT_EQ(run_helper(prog, {}, 5).error().message(), prog + " exited with exit status: 1: ");
}

TEST_F(HelperRunner, StderrExcerptIsCutAfterTrimmingAndKeepsCharactersWhole) {
  // Blanks first, then 499 'x' and a two-byte character straddling byte 500.
  const auto prog = dir_.script(
      "long", R"(printf '   '; i=0; while [ $i -lt 499 ]; do printf x; i=$((i+1)); done
printf '\303\251tail\n'; exit 2)");
  const auto redirected = dir_.script("long2", "exec " + prog + " >&2");
  auto text = run_helper(redirected, {}, 5);
  ASSERT_FALSE(text);
  EXPECT_EQ(text.error().message(),
            redirected + " exited with exit status: 2: " + std::string(499, 'x'));
}

TEST_F(HelperRunner, InvalidStderrIsReplacedNotRejected) {
  const auto prog = dir_.script("badstderr", R"(printf 'a\377b' >&2; exit 4)");
  EXPECT_EQ(run_helper(prog, {}, 5).error().message(),
            prog + " exited with exit status: 4: a\xEF\xBF\xBD" "b");
}

TEST_F(HelperRunner, DeathBySignalIsNamed) {
  const auto prog = dir_.script("killed", R"(echo dying >&2; kill -9 $$)");
  EXPECT_EQ(run_helper(prog, {}, 5).error().message(),
            prog + " exited with signal: 9 (SIGKILL): dying");
}

TEST_F(HelperRunner, InvalidUtf8OutputIsRefusedWithItsPosition) {
  const auto prog = dir_.script("latin1", R"(printf 'abcdefg\377')");
  EXPECT_EQ(run_helper(prog, {}, 5).error().message(),
            "helper output is not valid UTF-8: invalid utf-8 sequence of 1 bytes from index 7");
}

TEST_F(HelperRunner, MissingProgramCannotBeSpawned) {
  const std::string prog = dir_.path("absent");
  EXPECT_EQ(run_with_timeout(prog, {}, 5).error().message(),
            "failed to spawn " + prog + ": No such file or directory (os error 2)");
}

TEST_F(HelperRunner, NonExecutableProgramCannotBeSpawned) {
  const std::string prog = dir_.path("plain");
  std::ofstream(prog) << "#!/bin/sh\n";
  EXPECT_EQ(run_with_timeout(prog, {}, 5).error().message(),
            "failed to spawn " + prog + ": Permission denied (os error 13)");
}

TEST_F(HelperRunner, ExecFailureIsReportedWithTheSystemText) {
  // Neither a script nor a binary: the exec itself fails, after the fork.
  const std::string prog = dir_.path("garbage");
  std::ofstream(prog) << "\x7f" "ELF not really\n";
  ::chmod(prog.c_str(), 0755);
  EXPECT_EQ(run_with_timeout(prog, {}, 5).error().message(),
            "failed to spawn " + prog + ": Exec format error (os error 8)");
}

TEST_F(HelperRunner, ProgramIsNotLookedUpInPath) {
  EXPECT_EQ(run_with_timeout("sh", {"-c", "exit 0"}, 5).error().message(),
            "failed to spawn sh: No such file or directory (os error 2)");
}

// Callers branch on the kind and show the detail without the program.
TEST_F(HelperRunner, FailuresKeepKindProgramAndDetailApart) {
  using Kind = HelperError::Kind;
  const std::string absent = dir_.path("absent");
  const auto fail3 = dir_.script("fail3", "echo ' word ' >&2; exit 3");
  const auto latin1 = dir_.script("latin1", R"(printf 'ab\377')");
  const auto hang = dir_.script("hang", "exec sleep 30");
  const struct {
    HelperResult<std::string> got;
    Kind kind;
    std::string program;
    std::string detail;
    int status;
  } cases[] = {
      {run_helper(absent, {}, 5), Kind::Spawn, absent, "No such file or directory (os error 2)", 0},
      {run_helper(fail3, {}, 5), Kind::Exited, fail3, "word", 3 << 8},
      {run_helper(latin1, {}, 5), Kind::NotUtf8, latin1,
       "invalid utf-8 sequence of 1 bytes from index 2", 0},
      {run_helper(hang, {}, 0), Kind::TimedOut, hang, "0", 0},
  };
  for (const auto& c : cases) {
    ASSERT_FALSE(c.got) << c.program;
    EXPECT_EQ(c.got.error().kind, c.kind) << c.program;
    EXPECT_EQ(c.got.error().program, c.program);
    EXPECT_EQ(c.got.error().detail, c.detail) << c.program;
    EXPECT_EQ(c.got.error().status, c.status) << c.program;
  }
}

// The failures no test can provoke on demand still read as they always have.
TEST(HelperErrorMessage, TextsOfTheRareFailures) {
  using Kind = HelperError::Kind;
  const std::string os = "Resource temporarily unavailable (os error 11)";
  EXPECT_EQ((HelperError{Kind::Thread, "/h", os}).message(), "failed to spawn thread: " + os);
  EXPECT_EQ((HelperError{Kind::Wait, "/h", os}).message(), "failed to wait for helper: " + os);
  EXPECT_EQ((HelperError{Kind::OutOfMemory, "/h", ""}).message(),
            "/h could not be run: out of memory");
  EXPECT_EQ((HelperError{Kind::Exited, "/h", "", 9}).to_error().message,
            "/h exited with signal: 9 (SIGKILL): ");
}

TEST_F(HelperRunner, EmptyStdinReadsEndOfFile) {
  const auto prog = dir_.script("cat", "exec cat");
  EXPECT_EQ(run_helper(prog, {}, 5, Stdin::Empty).value(), "");
}

// Timed against references in the same run, not against the machine's
// speed: the helper's own 5 s, and the limits against each other.
TEST_F(HelperRunner, HangingHelperIsKilledAtTheLimit) {
  const auto prog = dir_.script("hang", "exec sleep 5");
  double took[2];
  for (int limit : {0, 1}) {
    const auto start = Clock::now();
    auto out = run_with_timeout(prog, {}, limit);
    took[limit] = seconds_since(start);
    ASSERT_FALSE(out);
    EXPECT_EQ(out.error().message(), prog + " timed out after " + std::to_string(limit) + "s");
  }
  EXPECT_GE(took[1], 1.0);
  EXPECT_LT(took[1], 5.0);
  EXPECT_LT(took[0], took[1] - 0.5) << "a zero limit kills at the first look";
}

TEST_F(HelperRunner, TimeOutIsNotHeldUpByAGrandchildOnThePipes) {
  // The shell is killed, its sleeping child keeps both pipes open.
  const auto prog = dir_.script("hangtree", "sleep 5; echo done");
  const auto start = Clock::now();
  EXPECT_EQ(run_with_timeout(prog, {}, 1).error().message(), prog + " timed out after 1s");
  EXPECT_LT(seconds_since(start), 5.0);
}

TEST_F(HelperRunner, BackgroundChildHoldingThePipesIsWaitedForBriefly) {
  const auto pidfile = dir_.path("bg.pid");
  const auto prog =
      dir_.script("daemon", "sleep 5 & echo $! > " + pidfile + "\nprintf answer; printf note >&2");
  const auto start = Clock::now();
  auto out = run_with_timeout(prog, {}, 10);
  const double took = seconds_since(start);
  pid_t bg = 0;
  std::ifstream(pidfile) >> bg;
  if (bg > 0) ::kill(bg, SIGKILL);
  ASSERT_TRUE(out) << out.error().message();
  EXPECT_EQ(out->stdout_bytes, "answer");
  EXPECT_EQ(out->stderr_bytes, "note");
  EXPECT_GE(took, 0.9);
  EXPECT_LT(took, 5.0);
}

using HelperLatency = HelperRunner;  // labelled slow: it holds only at full speed
TEST_F(HelperLatency, QuickHelperIsNotHeldToThePollInterval) {
  const auto prog = dir_.script("fast", "exit 0");
  const auto start = Clock::now();
  for (int i = 0; i < 10; ++i) ASSERT_TRUE(run_with_timeout(prog, {}, 5));
  // Ten blind 50 ms sleeps alone would take half a second.
  EXPECT_LT(seconds_since(start), 0.4);
}

TEST_F(HelperRunner, FloodOnBothStreamsIsReadWhole) {
  const auto prog = dir_.script("flood", R"(head -c 3000000 /dev/zero | tr '\0' e >&2 &
head -c 5000000 /dev/zero | tr '\0' o
wait)");
  auto out = run_with_timeout(prog, {}, 20);
  ASSERT_TRUE(out) << out.error().message();
  EXPECT_EQ(out->stdout_bytes, std::string(5000000, 'o'));
  EXPECT_EQ(out->stderr_bytes, std::string(3000000, 'e'));
}

// Numbered lines, so that a piece stored at the wrong offset, twice or not
// at all shows; 2,000,000 lines are about 15 MB, many pipes' worth.
TEST_F(HelperRunner, LargeAnswerArrivesWholeAndInOrder) {
  const auto prog = dir_.script("count", "exec seq 1 2000000");
  std::string want;
  for (int i = 1; i <= 2000000; ++i) (want += std::to_string(i)) += '\n';
  auto text = run_helper(prog, {}, 20);
  ASSERT_TRUE(text) << text.error().message();
  ASSERT_EQ(text->size(), want.size());
  EXPECT_TRUE(*text == want);
}

// What the helper writes into is the widened pipe (as root, or within the
// user's pipe quota, the kernel grants it).
TEST_F(HelperRunner, HelperWritesIntoAWidePipe) {
  const auto prog = dir_.script(
      "pipesize", "exec /usr/bin/python3 -c 'import fcntl; print(fcntl.fcntl(1, 1032))'");
  auto out = run_helper(prog, {}, 20);
  ASSERT_TRUE(out) << out.error().message();
  EXPECT_EQ(*out, "1048576\n");
}

TEST(StatusText, NamesExitsAndSignals) {
  EXPECT_EQ(status_text(3 << 8), "exit status: 3");
  EXPECT_EQ(status_text(0), "exit status: 0");
  EXPECT_EQ(status_text(SIGKILL), "signal: 9 (SIGKILL)");
  EXPECT_EQ(status_text(SIGSEGV | 0x80), "signal: 11 (SIGSEGV) (core dumped)");
  EXPECT_EQ(status_text(16), "signal: 16 (SIGSTKFLT)");
  EXPECT_EQ(status_text(31), "signal: 31 (SIGSYS)");
  EXPECT_EQ(status_text(SIGRTMIN), "signal: " + std::to_string(SIGRTMIN));
}

}  // namespace
}  // namespace kestrix::plugins
