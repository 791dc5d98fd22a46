// Sorting, filtering, filling and limiting the rows of the report.
#include "fixtures.h"
#include "kestrix/sanitizers.h"

namespace e2e {
namespace {

using Selection = E2E;

std::string order_of(const RunResult& r) {
  std::string s;
  for (const auto& n : usernames(report(r))) s += (s.empty() ? "" : " ") + n;
  return s;
}

TEST_F(Selection, OrderByPicksTheUsageFigureCaseInsensitively) {
  // Each figure orders the four accounts differently.
  auto make = [](unsigned id, const char* name, double cpu, double io, double iops, double ep, double mem,
                 double pno) {
    Row r = row(id, name, cpu, io);
    r.iops = iops;
    r.ep = ep;
    r.mem = mem;
    r.pno = pno;
    return r;
  };
  sb().write(SNAPSHOT, snapshot({make(ALICE, "alice", 4, 1, 2, 3, 1, 4),
                                  make(BOB, "bob", 3, 4, 1, 2, 4, 1),
                                  make(RITA, "rita", 2, 3, 4, 1, 3, 2),
                                  make(CAROL, "carol", 1, 2, 3, 4, 2, 3)}));
  const struct {
    std::string key, order;
  } cases[] = {
      {"cpu", "alice bob rita carol"},   {"CPU", "alice bob rita carol"},  {"cPu", "alice bob rita carol"},
      {"io", "bob rita carol alice"},    {"IO", "bob rita carol alice"},   {"iops", "rita carol alice bob"},
      {"ep", "carol alice bob rita"},    {"pmem", "bob rita carol alice"}, {"nproc", "alice carol rita bob"},
      {"mem", "alice bob rita carol"},   {"foo", "alice bob rita carol"},  {"", "alice bob rita carol"},
      {"mysql_cpu", "alice bob rita carol"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("--order-by " + c.key);
    const RunResult r = sb().run({"--json", "--order-by", c.key});
    ASSERT_EQ(r.status, 0) << r;
    EXPECT_EQ(order_of(r), c.order);
  }
}

TEST_F(Selection, EqualKeysKeepSnapshotOrder) {
  sb().write(SNAPSHOT, snapshot({row(CAROL, "carol", 1), row(ALICE, "alice", 2), row(RITA, "rita", 1),
                                  row(BOB, "bob", 2), row(ADMIN, "admin", 1)}));
  const RunResult r = sb().run({"--json"});
  ASSERT_EQ(r.status, 0) << r;
  EXPECT_EQ(order_of(r), "alice bob carol rita admin");
}

TEST_F(Selection, MaxIsTestedAfterTheRowIsAppended) {
  std::vector<Row> rows;
  for (unsigned i = 0; i < 30; ++i) rows.push_back(row(20000 + i, "u" + std::to_string(i), i));
  sb().write(SNAPSHOT, snapshot(rows));
  const struct {
    std::vector<std::string> args;
    std::size_t count;
    std::string first;
  } cases[] = {
      {{"--json"}, 25, "u29"},
      {{"--json", "--max", "0"}, 1, "u29"},
      {{"--json", "--max", "1"}, 1, "u29"},
      {{"--json", "--max", "30"}, 30, "u29"},
      {{"--json", "--max", "1000"}, 30, "u29"},
      {{"--json", "--max", "0", "--username", "u1"}, 1, "u19"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.back());
    const RunResult r = sb().run(c.args);
    ASSERT_EQ(r.status, 0) << r;
    const auto names = usernames(report(r));
    EXPECT_EQ(names.size(), c.count);
    if (!names.empty()) {
      EXPECT_EQ(names.front(), c.first);
    }
  }
}

TEST_F(Selection, MissingNamesAreFilledFromPasswordDatabaseAndPanel) {
  Row kept = row(BOB, "", 3);
  kept.domain = "own.test";  // the snapshot's own values win over the panel's
  kept.reseller = "self";
  sb().write(SNAPSHOT, snapshot({row(ALICE, "", 4), kept, row(NO_ENTRY, "", 2), row(CAROL, "carol", 1)}));
  sb().data("users.tsv",
            "1001\talice\talice.test\trita\n"
            "1002\tbob\tpanel.test\trita\n"
            "1010\tghost\tghost.test\trita\n"
            "1004\tcarol\t\t\n");
  const RunResult r = sb().run({"--json"});
  ASSERT_EQ(r.status, 0) << r;
  json doc = report(r);
  ASSERT_EQ(doc["users"].size(), 4u);
  const auto fields = [&](std::size_t i) {
    json u = doc["users"][i];
    return u["username"].get<std::string>() + "," + u["domain"].get<std::string>() + "," +
           u["reseller"].get<std::string>();
  };
  EXPECT_EQ(fields(0), "alice,alice.test,rita");
  EXPECT_EQ(fields(1), "bob,own.test,self");
  EXPECT_EQ(fields(2), "N/A,N/A,N/A");  // no password entry: the panel's record is not used
  EXPECT_EQ(fields(3), "carol,N/A,N/A");
  // One panel call with every row's uid, in snapshot order.
  const auto calls = sb().calls(PNX);
  EXPECT_NE(std::find(calls.begin(), calls.end(), "kestrix-pnx-helper|user-info-sys|1001|1002|1010|1004"),
            calls.end());
}

// With no address space to reserve for the panel's answer, the run reads it
// whole before decoding it; the report is the same.
TEST_F(Selection, PanelAnswerReadsTheSameWithoutRoomToReserve) {
  if (KESTRIX_SANITIZED) GTEST_SKIP() << "the sanitizers' own reservations do not fit under the limit";
  std::vector<Row> rows;
  std::string table;
  for (unsigned i = 0; i < 200; ++i) {
    rows.push_back(row(ALICE + i, "u" + std::to_string(i), 200 - i));
    table += std::to_string(ALICE + i) + "\tu" + std::to_string(i) + "\td" + std::to_string(i) +
             ".test\tr\n";
  }
  sb().write(SNAPSHOT, snapshot(rows));
  sb().data("users.tsv", table);
  const RunResult free_run = sb().run({"--json", "--max", "200"});
  const RunResult tight_run =
      sb().run({"--json", "--max", "200"}, {.address_space_kib = 1024 * 1024});
  ASSERT_EQ(free_run.status, 0) << free_run;
  ASSERT_EQ(tight_run.status, 0) << tight_run;
  const json users = report(free_run)["users"];
  ASSERT_EQ(users.size(), 200u);
  EXPECT_EQ(users[7]["domain"], "d7.test");
  EXPECT_EQ(report(tight_run)["users"], users);
}

TEST_F(Selection, FailedPanelCallLeavesDomainsUnknown) {
  sb().write(SNAPSHOT, snapshot({row(ALICE, "alice", 2), row(BOB, "bob", 1)}));
  sb().answer(PNX, "user-info-sys", "{\"users\": []}");  // missing member: does not decode
  const RunResult r = sb().run({"--json"});
  ASSERT_EQ(r.status, 0) << r;
  // Held by name: a member of the temporary report would die before the loop.
  const json users = report(r)["users"];
  ASSERT_EQ(users.size(), 2u) << r;
  for (const auto& u : users) {
    EXPECT_EQ(u["domain"], "N/A");
    EXPECT_EQ(u["reseller"], "N/A");
  }
}

TEST_F(Selection, PatternsAreCaseSensitiveSubstrings) {
  sb().write(SNAPSHOT, snapshot({row(20001, "lisa", 6), row(20002, "alice", 5), row(20003, "Lisa", 4),
                                  row(20004, "eli", 3), row(20005, "a*b", 2), row(20006, "axb", 1)}));
  sb().data("users.tsv",
            "20001\tlisa\tshop.example.com\tr\n"
            "20002\talice\texample.org\tr\n"
            "20003\tLisa\tLISA.example.com\tr\n"
            "20005\ta*b\tstar.test\tr\n"
            "20006\taxb\t\tr\n");
  const struct {
    std::vector<std::string> args;
    std::string order;
  } cases[] = {
      {{"--username", "li"}, "lisa alice eli"},
      {{"--username", "a*b"}, "a*b"},
      {{"--username", ""}, "lisa alice Lisa eli a*b axb"},
      {{"-u", "LI"}, ""},
      {{"--domain", "example"}, "lisa alice Lisa"},
      {{"--domain", ".com"}, "lisa Lisa"},
      {{"--domain", ""}, "lisa alice Lisa a*b"},
      {{"--domain", "N/A"}, ""},
      {{"--domain", "example", "--username", "is"}, "lisa Lisa"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args{"--json"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    SCOPED_TRACE(c.args.front() + " [" + c.args[1] + "]");
    const RunResult r = sb().run(args);
    ASSERT_EQ(r.status, 0) << r;
    EXPECT_EQ(order_of(r), c.order);
  }
}

TEST_F(Selection, UsernameFilterNeverMatchesUnknownNames) {
  sb().write(SNAPSHOT, snapshot({row(NO_ENTRY, "", 2), row(ALICE, "alice", 1)}));
  for (const std::string pattern : {"", "N", "/"}) {
    SCOPED_TRACE(pattern);
    const RunResult r = sb().run({"--json", "--username", pattern});
    ASSERT_EQ(r.status, 0) << r;
    EXPECT_EQ(order_of(r), pattern.empty() ? "alice" : "");
  }
}

TEST_F(Selection, EmptySnapshotPrintsAnEmptyList) {
  sb().write(SNAPSHOT, snapshot({}));
  const RunResult r = sb().run({"--json", "--max", "0"});
  ASSERT_EQ(r.status, 0) << r;
  EXPECT_EQ(report(r)["users"], json::array());
  // No rows, no panel lookup of them.
  for (const auto& call : sb().calls(PNX)) EXPECT_FALSE(call.starts_with("kestrix-pnx-helper|user-info-sys"));
}

}  // namespace
}  // namespace e2e

namespace e2e {
namespace {

// With a small stack limit the argument room (ARG_MAX) is about 128 KiB, far
// too little for one panel call naming 20,000 uids: the lookup must be split,
// and no row may lose its domain for it.
TEST_F(Selection, PanelLookupIsSplitToFitTheArgumentLimit) {
  constexpr unsigned ROWS = 20000, FIRST = 2000;
  std::vector<Row> rows;
  std::string table;
  for (unsigned i = 0; i < ROWS; ++i) {
    const unsigned uid = FIRST + i;
    rows.push_back(row(uid, "u" + std::to_string(uid), ROWS - i));
    table += std::to_string(uid) + "\tu" + std::to_string(uid) + "\td" + std::to_string(uid) + ".test\tr\n";
  }
  sb().write(SNAPSHOT, snapshot(rows));
  sb().data("users.tsv", table);
  const RunResult r = sb().run({"--json", "--max", "100000"}, {.stack_kib = 512, .timeout = std::chrono::seconds(120)});
  ASSERT_EQ(r.status, 0) << r.err;
  json doc = report(r);
  ASSERT_EQ(doc["users"].size(), ROWS);
  std::size_t unfilled = 0;
  for (const auto& u : doc["users"])
    if (u.value("domain", "") != "d" + std::to_string(u.value("id", 0u)) + ".test") ++unfilled;
  EXPECT_EQ(unfilled, 0u);

  // Every uid asked exactly once, in row order, over more than one call.
  std::vector<std::string> batches;
  std::string asked;
  for (const auto& call : sb().calls(PNX))
    if (call.starts_with("kestrix-pnx-helper|user-info-sys|")) {
      batches.push_back(call);
      asked += call.substr(std::string_view("kestrix-pnx-helper|user-info-sys").size());
    }
  std::string expected;
  for (unsigned i = 0; i < ROWS; ++i) expected += "|" + std::to_string(FIRST + i);
  EXPECT_GT(batches.size(), 1u);
  EXPECT_TRUE(asked == expected) << "uids asked differ from the rows' uids";
}

}  // namespace
}  // namespace e2e
