// A run ended by a signal while a helper or tool runs takes that child with it.
#include <signal.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "fixtures.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;

constexpr std::string_view STANDIN_DATA = "/usr/share/kestrix3/standin/";

// Gone, or dead and only waiting for pid 1 to collect it.
bool process_gone(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  if (!stat) return true;
  std::string line;
  std::getline(stat, line);
  const auto end_of_name = line.rfind(')');
  return end_of_name != std::string::npos && line.substr(end_of_name + 1, 3) == " Z ";
}

bool gone_within(pid_t pid, std::chrono::milliseconds limit) {
  for (auto waited = 0ms; waited <= limit; waited += 20ms) {
    if (process_gone(pid)) return true;
    std::this_thread::sleep_for(20ms);
  }
  ::kill(pid, SIGKILL);  // do not leave it to the next test
  return false;
}

class Signals : public E2E {
 protected:
  // Runs the report with `tool request` hanging and sends `sig` to the
  // program once the hung child has started.
  void expect_child_ends_with_run(std::string_view tool, std::string_view request, int sig) {
    SCOPED_TRACE(::testing::Message() << tool << " " << request << ", signal " << sig);
    const std::string pidfile = std::string(STANDIN_DATA) + std::string(tool) + "." +
                                std::string(request) + ".pid";
    sb().remove(pidfile);
    sb().hang(tool, request);
    const RunResult r =
        sb().run({"--json"}, {.timeout = 10s, .signal = sig, .signal_when = {pidfile}});
    ASSERT_FALSE(r.timed_out) << r;
    EXPECT_EQ(r.signal, sig) << r;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    std::istringstream in(sb().read(pidfile));
    pid_t child = 0;
    ASSERT_TRUE(in >> child) << "no pid from the hung " << tool;
    EXPECT_TRUE(gone_within(child, 2s)) << tool << " outlived the run";
  }
};

TEST_F(Signals, HelperDiesWithTheRunWhateverEndsIt) {
  for (const int sig : {SIGTERM, SIGINT, SIGHUP, SIGKILL})
    expect_child_ends_with_run(PNX, "panel-feature", sig);
}

TEST_F(Signals, OutsideToolDiesWithTheRun) {
  sb().write(SNAPSHOT, snapshot({row(ALICE, "alice", 1)}));
  sb().install_dbadm();
  for (const int sig : {SIGTERM, SIGKILL}) expect_child_ends_with_run(DBADM, "list", sig);
}

}  // namespace
}  // namespace e2e
