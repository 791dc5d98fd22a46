#include "selection.h"

#include <cmath>
#include <ctime>
#include <string>
#include <vector>

#include <gtest/gtest.h>


namespace kestrix::cli {
namespace {

TopUser row(std::uint32_t id, std::string username, double cpu = 0.0) {
  TopUser u;
  u.id = id;
  u.username = std::move(username);
  u.usage.cpu.all = cpu;
  return u;
}

std::vector<std::uint32_t> ids(const std::vector<TopUser>& rows) {
  std::vector<std::uint32_t> out;
  for (const auto& r : rows) out.push_back(r.id);
  return out;
}

// The tables a walk reads, empty unless a test fills them.
struct World {
  Cli cli;
  NamesByUid names;
  PanelInfoByUid panel;
  NameSet admins;
  std::optional<std::vector<std::string>> allowed;
  core::DbUsageTable db;
  plugins::WardLimitsMap limits;
  bool merge = false;
  std::string mode = "all";

  // Walks the rows in the order given.
  std::vector<TopUser> select(std::vector<TopUser> rows) const {
    SelectionInputs in{cli, names, panel, admins, allowed, db, limits, merge, mode};
    return select_rows(rows, in_file_order(rows), in);
  }

  static std::vector<RankedRow> in_file_order(const std::vector<TopUser>& rows) {
    std::vector<RankedRow> order;
    for (std::size_t i = 0; i < rows.size(); ++i) order.push_back({0.0, i});
    return order;
  }
};

TEST(SortKey, OrderByIsCaseFoldedAndUnknownValuesMeanCpu) {
  TopUser r = row(1, "a", 1.0);
  r.usage.io.all = 2.0;
  r.usage.ep = 3.0;
  r.usage.iops = 4.0;
  r.usage.mem = 5.0;
  r.usage.pno = 6.0;
  r.limit.cpu.all = 99.0;
  const core::DbUsageTable db{{"a", {7.0, 8.0, "-", 0}}};
  const std::vector<std::pair<std::string, double>> cases = {
      {"cpu", 1.0},       {"CPU", 1.0},       {"cPu", 1.0},      {"io", 2.0},
      {"IO", 2.0},        {"ep", 3.0},        {"iops", 4.0},     {"IOPS", 4.0},
      {"pmem", 5.0},      {"PMem", 5.0},      {"mem", 1.0},      {"nproc", 6.0},
      {"mysql_cpu", 7.0}, {"MYSQL_CPU", 7.0}, {"mysql_io", 8.0}, {"", 1.0},
      {"io ", 1.0},       {"ＩＯ", 1.0},      {"İo", 1.0},       {"\xE2\x84\xAA", 1.0},
      {"Iops\xFF", 1.0},
  };
  for (const auto& [order_by, key] : cases) EXPECT_EQ(sort_key(r, order_by, db, {}), key) << order_by;
}

TEST(SortKey, DatabaseFiguresFallBackToThePasswordNameThenZero) {
  const core::DbUsageTable db{{"alice", {7.0, 8.0, "-", 0}}, {"", {9.0, 9.0, "-", 0}}};
  const NamesByUid names{{1000, "alice"}};
  EXPECT_EQ(sort_key(row(1000, ""), "mysql_cpu", db, names), 7.0);
  EXPECT_EQ(sort_key(row(1000, "bob"), "mysql_cpu", db, names), 0.0);
  EXPECT_EQ(sort_key(row(1001, "alice"), "mysql_io", db, names), 8.0);
  // A row nobody can name looks up the empty name, as the database may key it.
  EXPECT_EQ(sort_key(row(1001, ""), "mysql_io", db, names), 9.0);
  EXPECT_EQ(sort_key(row(1001, ""), "mysql_io", {}, names), 0.0);
}

std::vector<std::uint32_t> sorted_ids(const std::vector<TopUser>& rows, std::string_view order_by) {
  std::vector<std::uint32_t> out;
  for (const RankedRow& r : sort_order(rows, order_by, {}, {})) out.push_back(rows[r.row].id);
  return out;
}

TEST(SortOrder, HighestFirstAndEqualKeysKeepSnapshotOrder) {
  std::vector<TopUser> rows = {row(1, "a", 1.0), row(2, "b", 5.0), row(3, "c", 1.0),
                               row(4, "d", 5.0), row(5, "e", 0.0), row(6, "f", 1.0),
                               row(7, "g", -0.0)};
  EXPECT_EQ(sorted_ids(rows, "CPU"), (std::vector<std::uint32_t>{2, 4, 1, 3, 6, 5, 7}));
  EXPECT_EQ(ids(rows), (std::vector<std::uint32_t>{1, 2, 3, 4, 5, 6, 7}));  // left in place
}

TEST(SortOrder, LongRunsOfEqualKeysKeepSnapshotOrder) {
  // Enough rows for the sort to partition rather than insert.
  std::vector<TopUser> rows;
  for (std::uint32_t i = 0; i < 5000; ++i) rows.push_back(row(i, "u", static_cast<double>(i % 3)));
  const auto order = sorted_ids(rows, "cpu");
  std::vector<std::uint32_t> expected;
  for (std::uint32_t key : {2u, 1u, 0u})
    for (std::uint32_t i = 0; i < 5000; ++i)
      if (i % 3 == key) expected.push_back(i);
  EXPECT_EQ(order, expected);
}

TEST(SortOrder, NanAndInfinitiesStillGiveOneTotalOrder) {
  std::vector<TopUser> rows = {row(1, "a", NAN), row(2, "b", 1.0), row(3, "c", -HUGE_VAL),
                               row(4, "d", HUGE_VAL), row(5, "e", NAN)};
  EXPECT_EQ(sorted_ids(rows, "cpu"), (std::vector<std::uint32_t>{4, 2, 1, 3, 5}));
}

TEST(DropRowsAboveUidMax, KeepsTheLimitItselfAndTheOrder) {
  std::vector<TopUser> rows = {row(60001, "x"), row(5, "a"), row(60000, "b"),
                               row(4294967295u, "y"), row(1000, "c")};
  drop_rows_above_uid_max(rows, 60000);
  EXPECT_EQ(ids(rows), (std::vector<std::uint32_t>{5, 60000, 1000}));
}

TEST(Contains, IsAPlainByteSubstring) {
  EXPECT_TRUE(contains("alice", ""));
  EXPECT_TRUE(contains("", ""));
  EXPECT_TRUE(contains("alice", "al"));
  EXPECT_TRUE(contains("alice", "ic"));
  EXPECT_TRUE(contains("alice", "ce"));
  EXPECT_FALSE(contains("Alice", "al"));
  EXPECT_FALSE(contains("alice", "a*"));
  EXPECT_FALSE(contains("alice", "al?ce"));
  EXPECT_TRUE(contains("a*b", "*"));
  EXPECT_FALSE(contains("al", "alice"));
}

TEST(SelectRows, LimitIsTestedAfterTheAppend) {
  std::vector<TopUser> rows;
  for (std::uint32_t i = 1; i <= 10; ++i) rows.push_back(row(i, "u" + std::to_string(i)));
  World w;
  const std::vector<std::pair<std::uint64_t, std::size_t>> cases = {
      {0, 1}, {1, 1}, {3, 3}, {10, 10}, {25, 10}, {18446744073709551615u, 10}};
  for (const auto& [max, count] : cases) {
    w.cli.max = max;
    auto out = w.select(rows);
    ASSERT_EQ(out.size(), count) << max;
    EXPECT_EQ(out.front().id, 1u);
  }
  EXPECT_TRUE(w.select({}).empty());
}

TEST(SelectRows, RowsPastTheLimitAreNeverFilled) {
  World w;
  w.cli.max = 1;
  w.names = {{1, "one"}, {2, "two"}};
  w.merge = true;
  std::vector<TopUser> rows = {row(1, ""), row(2, "")};
  SelectionInputs in{w.cli, w.names, w.panel, w.admins, w.allowed, w.db, w.limits, w.merge, w.mode};
  auto out = select_rows(rows, World::in_file_order(rows), in);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].username, "one");
  EXPECT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1].username, "");  // the walk stopped before it
}

TEST(SelectRows, WalksTheGivenOrderAndTakesOnlyTheAcceptedRows) {
  World w;
  w.cli.max = 2;
  w.admins = {"admin"};
  std::vector<TopUser> rows = {row(1, "a"), row(2, "admin"), row(3, "c"), row(4, "d")};
  rows[3].domain = "d.example";
  SelectionInputs in{w.cli, w.names, w.panel, w.admins, w.allowed, w.db, w.limits, w.merge, w.mode};
  const std::vector<RankedRow> order = {{0.0, 3}, {0.0, 1}, {0.0, 0}, {0.0, 2}};
  auto out = select_rows(rows, order, in);
  EXPECT_EQ(ids(out), (std::vector<std::uint32_t>{4, 1}));
  EXPECT_EQ(out[0].domain, "d.example");
  EXPECT_EQ(rows[1].username, "admin");  // dropped rows stay where they were
  EXPECT_EQ(rows[2].domain, "");         // past the limit: never visited
}

TEST(SelectRows, MissingNamesBecomeNotAvailableEverywhere) {
  World w;
  w.names = {{1000, "alice"}};
  w.panel = {{1000, {"alice.com", "N/A"}}, {1001, {"bob.com", "res"}}};
  TopUser nameless = row(1001, "");
  nameless.domain = "kept.com";
  nameless.reseller = "kept";
  TopUser alice = row(1000, "");
  TopUser carol = row(1002, "carol");
  carol.domain = "carol.com";
  auto out = w.select({alice, nameless, carol});
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[0].username, "alice");
  EXPECT_EQ(out[0].domain, "alice.com");
  EXPECT_EQ(out[0].reseller, "N/A");
  // No name: the panel's and the snapshot's values are both unreliable.
  EXPECT_EQ(out[1].username, "N/A");
  EXPECT_EQ(out[1].domain, "N/A");
  EXPECT_EQ(out[1].reseller, "N/A");
  EXPECT_EQ(out[2].domain, "carol.com");
  EXPECT_EQ(out[2].reseller, "N/A");
}

TEST(SelectRows, SnapshotValuesWinOverThePanel) {
  World w;
  w.panel = {{7, {"panel.com", "panelres"}}};
  TopUser r = row(7, "seven");
  r.domain = "snap.com";
  auto out = w.select({r});
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].domain, "snap.com");
  EXPECT_EQ(out[0].reseller, "panelres");
}

TEST(SelectRows, PatternsAreCaseSensitiveSubstringsAndSkipUnknowns) {
  World w;
  w.panel = {{1, {"shop.example", "r"}}, {2, {"N/A", "r"}}, {3, {"blog.example", "r"}}};
  std::vector<TopUser> rows = {row(1, "alice"), row(2, "malia"), row(3, "Alan"), row(4, "")};

  struct Case {
    std::optional<std::string> username, domain;
    std::vector<std::uint32_t> expected;
  };
  const std::vector<Case> cases = {
      {std::nullopt, std::nullopt, {1, 2, 3, 4}},
      {"al", std::nullopt, {1, 2}},
      {"", std::nullopt, {1, 2, 3}},
      {"N/A", std::nullopt, {}},
      {std::nullopt, "", {1, 3}},
      {std::nullopt, "example", {1, 3}},
      {std::nullopt, "N/A", {}},
      {"al", "example", {1}},
      {"*", std::nullopt, {}},
  };
  for (const auto& c : cases) {
    w.cli.username = c.username;
    w.cli.domain = c.domain;
    EXPECT_EQ(ids(w.select(rows)), c.expected)
        << c.username.value_or("<none>") << " / " << c.domain.value_or("<none>");
  }
}

TEST(SelectRows, AdministratorsAndInvisibleUsersAreDropped) {
  World w;
  w.names = {{3, "admin2"}};
  std::vector<TopUser> rows = {row(1, "admin"), row(2, "alice"), row(3, ""), row(4, "bob"),
                               row(5, "")};

  w.admins = {"admin", "admin2"};
  EXPECT_EQ(ids(w.select(rows)), (std::vector<std::uint32_t>{2, 4, 5}));

  w.admins.clear();
  w.allowed = std::vector<std::string>{"bob", "alice"};
  EXPECT_EQ(ids(w.select(rows)), (std::vector<std::uint32_t>{2, 4}));

  // Nobody is allowed: a caller without a name of his own sees nothing,
  // not even the rows of accounts nobody could name.
  w.allowed = std::vector<std::string>{};
  EXPECT_TRUE(w.select(rows).empty());

  w.allowed = std::vector<std::string>{"N/A"};
  EXPECT_EQ(ids(w.select(rows)), (std::vector<std::uint32_t>{5}));
}

TEST(SelectRows, DroppedRowsDoNotCountTowardsTheLimit) {
  World w;
  w.cli.max = 2;
  w.allowed = std::vector<std::string>{"b", "d", "e"};
  auto out = w.select({row(1, "a"), row(2, "b"), row(3, "c"), row(4, "d"), row(5, "e")});
  EXPECT_EQ(ids(out), (std::vector<std::uint32_t>{2, 4}));
}

TEST(SelectRows, MysqlMembersAreMergedOnlyWhenAsked) {
  World w;
  auto untouched = w.select({row(1, "a")});
  ASSERT_EQ(untouched.size(), 1u);
  EXPECT_EQ(untouched[0].usage.cpu.mysql, nlohmann::json(0.0));

  w.merge = true;
  w.mode = "all";
  w.db = {{"a", {25.0, 3.0, "-", 0}}};
  TopUser r = row(1, "a", 10.0);
  auto merged = w.select({r});
  ASSERT_EQ(merged.size(), 1u);
  EXPECT_NE(merged[0].usage.cpu.mysql, nlohmann::json(0.0));
}

// A reseller of 20,000 accounts over 100,000 rows: a lookup per row in the
// list itself made that 2·10⁹ comparisons, seconds of work; a set makes it
// a moment's. The bound is far from both.
TEST(SelectRows, VisibilityCostsOneLookupPerRow) {
  World w;
  w.cli.max = 1000000;
  w.allowed.emplace();
  for (std::uint32_t i = 0; i < 20000; ++i) w.allowed->push_back("user" + std::to_string(i * 5));
  std::vector<TopUser> rows;
  for (std::uint32_t i = 0; i < 100000; ++i) rows.push_back(row(i, "user" + std::to_string(i)));
  const std::clock_t start = std::clock();
  const auto out = w.select(std::move(rows));
  const double cpu_seconds = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
  ASSERT_EQ(out.size(), 20000u);
  EXPECT_EQ(out.front().username, "user0");
  EXPECT_EQ(out.back().username, "user99995");
  EXPECT_LT(cpu_seconds, 2.0);
}

}  // namespace
}  // namespace kestrix::cli
