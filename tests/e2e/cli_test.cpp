// Command-line outcomes: the --json refusal, help, version and usage errors.
#include "fixtures.h"

namespace e2e {
namespace {

using CommandLine = E2E;

TEST_F(CommandLine, WithoutJsonTheRunIsRefusedBeforeAnythingIsRead) {
  sb().write(SNAPSHOT, "");  // would be a fatal error if it were read
  for (const auto& args : std::vector<std::vector<std::string>>{{}, {"--max", "3"}, {"--hide-mysql"}}) {
    const RunResult r = sb().run(args);
    EXPECT_EQ(r.status, 1) << r;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Error: --json flag is required\n");
  }
  // Only the KRO check ran, once a run; no other helper, tool or file.
  EXPECT_EQ(sb().calls(), std::vector<std::string>(3, "kestrix-pnx-helper|panel-feature|KRO"));
  EXPECT_FALSE(sb().exists(WARDEN_TS));
}

TEST_F(CommandLine, HelpAndVersionGoToStandardOutput) {
  for (const std::string flag : {"--help", "-h"}) {
    const RunResult r = sb().run({flag});
    EXPECT_EQ(r.status, 0) << r;
    EXPECT_EQ(r.err, "");
    EXPECT_NE(r.out.find("Show current KRO resource usage"), std::string::npos) << r.out;
    for (const char* text : {"--json", "--hide-mysql", "--username", "--for-reseller", "--domain", "--max",
                             "--order-by", "USERNAME", "FOR_RESELLER", "DOMAIN", "MAX", "ORDER_BY",
                             "Return data in JSON format (required)", "Don't show MySQL related info",
                             "Sort order: cpu, mysql_cpu, io, mysql_io, iops, ep, nproc, pmem",
                             "Show up to N records (default top 25)", "Print help", "Print version"})
      EXPECT_NE(r.out.find(text), std::string::npos) << "missing " << text << " in\n" << r.out;
  }
  for (const std::string flag : {"--version", "-V"}) {
    const RunResult r = sb().run({flag});
    EXPECT_EQ(r.status, 0) << r;
    EXPECT_EQ(r.out, "nimbrel-top 3.0.0\n");
    EXPECT_EQ(r.err, "");
  }
}

TEST_F(CommandLine, UsageErrorsExitWith2AndPrintNothingOnStandardOutput) {
  const std::vector<std::vector<std::string>> cases = {
      {"--json", "--bogus"},
      {"--json", "positional"},
      {"--json", "--json"},
      {"-j", "--json"},
      {"--json", "--hide-mysql", "--hide-mysql"},
      {"--json", "-m", "1", "--max", "2"},
      {"--json", "--max", "-1"},
      {"--json", "--max", ""},
      {"--json", "--max", "0x10"},
      {"--json", "--max", " 7"},
      {"--json", "--max", "1.5"},
      {"--json", "--max", "18446744073709551616"},
      {"--json", "--username"},
  };
  sb().write(SNAPSHOT, snapshot({row(ALICE, "alice", 1)}));
  for (const auto& args : cases) {
    std::string shown;
    for (const auto& a : args) shown += "[" + a + "] ";
    SCOPED_TRACE(shown);
    const RunResult r = sb().run(args);
    EXPECT_EQ(r.status, 2) << r;
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err, "");
  }
}

TEST_F(CommandLine, MaxAcceptsAPlusSignAndTheLargestValue) {
  sb().write(SNAPSHOT, snapshot({row(ALICE, "alice", 2), row(BOB, "bob", 1)}));
  for (const std::string max : {"+1", "18446744073709551615", "007"}) {
    SCOPED_TRACE(max);
    const RunResult r = sb().run({"--json", "--max", max});
    ASSERT_EQ(r.status, 0) << r;
    EXPECT_EQ(usernames(report(r)).size(), max == "+1" ? 1u : 2u);
  }
}

TEST_F(CommandLine, ShortLongAndAttachedFormsMeanTheSame) {
  std::vector<Row> rows;
  for (unsigned i = 0; i < 8; ++i) {
    Row r = row(ALICE + (i % 4), "", i, 0);
    r.mem = 100.0 - i;
    rows.push_back(r);
  }
  sb().write(SNAPSHOT, snapshot(rows));
  const RunResult a = sb().run({"-j", "-m", "5", "-o", "pmem"});
  const RunResult b = sb().run({"--json", "--max=5", "--order-by=pmem"});
  const RunResult c = sb().run({"-j", "-m5", "-opmem"});
  ASSERT_EQ(a.status, 0) << a;
  EXPECT_EQ(usernames(report(a)).size(), 5u);
  EXPECT_EQ(report(a)["users"][0]["usage"]["mem"], 100.0);
  EXPECT_EQ(a.out, b.out);
  EXPECT_EQ(a.out, c.out);
}

TEST_F(CommandLine, EmptyTextValuesAreAccepted) {
  sb().write(SNAPSHOT, snapshot({row(ALICE, "alice", 1)}));
  const RunResult r = sb().run({"--json", "-u", "", "-d", "", "-o", ""});
  EXPECT_EQ(r.status, 0) << r;
}

}  // namespace
}  // namespace e2e
