// The KRO gate runs before everything else, the command line included.
#include "fixtures.h"

namespace e2e {
namespace {

constexpr std::string_view NOTICE_FIRST_LINE =
    "Command is skipped as KRO feature is not supported in current environment\n";

void expect_notice(const RunResult& r) {
  EXPECT_EQ(r.status, 0) << r;
  EXPECT_EQ(r.err, "");
  ASSERT_EQ(r.out.substr(0, NOTICE_FIRST_LINE.size()), NOTICE_FIRST_LINE) << r.out;
  const std::string second = r.out.substr(NOTICE_FIRST_LINE.size());
  EXPECT_TRUE(second.starts_with("Refer to ")) << second;
  EXPECT_TRUE(second.ends_with(" for more info\n")) << second;
  EXPECT_EQ(std::count(second.begin(), second.end(), '\n'), 1) << second;
}

using KroGate = E2E;

TEST_F(KroGate, OnlyATrimmedLowerCaseTrueLetsTheRunGoOn) {
  sb().write(SNAPSHOT, snapshot({row(ALICE, "alice", 1)}));
  const struct {
    std::string answer;
    int rc;
    bool supported;
  } cases[] = {
      {"true\n", 0, true},      {" true \n", 0, true}, {"\ttrue\r\n", 0, true}, {"TRUE\n", 0, false},
      {"false\n", 0, false},    {"", 0, false},        {"true yes\n", 0, false}, {"true\n", 1, false},
      {"\"true\"\n", 0, false}, {"tru\xff\n", 0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("[" + c.answer + "] exit " + std::to_string(c.rc));
    sb().answer(PNX, "panel-feature", c.answer, c.rc);
    const RunResult r = sb().run({"--json"});
    if (c.supported) {
      EXPECT_EQ(r.status, 0) << r;
      EXPECT_EQ(report(r)["result"], "success");
    } else {
      expect_notice(r);
    }
  }
}

TEST_F(KroGate, NoticeWinsOverHelpVersionAndBadOptions) {
  sb().answer(PNX, "panel-feature", "false\n");
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"--help"}, {"--version"}, {"--bogus"}, {"--json", "--max", "-1"}, {}, {"--json"}}) {
    SCOPED_TRACE(args.empty() ? "no arguments" : args.front());
    expect_notice(sb().run(args));
  }
  // Nothing past the gate ran.
  EXPECT_EQ(sb().calls(), std::vector<std::string>(6, "kestrix-pnx-helper|panel-feature|KRO"));
}

TEST_F(KroGate, MissingPanelHelperMeansNotSupported) {
  sb().remove("/usr/share/kestrix3/scripts/kestrix-pnx-helper");
  expect_notice(sb().run({"--json"}));
  expect_notice(sb().run({"--help"}));
}

TEST_F(KroGate, GateIsAskedFirstAndOnce) {
  sb().write(SNAPSHOT, snapshot({row(ALICE, "alice", 1)}));
  const RunResult r = sb().run({"--json"});
  ASSERT_EQ(r.status, 0) << r;
  const auto calls = sb().calls();
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.front(), "kestrix-pnx-helper|panel-feature|KRO");
  EXPECT_EQ(std::count(calls.begin(), calls.end(), calls.front()), 1);
}

// An account at its own process limit, or a run out of descriptors, learns
// nothing about the server from a check that could not even start.
TEST_F(KroGate, OurOwnShortageIsAFatalErrorNotTheNotice) {
  sb().write(SNAPSHOT, snapshot({row(ALICE, "alice", 1)}));
  const struct {
    std::string limit;
    std::optional<unsigned> uid;  // the process limit does not bind root
    std::string errno_text;
  } cases[] = {{"--nproc=3", ALICE, "(os error 11)"}, {"--nofile=10", std::nullopt, "(os error 24)"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.limit);
    const RunResult r = sb().exec({"/usr/bin/prlimit", c.limit, NIMBREL_TOP_BIN, "--json"}, {.uid = c.uid});
    EXPECT_EQ(r.status, 1) << r;
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(r.err.starts_with("Error: failed to spawn ")) << r.err;
    EXPECT_NE(r.err.find(c.errno_text), std::string::npos) << r.err;
  }
}

}  // namespace
}  // namespace e2e
