// The run's calls go side by side where nothing orders them, and wait for
// one another where one needs what another answers. Stand-ins that take a
// while log when each call starts and ends; the tests compare those
// moments, never the run's own duration.
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>

#include "fixtures.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;

constexpr std::string_view STANDIN_DATA = "/usr/share/kestrix3/standin/";

struct Span {
  long long start = 0;
  long long end = 0;  // 0: never answered
};

class Overlap : public E2E {
 protected:
  void SetUp() override {
    E2E::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    sb().write(SNAPSHOT, snapshot({row(ALICE, "alice", 4), row(BOB, "bob", 3), row(RITA, "rita", 2),
                                   row(CAROL, "carol", 1)}));
    sb().install_dbadm();
    sb().data("users.tsv", "1001\talice\talice.test\trita\n1002\tbob\tbob.test\trita\n");
    sb().data("resellers.tsv", "rita\talice\nrita\tbob\n");
    sb().data("limits.tsv", "alice\t10\t20\nbob\t11\t21\nrita\t12\t22\ncarol\t13\t23\n");
  }

  // Each call as "tool request", from the times log of the last run.
  std::map<std::string, Span> spans() {
    std::map<std::string, Span> out;
    std::istringstream in(sb().read("/run/standin.times"));
    for (std::string line; std::getline(in, line);) {
      std::istringstream fields(line);
      std::string what, ns, tool, req;
      std::getline(fields, what, '|');
      std::getline(fields, ns, '|');
      std::getline(fields, tool, '|');
      std::getline(fields, req, '|');
      Span& s = out[tool + " " + req];
      (what == "start" ? s.start : s.end) = std::stoll(ns);
    }
    return out;
  }

  // Runs with every stand-in taking `delay`; the document must be the one
  // the same run prints with stand-ins that answer at once.
  std::map<std::string, Span> run_slowly(const std::vector<std::string>& args,
                                         const RunOptions& opts = {}) {
    const RunResult quick = sb().run(args, opts);
    sb().data("answer-after", "0.3");
    sb().write("/run/standin.times", "", 0666);
    const RunResult slow = sb().run(args, opts);
    sb().remove(std::string(STANDIN_DATA) + "answer-after");
    EXPECT_EQ(slow.status, 0) << slow;
    EXPECT_EQ(slow.out, quick.out);
    return spans();
  }

  static void expect_before(const std::map<std::string, Span>& s, const std::string& first,
                            const std::string& then) {
    ASSERT_TRUE(s.contains(first) && s.contains(then)) << first << " / " << then;
    EXPECT_LE(s.at(first).end, s.at(then).start) << then << " started before " << first << " ended";
  }
  static void expect_overlap(const std::map<std::string, Span>& s, const std::string& a,
                             const std::string& b) {
    ASSERT_TRUE(s.contains(a) && s.contains(b)) << a << " / " << b;
    EXPECT_LT(s.at(a).start, s.at(b).end) << a << " and " << b << " ran one after the other";
    EXPECT_LT(s.at(b).start, s.at(a).end) << a << " and " << b << " ran one after the other";
  }
};

const std::string KRO = "kestrix-pnx-helper panel-feature";
const std::string DBADM_LIST = "dbadm list";
const std::string MODE = "kestrix-ward-helper warden-mode";
const std::string LIMITS = "kestrix-ward-helper limits";
const std::string USER_INFO = "kestrix-pnx-helper user-info-sys";
const std::string ADMINS = "kestrix-pnx-helper admins";
const std::string RESELLER_USERS = "kestrix-pnx-helper reseller-users";
const std::string DBPEEK_C = "dbpeek -c";

TEST_F(Overlap, RootWaitsForTheKroCheckThenDbadmThenTheMysqlCalls) {
  const auto s = run_slowly({"--json", "--for-reseller", "rita"});
  ASSERT_EQ(s.size(), 8u);
  for (const auto& [call, span] : s) {
    if (call != KRO) expect_before(s, KRO, call);
    EXPECT_GT(span.end, 0) << call << " never answered";
  }
  expect_before(s, DBADM_LIST, DBPEEK_C);
  expect_before(s, DBADM_LIST, LIMITS);
  expect_overlap(s, DBPEEK_C, LIMITS);
  for (const auto& call : {MODE, USER_INFO, ADMINS, RESELLER_USERS})
    expect_overlap(s, DBADM_LIST, call);

  // The timestamp is touched before dbadm is asked.
  struct stat st {};
  ASSERT_EQ(::stat(sb().host_path(WARDEN_TS).c_str(), &st), 0);
  EXPECT_LE(st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec, s.at(DBADM_LIST).start);
}

TEST_F(Overlap, AnyoneElseMakesEveryCallAtOnceAfterTheKroCheck) {
  for (const auto& [who, args] :
       {std::pair{RITA, std::vector<std::string>{"--json", "--for-reseller", "rita"}},
        std::pair{ALICE, std::vector<std::string>{"--json"}}}) {
    SCOPED_TRACE(who);
    const auto s = run_slowly(args, {.uid = who});
    EXPECT_EQ(s.size(), who == RITA ? 6u : 5u);
    EXPECT_FALSE(s.contains(DBADM_LIST) || s.contains(ADMINS));
    for (const auto& [a, span_a] : s)
      for (const auto& [b, span_b] : s)
        if (a < b && a != KRO && b != KRO) expect_overlap(s, a, b);
  }
}

TEST_F(Overlap, AHungAndAFailingCallHoldUpAndSpoilNoOther) {
  sb().hang(WARD, "warden-mode");
  sb().answer(PNX, "user-info-sys", "", 1, "panel down");
  sb().data("answer-after", "0.2");
  const RunResult r = sb().run({"--json"}, {.timeout = 40s});
  ASSERT_EQ(r.status, 0) << r;
  const json doc = report(r);
  EXPECT_EQ(doc["mySqlWardMode"], "none");
  EXPECT_EQ(user(doc, "alice")["domain"], "N/A");
  EXPECT_EQ(user(doc, "alice")["limit"]["cpu"]["mysql"], 10);
  const auto s = spans();
  // Every other call was over long before the hung one's limit.
  for (const auto& call : {DBPEEK_C, LIMITS, USER_INFO, ADMINS}) {
    ASSERT_TRUE(s.contains(call)) << call;
    EXPECT_LT(s.at(call).end - s.at(MODE).start, 5'000'000'000LL) << call;
  }
}

TEST_F(Overlap, ASignalWhileSeveralCallsRunTakesThemAllAlong) {
  for (const auto& call :
       {std::pair{DBADM, "list"}, {WARD, "warden-mode"}, {PNX, "user-info-sys"}, {PNX, "admins"}})
    sb().hang(call.first, call.second);
  std::vector<std::string> pidfiles;
  for (const auto* name : {"dbadm.list", "kestrix-ward-helper.warden-mode",
                           "kestrix-pnx-helper.user-info-sys", "kestrix-pnx-helper.admins"})
    pidfiles.push_back(std::string(STANDIN_DATA) + name + ".pid");
  const RunResult r =
      sb().run({"--json"}, {.timeout = 10s, .signal = SIGTERM, .signal_when = pidfiles});
  ASSERT_FALSE(r.timed_out) << r;
  EXPECT_EQ(r.signal, SIGTERM) << r;
  EXPECT_EQ(r.out, "");
  for (const auto& file : pidfiles) {
    const pid_t child = std::stoi(sb().read(file));
    EXPECT_NE(::kill(child, 0), 0) << file << ": pid " << child << " outlived the run";
    if (::kill(child, 0) == 0) ::kill(child, SIGKILL);
  }
}

}  // namespace
}  // namespace e2e
