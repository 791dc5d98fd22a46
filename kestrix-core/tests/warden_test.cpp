#include "kestrix/core/warden.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <ctime>

#include <gtest/gtest.h>

#include "kestrix/core/user_namespace.h"
#include "kestrix/error.h"
#include "kestrix/testing/scratch_dir.h"

namespace kestrix::core {
namespace {

using std::chrono::seconds;
using std::chrono::steady_clock;

// --- timestamp file -----------------------------------------------------

struct stat stat_of(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
  return st;
}

void set_old_times(const std::string& path) {
  const timespec old[2] = {{1000, 0}, {1000, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), old, AT_SYMLINK_NOFOLLOW), 0);
}

TEST(TouchWardenTimestamp, CreatesFileWithModeReducedByUmask) {
  testing::ScratchDir dir;
  const mode_t saved = ::umask(027);
  touch_warden_timestamp(dir.path("warden.ts"));
  ::umask(saved);
  const auto st = stat_of(dir.path("warden.ts"));
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(st.st_size, 0);
}

TEST(TouchWardenTimestamp, SetsTimesToNowWithoutTruncating) {
  testing::ScratchDir dir;
  const std::string ts = dir.write("warden.ts", "keep");
  set_old_times(ts);
  const std::time_t before = std::time(nullptr);
  touch_warden_timestamp(ts);
  const auto st = stat_of(ts);
  EXPECT_GE(st.st_mtim.tv_sec, before);
  EXPECT_GE(st.st_atim.tv_sec, before);
  EXPECT_EQ(st.st_size, 4);
}

TEST(TouchWardenTimestamp, PlantedSymlinkIsNotFollowed) {
  testing::ScratchDir dir;
  // A dangling link must not create its target...
  ASSERT_EQ(::symlink(dir.path("elsewhere").c_str(), dir.path("warden.ts").c_str()), 0);
  touch_warden_timestamp(dir.path("warden.ts"));
  EXPECT_NE(::access(dir.path("elsewhere").c_str(), F_OK), 0);

  // ...and a link to an existing file must not touch it.
  const std::string victim = dir.write("victim", "data");
  set_old_times(victim);
  ASSERT_EQ(::symlink(victim.c_str(), dir.path("link.ts").c_str()), 0);
  touch_warden_timestamp(dir.path("link.ts"));
  EXPECT_EQ(stat_of(victim).st_mtim.tv_sec, 1000);
}

TEST(TouchWardenTimestamp, PlantedFifoDoesNotHang) {
  testing::ScratchDir dir;
  ASSERT_EQ(::mkfifo(dir.path("warden.ts").c_str(), 0666), 0);
  set_old_times(dir.path("warden.ts"));
  touch_warden_timestamp(dir.path("warden.ts"));  // a hang here fails the test by time-out
  const auto st = stat_of(dir.path("warden.ts"));
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  EXPECT_EQ(st.st_mtim.tv_sec, 1000);
}

TEST(TouchWardenTimestamp, UnwritablePlacesAreIgnored) {
  testing::ScratchDir dir;
  touch_warden_timestamp(dir.path("missing/warden.ts"));
  touch_warden_timestamp(dir.root().string());  // a directory at the path
  EXPECT_NE(::access(dir.path("missing").c_str(), F_OK), 0);

  // A read-only directory; root would write there anyway, so the touch is
  // made by an unprivileged child.
  ASSERT_EQ(::chmod(dir.root().c_str(), 0555), 0);
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (::getuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(2);
    touch_warden_timestamp(dir.path("warden.ts"));
    ::_exit(::access(dir.path("warden.ts").c_str(), F_OK) == 0 ? 1 : 0);
  }
  int status = -1;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_EQ(status, 0);
}

// --- service status ------------------------------------------------------

void expect_enabled(const WardenStatus& s) {
  EXPECT_EQ(s.state, "enabled");
  EXPECT_FALSE(s.message);
  EXPECT_FALSE(s.context);
}

void expect_dbadm_error(const WardenStatus& s, const std::string& output) {
  EXPECT_EQ(s.state, "error");
  EXPECT_EQ(s.message, "dbadm error: %(output)s");
  ASSERT_TRUE(s.context);
  EXPECT_EQ(*s.context, nlohmann::json({{"output", output}}));
}

TEST(RunDbadmList, CleanExitMeansEnabled) {
  testing::ScratchDir dir;
  // Asked for "list" only, with nothing on standard input.
  expect_enabled(run_dbadm_list(
      dir.script("dbadm", "[ \"$*\" = list ] || exit 3\nread x && exit 4\necho 'user limits'")));
}

TEST(RunDbadmList, SocketTextMeansServiceDown) {
  testing::ScratchDir dir;
  for (const char* exit_code : {"0", "1"}) {
    const auto s = run_dbadm_list(dir.script(
        std::string("dbadm") + exit_code,
        std::string("echo \"error: can't connect to socket /run/x\"\nexit ") + exit_code));
    EXPECT_EQ(s.state, "error");
    EXPECT_EQ(s.message,
              "%(util)s is disabled in the system. Please, run \"%(command)s\" to start the "
              "service");
    EXPECT_EQ(s.context, nlohmann::json({{"util", "MySQL warden"},
                                         {"command", "service db_warden restart"}}));
  }
}

TEST(RunDbadmList, OtherFailuresCarryTrimmedStderr) {
  testing::ScratchDir dir;
  expect_dbadm_error(run_dbadm_list(dir.script("warns", "echo '  low memory \t' >&2")),
                     "low memory");
  expect_dbadm_error(run_dbadm_list(dir.script("silent", "exit 2")), "");
  expect_dbadm_error(run_dbadm_list(dir.script("latin1", "printf 'caf\\351\\n' >&2; exit 1")),
                     "caf\xEF\xBF\xBD");
}

TEST(RunDbadmList, UnstartableToolGivesSystemErrorText) {
  testing::ScratchDir dir;
  const auto s = run_dbadm_list(dir.write("dbadm", "#!/bin/sh\nexit 0\n", 0644));
  EXPECT_EQ(s.state, "error");
  EXPECT_EQ(s.message, os_error_text(EACCES));
  EXPECT_FALSE(s.context);
}

TEST(RunDbadmList, HungToolIsAnError) {
  testing::ScratchDir dir;
  const auto start = steady_clock::now();
  const auto dbadm = dir.script("dbadm", "exec sleep 30");
  const auto s = run_dbadm_list(dbadm, 1);
  EXPECT_LT(steady_clock::now() - start, seconds(10));
  EXPECT_EQ(s.state, "error");
  // Only a tool that never started loses the runner's framing.
  EXPECT_EQ(s.message, dbadm + " timed out after 1s");
  EXPECT_FALSE(s.context);
}

TEST(QueryWardenStatus, NoRegularFileMeansDisabled) {
  testing::ScratchDir dir;
  ::mkdir(dir.path("dir").c_str(), 0755);
  ASSERT_EQ(::symlink(dir.path("absent").c_str(), dir.path("dangling").c_str()), 0);
  for (const char* name : {"absent", "dir", "dangling"}) {
    const auto s = query_warden_status(dir.path(name));
    EXPECT_EQ(s.state, "disabled") << name;
    EXPECT_FALSE(s.message) << name;
  }
}

TEST(QueryWardenStatus, OnlyRootInInitialNamespaceRunsTheTool) {
  testing::ScratchDir dir;
  const std::string marker = dir.path("ran");
  dir.script("dbadm", "touch '" + marker + "'");
  ASSERT_EQ(::symlink(dir.path("dbadm").c_str(), dir.path("link").c_str()), 0);
  expect_enabled(query_warden_status(dir.path("link")));  // links are followed
  const bool privileged = ::getuid() == 0 && check_initial_user_namespace();
  EXPECT_EQ(::access(marker.c_str(), F_OK) == 0, privileged);
}

// --- mode ------------------------------------------------------------------

TEST(QueryWardenMode, PlainOrJsonStringAnswer) {
  testing::ScratchDir dir;
  const struct {
    const char* body;
    const char* mode;
  } cases[] = {
      {"echo all", "all"},
      {"printf '  \"all\"\\n'", "all"},
      {"printf '\"a\\\\u0062\\\\n\"'", "ab\n"},
      {"printf '\"all\" x'", "\"all\" x"},
      {"printf '\"all'", "\"all"},
      {"printf '\"a\" \"b\"'", "\"a\" \"b\""},
      {"true", ""},
      {"printf 'caf\\351'", "caf\xEF\xBF\xBD"},
      {"echo all; exit 1", "none"},
      {"[ \"$*\" = warden-mode ] || exit 3\nread x && exit 4\necho ok", "ok"},
  };
  int n = 0;
  for (const auto& c : cases)
    EXPECT_EQ(query_warden_mode(dir.script("helper" + std::to_string(n++), c.body)), c.mode)
        << c.body;
  EXPECT_EQ(query_warden_mode(dir.path("absent")), "none");
}

TEST(QueryWardenMode, HungHelperGivesNone) {
  testing::ScratchDir dir;
  const auto start = steady_clock::now();
  EXPECT_EQ(query_warden_mode(dir.script("helper", "echo all; exec sleep 30"), 1), "none");
  EXPECT_LT(steady_clock::now() - start, seconds(10));
}

}  // namespace
}  // namespace kestrix::core
