// Inputs too large for memory, at the real paths: each file counts as
// unreadable with its own outcome, and a run short of memory ends with the
// fatal-error report, never with an abort.
#include <unistd.h>

#include <string>

#include "fixtures.h"

namespace e2e {
namespace {

class Hostile : public E2E {
 protected:
  // A file claiming `bytes` without taking the space.
  void sparse(std::string_view path, off_t bytes) {
    sb().write(path, "");
    ASSERT_EQ(::truncate(sb().host_path(path).c_str(), bytes), 0);
  }
  RunResult run_limited(const std::vector<std::string>& args) {
    std::vector<std::string> argv{"/usr/bin/prlimit", "--as=300000000", NIMBREL_TOP_BIN};
    argv.insert(argv.end(), args.begin(), args.end());
    return sb().exec(argv);
  }
};

constexpr off_t HUNDRED_GIB = off_t{100} << 30;

TEST_F(Hostile, ASparseSnapshotReadsAsNoSnapshot) {
  sparse(SNAPSHOT, HUNDRED_GIB);
  const double before = now_seconds();
  const RunResult r = sb().run({"--json"});
  ASSERT_EQ(r.status, 0) << r;
  EXPECT_EQ(r.err, "");
  const json doc = report(r);
  EXPECT_EQ(doc["users"], json::array());
  EXPECT_CURRENT_SECOND(doc, before, now_seconds());
}

TEST_F(Hostile, ASparsePidFileMeansStopped) {
  sparse(PID_FILE, HUNDRED_GIB);
  const RunResult r = sb().run({"--json"});
  ASSERT_EQ(r.status, 0) << r;
  EXPECT_EQ(report(r)["result"], "Kestrix is stopped");
}

// Rows above UID_MAX are hidden by default: a sparse login.defs gives the
// default UID_MAX, a sparse configuration the default switch.
TEST_F(Hostile, SparseLoginDefsAndConfigurationMeanTheDefaults) {
  sb().write(SNAPSHOT, snapshot({row(60001, "above", 2), row(60000, "edge", 1)}));
  sb().write(CONFIG, "hide_kro_more_than_maxuid = no\n");
  sparse(LOGIN_DEFS, HUNDRED_GIB);
  RunResult r = sb().run({"--json"});
  ASSERT_EQ(r.status, 0) << r;
  EXPECT_EQ(usernames(report(r)), (std::vector<std::string>{"above", "edge"}));

  sparse(CONFIG, HUNDRED_GIB);
  r = sb().run({"--json"});
  ASSERT_EQ(r.status, 0) << r;
  EXPECT_EQ(usernames(report(r)), (std::vector<std::string>{"edge"}));
}

// Short of address space, a snapshot too large to read is no snapshot.
TEST_F(Hostile, ASnapshotThatDoesNotFitInMemoryReadsAsNoSnapshot) {
  sparse(SNAPSHOT, 400'000'000);
  const RunResult r = run_limited({"--json"});
  ASSERT_EQ(r.status, 0) << r;
  EXPECT_EQ(report(r)["users"], json::array());
}

// A small text that decodes into far more memory than allowed: every
// empty list among the resellers becomes a value of its own.
TEST_F(Hostile, RunningOutOfMemoryWhileDecodingIsAFatalError) {
  std::string text = R"({"timestamp": 1, "users": [], "resellers": [)";
  for (int i = 0; i < 10'000'000; ++i) text += "[],";
  text += "[]]}";
  sb().write(SNAPSHOT, text);
  const RunResult r = run_limited({"--json"});
  EXPECT_EQ(r.signal, 0) << r;
  EXPECT_EQ(r.status, 1) << r;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "Error: out of memory\n");
}

}  // namespace
}  // namespace e2e
