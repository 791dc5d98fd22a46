#include "kestrix/log.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "kestrix/testing/ci.h"

namespace kestrix::log {
namespace {

TEST(LogLevel, OnlyTheFourLowerCaseNamesSelectALevel) {
  EXPECT_EQ(parse_level("error"), Level::Error);
  EXPECT_EQ(parse_level("warn"), Level::Warn);
  EXPECT_EQ(parse_level("info"), Level::Info);
  EXPECT_EQ(parse_level("debug"), Level::Debug);
  for (const char* other : {"", "WARN", "Warn", " warn", "warn ", "warning", "trace", "off", "1"}) {
    SCOPED_TRACE(other);
    EXPECT_EQ(parse_level(other), std::nullopt);
  }
}

TEST(LogLine, IsProgramLevelTargetMessageOnOneLine) {
  EXPECT_EQ(format_line("nimbrel-top", {Level::Warn, "kestrix_core::config", "bad value"}),
            "nimbrel-top: WARN kestrix_core::config: bad value\n");
  EXPECT_EQ(format_line("p", {Level::Debug, "t", ""}), "p: DEBUG t: \n");
  EXPECT_EQ(format_line("p", {Level::Error, "t", "x"}), "p: ERROR t: x\n");
  EXPECT_EQ(format_line("p", {Level::Info, "t", "x"}), "p: INFO t: x\n");
}

TEST(LogLine, EscapesWhatCouldBreakOrForgeALine) {
  // Helper output and file contents end up in messages: a newline in them
  // must not start a second, forged log line.
  const std::string message = std::string("a\nb\r\tc\\d\x01\x7f") + '\0' + "\xc3\xa9";
  EXPECT_EQ(format_line("p", {Level::Warn, "t", message}),
            "p: WARN t: a\\nb\\r\\tc\\\\d\\x01\\x7f\\x00\xc3\xa9\n");
}

class LoggerTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(::pipe2(fds_, O_CLOEXEC | O_NONBLOCK), 0); }
  void TearDown() override {
    ::close(fds_[0]);
    if (fds_[1] >= 0) ::close(fds_[1]);
  }
  std::string drain() {
    std::string out;
    char buf[4096];
    for (ssize_t n; (n = ::read(fds_[0], buf, sizeof buf)) > 0;) out.append(buf, n);
    return out;
  }
  int fds_[2] = {-1, -1};
};

TEST_F(LoggerTest, WritesEventsAtOrAboveTheThreshold) {
  Logger logger(Level::Info, fds_[1], "prog");
  for (Level level : {Level::Trace, Level::Debug, Level::Info, Level::Warn, Level::Error})
    logger.emit({level, "t", std::string(level_name(level))});
  EXPECT_EQ(drain(), "prog: INFO t: INFO\nprog: WARN t: WARN\nprog: ERROR t: ERROR\n");
  EXPECT_FALSE(logger.enabled(Level::Debug));
  EXPECT_TRUE(logger.enabled(Level::Error));
}

TEST_F(LoggerTest, WithoutAThresholdWritesNothing) {
  Logger logger(std::nullopt, fds_[1], "prog");
  logger.emit({Level::Error, "t", "m"});
  EXPECT_EQ(drain(), "");
  EXPECT_FALSE(logger.enabled(Level::Error));
}

TEST_F(LoggerTest, TheSinkInterfaceReachesTheLogger) {
  Logger logger(Level::Warn, fds_[1], "prog");
  emit(&logger, Level::Warn, "kestrix_core::config", "Unknown log_level 'x'");
  emit(nullptr, Level::Error, "t", "dropped without a sink");
  EXPECT_EQ(drain(), "prog: WARN kestrix_core::config: Unknown log_level 'x'\n");
}

// A write that fails leaves errno as the caller had it.
TEST(LogWrite, ClosedAndFullDescriptorsAreIgnored) {
  const int closed = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  ASSERT_GE(closed, 0);
  ::close(closed);
  errno = EAGAIN;
  write_line(closed, "line\n");
  EXPECT_EQ(errno, EAGAIN);

  const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
  if (full < 0) KESTRIX_SKIP("no /dev/full");
  Logger(Level::Debug, full, "prog").emit({Level::Error, "t", "m"});
  EXPECT_EQ(errno, EAGAIN);
  ::close(full);
}

// In a child with SIGPIPE at its default action, as the program runs: a line
// to a pipe nobody reads must neither kill it nor leave a signal pending.
TEST(LogWrite, AClosedPipeRaisesNoSigpipe) {
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::signal(SIGPIPE, SIG_DFL);
    int fds[2];
    if (::pipe(fds) != 0) _exit(2);
    ::close(fds[0]);
    write_line(fds[1], "line\n");
    write_line(fds[1], "again\n");
    sigset_t pending, mask;
    sigpending(&pending);
    pthread_sigmask(SIG_SETMASK, nullptr, &mask);
    if (sigismember(&pending, SIGPIPE) || sigismember(&mask, SIGPIPE)) _exit(3);
    // A SIGPIPE that was pending before the write is not ours to take.
    sigset_t pipe_only;
    sigemptyset(&pipe_only);
    sigaddset(&pipe_only, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_only, nullptr);
    ::raise(SIGPIPE);
    write_line(fds[1], "third\n");
    sigpending(&pending);
    if (!sigismember(&pending, SIGPIPE)) _exit(4);
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace kestrix::log
