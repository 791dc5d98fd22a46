// The sandbox itself: fixtures appear at the real paths, callers are who the
// test says, and the host is left exactly as it was.
#include <fstream>
#include <sstream>

#include "fixtures.h"

namespace e2e {
namespace {

std::string mount_table() {
  std::ifstream in("/proc/self/mountinfo");
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

using Harness = E2E;

TEST_F(Harness, FixturesAppearAtTheRealPaths) {
  sb().write(SNAPSHOT, "{}");
  const RunResult r = sb().exec({"/bin/sh", "-c",
                                 "cat /var/kro/nimbrel_top.json; echo; cat /var/run/kestrix.pid; "
                                 "id -un 1003; test -x /usr/sbin/dbpeek && echo dbpeek; "
                                 "test -e /usr/sbin/dbadm || echo no-dbadm; "
                                 "/usr/share/kestrix3/scripts/kestrix-pnx-helper panel-feature KRO"});
  ASSERT_EQ(r.status, 0) << r;
  EXPECT_EQ(r.out, "{}\n" + std::to_string(getpid()) + "\nrita\ndbpeek\nno-dbadm\ntrue\n");
  EXPECT_EQ(sb().calls(), std::vector<std::string>{"kestrix-pnx-helper|panel-feature|KRO"});
}

TEST_F(Harness, CallerIdentityIsWhatTheTestAsksFor) {
  const struct {
    RunOptions opts;
    std::string expected;  // uid, then the uid_map's first line squeezed
  } cases[] = {
      {{}, "0 0 0 4294967295"},
      {{.uid = ALICE}, "1001 0 0 4294967295"},
      {{.userns = true}, "0 0 0 1"},
      {{.uid = ALICE, .userns = true}, "0 0 1001 1"},
      {{.proc = Proc::Tmpfs}, "0 0 0 4294967295"},
  };
  for (const auto& c : cases) {
    const RunResult r = sb().exec({"/bin/sh", "-c", "echo $(id -u) $(cat /proc/self/uid_map)"}, c.opts);
    EXPECT_EQ(r.out, c.expected + "\n") << r;
  }
  const RunResult fake = sb().exec({"/bin/sh", "-c", "stat -f -c %T /proc"}, {.proc = Proc::Tmpfs});
  EXPECT_EQ(fake.out, "tmpfs\n") << fake;
}

TEST_F(Harness, HostIsLeftAsItWas) {
  const std::string before = mount_table();
  sb().write(SNAPSHOT, "{}");
  sb().install_dbadm();
  sb().run({"--json"}, {.proc = Proc::Foreign, .ro_kro = true});
  sb().run({"--json"}, {.uid = RITA, .proc = Proc::Tmpfs});
  sb().exec({"/bin/sh", "-c", "touch /var/kro/x /etc/x /run/x /usr/sbin/x /usr/share/x"});
  EXPECT_EQ(mount_table(), before);
  for (const char* path : {"/var/kro", "/usr/share/kestrix3", "/etc/sysconfig", "/etc/x", "/run/x", "/usr/sbin/x",
                           "/usr/share/x", "/usr/sbin/dbadm"}) {
    struct stat st;
    EXPECT_NE(::lstat(path, &st), 0) << path << " appeared on the host";
  }
  EXPECT_TRUE(sb().exists("/var/kro/x"));
}

TEST_F(Harness, RunsAreBoundedInTime) {
  const RunResult r = sb().exec({"/bin/sleep", "30"}, {.timeout = std::chrono::seconds(1)});
  EXPECT_TRUE(r.timed_out);
  EXPECT_EQ(r.signal, SIGKILL);
}

}  // namespace
}  // namespace e2e
