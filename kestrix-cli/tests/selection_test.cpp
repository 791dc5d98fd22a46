#include "selection.h"

#include <cmath>
#include <ctime>
#include <deque>
#include <initializer_list>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "kestrix/json/writer.h"

namespace kestrix::cli {
namespace {

TopUser row(std::uint32_t id, std::string username, double cpu = 0.0) {
  TopUser u;
  u.id = id;
  u.username = std::move(username);
  u.usage.cpu.all = cpu;
  return u;
}

template <class Row>
std::vector<std::uint32_t> ids(const std::vector<Row>& rows) {
  std::vector<std::uint32_t> out;
  for (const auto& r : rows) out.push_back(r.id);
  return out;
}

// Rows as the walk gets them: entries keeping the CPU figure, each pointing
// at its row's JSON text, which `texts` holds.
struct Rows {
  std::deque<std::string> texts;
  std::deque<std::string> names;
  std::vector<RowEntry> entries;
};

Rows rows_of(const std::vector<TopUser>& rows) {
  Rows out;
  for (const TopUser& r : rows) {
    json::StringSink sink;
    json::Writer w(sink);
    write(w, r);
    w.finish();
    out.texts.push_back(std::move(sink.text()));
    out.names.push_back(r.username);
    out.entries.push_back(RowEntry{out.texts.back(), r.id, out.names.back(), r.usage.cpu.all});
  }
  return out;
}

// An entry without a text, for what only sorts.
RowEntry entry(std::uint32_t id, std::string_view username, double cpu = 0.0) {
  return RowEntry{{}, id, username, cpu};
}

ReportOrder in_file_order(std::size_t count) {
  std::vector<RankedRow> ranks;
  for (std::size_t i = 0; i < count; ++i) ranks.push_back({0.0, i});
  return ReportOrder(std::move(ranks));
}

PanelInfoByUid panel_of(
    std::initializer_list<std::tuple<std::uint32_t, std::string_view, std::string_view>> accounts) {
  PanelInfoByUid::Builder table;
  for (const auto& [uid, domain, reseller] : accounts) table.add(uid, domain, reseller);
  return std::move(table).build();
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

  SelectionInputs inputs() const {
    return SelectionInputs{cli, names, panel, admins, allowed, db, limits, merge, mode};
  }
  // Walks `rows` in the order given.
  std::vector<TopUser> select(Rows& rows, ReportOrder order) const {
    auto out = select_rows(rows.entries, order, inputs());
    EXPECT_TRUE(out) << out.error();
    return out.value_or(std::vector<TopUser>{});
  }
  // Walks the rows in file order.
  std::vector<TopUser> select(const std::vector<TopUser>& rows) const {
    Rows entries = rows_of(rows);
    return select(entries, in_file_order(rows.size()));
  }
};

TEST(SortKey, OrderByIsCaseFoldedAndUnknownValuesMeanCpu) {
  const core::DbUsageTable db{{"a", {7.0, 8.0, "-", 0}}};
  const std::vector<std::pair<std::string, UsageKey>> snapshot_cases = {
      {"cpu", UsageKey::Cpu},   {"CPU", UsageKey::Cpu},   {"cPu", UsageKey::Cpu},
      {"io", UsageKey::Io},     {"IO", UsageKey::Io},     {"ep", UsageKey::Ep},
      {"iops", UsageKey::Iops}, {"IOPS", UsageKey::Iops}, {"pmem", UsageKey::Mem},
      {"PMem", UsageKey::Mem},  {"mem", UsageKey::Cpu},   {"nproc", UsageKey::Pno},
      {"", UsageKey::Cpu},      {"io ", UsageKey::Cpu},   {"ＩＯ", UsageKey::Cpu},
      {"İo", UsageKey::Cpu},    {"\xE2\x84\xAA", UsageKey::Cpu}, {"Iops\xFF", UsageKey::Cpu},
  };
  for (const auto& [order_by, key] : snapshot_cases) {
    EXPECT_EQ(usage_key(order_by), key) << order_by;
    // The entry's figure is the key, whatever the database holds.
    EXPECT_EQ(sort_key(entry(1, "a", 1.5), order_by, db, {}), 1.5) << order_by;
  }
  const std::vector<std::pair<std::string, double>> database_cases = {
      {"mysql_cpu", 7.0}, {"MYSQL_CPU", 7.0}, {"mysql_io", 8.0}, {"Mysql_IO", 8.0}};
  for (const auto& [order_by, key] : database_cases) {
    EXPECT_EQ(usage_key(order_by), UsageKey::None) << order_by;
    EXPECT_EQ(sort_key(entry(1, "a", 1.5), order_by, db, {}), key) << order_by;
  }
}

TEST(SortKey, DatabaseFiguresFallBackToThePasswordNameThenZero) {
  const core::DbUsageTable db{{"alice", {7.0, 8.0, "-", 0}}, {"", {9.0, 9.0, "-", 0}}};
  const NamesByUid names{{1000, "alice"}};
  EXPECT_EQ(sort_key(entry(1000, ""), "mysql_cpu", db, names), 7.0);
  EXPECT_EQ(sort_key(entry(1000, "bob"), "mysql_cpu", db, names), 0.0);
  EXPECT_EQ(sort_key(entry(1001, "alice"), "mysql_io", db, names), 8.0);
  // A row nobody can name looks up the empty name, as the database may key it.
  EXPECT_EQ(sort_key(entry(1001, ""), "mysql_io", db, names), 9.0);
  EXPECT_EQ(sort_key(entry(1001, ""), "mysql_io", {}, names), 0.0);
}

std::vector<std::uint32_t> sorted_ids(const std::vector<RowEntry>& rows, std::string_view order_by) {
  std::vector<std::uint32_t> out;
  ReportOrder order = sort_order(rows, order_by, {}, {});
  for (std::size_t place = 0; place < order.size(); ++place) out.push_back(rows[order.row(place)].id);
  return out;
}

TEST(SortOrder, HighestFirstAndEqualKeysKeepSnapshotOrder) {
  std::vector<RowEntry> rows = {entry(1, "a", 1.0), entry(2, "b", 5.0), entry(3, "c", 1.0),
                                entry(4, "d", 5.0), entry(5, "e", 0.0), entry(6, "f", 1.0),
                                entry(7, "g", -0.0)};
  EXPECT_EQ(sorted_ids(rows, "CPU"), (std::vector<std::uint32_t>{2, 4, 1, 3, 6, 5, 7}));
  EXPECT_EQ(ids(rows), (std::vector<std::uint32_t>{1, 2, 3, 4, 5, 6, 7}));  // left in place
}

TEST(SortOrder, LongRunsOfEqualKeysKeepSnapshotOrder) {
  // Enough rows for the sort to partition rather than insert.
  std::vector<RowEntry> rows;
  for (std::uint32_t i = 0; i < 5000; ++i) rows.push_back(entry(i, "u", static_cast<double>(i % 3)));
  const auto order = sorted_ids(rows, "cpu");
  std::vector<std::uint32_t> expected;
  for (std::uint32_t key : {2u, 1u, 0u})
    for (std::uint32_t i = 0; i < 5000; ++i)
      if (i % 3 == key) expected.push_back(i);
  EXPECT_EQ(order, expected);
}

TEST(SortOrder, AnOrderSortedAsItIsWalkedIsTheStableSort) {
  // Few distinct keys in a shuffled file, so ties straddle every step's end.
  std::vector<RowEntry> rows;
  std::uint32_t state = 12345;
  for (std::uint32_t i = 0; i < 3000; ++i) {
    state = state * 1103515245u + 12345u;
    rows.push_back(entry(i, "u", static_cast<double>((state >> 16) % 7)));
  }
  std::vector<RowEntry> expected = rows;
  std::stable_sort(expected.begin(), expected.end(),
                   [](const RowEntry& a, const RowEntry& b) { return a.key > b.key; });
  EXPECT_EQ(sorted_ids(rows, "cpu"), ids(expected));
  // A place far ahead is sorted on the spot, and the places before it stay right.
  ReportOrder order = sort_order(rows, "cpu", {}, {});
  EXPECT_EQ(rows[order.row(2000)].id, expected[2000].id);
  for (std::size_t place = 0; place < rows.size(); ++place)
    ASSERT_EQ(rows[order.row(place)].id, expected[place].id) << place;
}

TEST(SortOrder, NanAndInfinitiesStillGiveOneTotalOrder) {
  std::vector<RowEntry> rows = {entry(1, "a", NAN), entry(2, "b", 1.0), entry(3, "c", -HUGE_VAL),
                                entry(4, "d", HUGE_VAL), entry(5, "e", NAN)};
  EXPECT_EQ(sorted_ids(rows, "cpu"), (std::vector<std::uint32_t>{4, 2, 1, 3, 5}));
}

TEST(DropRowsAboveUidMax, KeepsTheLimitItselfAndTheOrder) {
  std::vector<RowEntry> rows = {entry(60001, "x"), entry(5, "a"), entry(60000, "b"),
                                entry(4294967295u, "y"), entry(1000, "c")};
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
  Rows rows = rows_of({row(1, ""), row(2, "")});
  auto out = w.select(rows, in_file_order(2));
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].username, "one");
  EXPECT_EQ(rows.entries.size(), 2u);
  EXPECT_EQ(rows.entries[1].username, "");  // the walk stopped before it
}

TEST(SelectRows, WalksTheGivenOrderAndDecodesOnlyTheAcceptedRows) {
  World w;
  w.cli.max = 2;
  w.admins = {"admin"};
  std::vector<TopUser> snapshot = {row(1, "a"), row(2, "admin"), row(3, "c"), row(4, "d")};
  snapshot[3].domain = "d.example";
  Rows rows = rows_of(snapshot);
  // Rows that are never printed need not even decode.
  rows.entries[1].text = "not JSON";
  rows.entries[2].text = "not JSON";
  auto out = w.select(rows, ReportOrder({{4.0, 3}, {3.0, 1}, {2.0, 0}, {1.0, 2}}));
  EXPECT_EQ(ids(out), (std::vector<std::uint32_t>{4, 1}));
  EXPECT_EQ(out[0].domain, "d.example");
  EXPECT_EQ(rows.entries[1].username, "admin");  // dropped rows stay where they were
}

TEST(SelectRows, ARowThatDoesNotDecodeFailsTheWalk) {
  World w;
  Rows rows = rows_of({row(1, "a"), row(2, "b")});
  rows.entries[1].text = R"({"id":2})";
  ReportOrder order = in_file_order(2);
  auto out = select_rows(rows.entries, order, w.inputs());
  ASSERT_FALSE(out);
  EXPECT_EQ(out.error(), "missing field `usage` at line 1 column 8");
}

TEST(SelectRows, MissingNamesBecomeNotAvailableEverywhere) {
  World w;
  w.names = {{1000, "alice"}};
  w.panel = panel_of({{1000, "alice.com", ""}, {1001, "bob.com", "res"}, {1003, "", "res"}});
  TopUser nameless = row(1001, "");
  nameless.domain = "kept.com";
  nameless.reseller = "kept";
  TopUser alice = row(1000, "");
  TopUser carol = row(1002, "carol");
  carol.domain = "carol.com";
  auto out = w.select({alice, nameless, carol, row(1003, "dave")});
  ASSERT_EQ(out.size(), 4u);
  EXPECT_EQ(out[0].username, "alice");
  EXPECT_EQ(out[0].domain, "alice.com");
  EXPECT_EQ(out[0].reseller, "N/A");
  // No name: the panel's and the snapshot's values are both unreliable.
  EXPECT_EQ(out[1].username, "N/A");
  EXPECT_EQ(out[1].domain, "N/A");
  EXPECT_EQ(out[1].reseller, "N/A");
  EXPECT_EQ(out[2].domain, "carol.com");
  EXPECT_EQ(out[2].reseller, "N/A");
  // The panel's empty values read "N/A" too.
  EXPECT_EQ(out[3].domain, "N/A");
  EXPECT_EQ(out[3].reseller, "res");
}

TEST(SelectRows, SnapshotValuesWinOverThePanel) {
  World w;
  w.panel = panel_of({{7, "panel.com", "panelres"}});
  TopUser r = row(7, "seven");
  r.domain = "snap.com";
  auto out = w.select({r});
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].domain, "snap.com");
  EXPECT_EQ(out[0].reseller, "panelres");
}

TEST(SelectRows, PatternsAreCaseSensitiveSubstringsAndSkipUnknowns) {
  World w;
  w.panel = panel_of({{1, "shop.example", "r"}, {2, "N/A", "r"}, {3, "blog.example", "r"}});
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
  EXPECT_EQ(merged[0].usage.cpu.mysql, nlohmann::json(10.0));  // the 25 held to the row's total
}

// A reseller of 20,000 accounts over 100,000 rows: a lookup per row in the
// list itself made that 2·10⁹ comparisons, seconds of work; a set makes it
// a moment's. The bound is far from both.
TEST(SelectRows, VisibilityCostsOneLookupPerRow) {
  World w;
  w.cli.max = 1000000;
  w.allowed.emplace();
  for (std::uint32_t i = 0; i < 20000; ++i) w.allowed->push_back("user" + std::to_string(i * 5));
  std::vector<TopUser> snapshot;
  for (std::uint32_t i = 0; i < 100000; ++i) snapshot.push_back(row(i, "user" + std::to_string(i)));
  Rows rows = rows_of(snapshot);
  const std::clock_t start = std::clock();
  const auto out = w.select(rows, in_file_order(snapshot.size()));
  const double cpu_seconds = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
  ASSERT_EQ(out.size(), 20000u);
  EXPECT_EQ(out.front().username, "user0");
  EXPECT_EQ(out.back().username, "user99995");
  EXPECT_LT(cpu_seconds, 2.0);
}

}  // namespace
}  // namespace kestrix::cli
