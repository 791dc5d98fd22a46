#include "lookups.h"

#include <gtest/gtest.h>

namespace kestrix::cli {
namespace {

TEST(Lookups, LaterEntriesForAUidWin) {
  auto names = names_by_uid({{1000, "old"}, {1001, "b"}, {1000, "new"}});
  EXPECT_EQ(names.find(1000), "new");
  EXPECT_EQ(names.find(1001), "b");
  EXPECT_EQ(names.find(999), std::nullopt);
  EXPECT_EQ(names.size(), 2u);
}

TEST(Lookups, NarrowingAllNamesToRegularUsersGivesTheRegularUsersTable) {
  const std::vector<core::RegularUser> entries{
      {1000, "a"}, {10, "sys"}, {999, "below"}, {1000, "b"}, {5, "x"}, {2000, "c"}, {10, "sys2"}};
  auto all = names_by_uid(entries);
  keep_regular_users(all, 1000);
  EXPECT_EQ(all, names_by_uid(core::regular_users(entries, 1000)));
  EXPECT_EQ(all, (NamesByUid{{1000, "b"}, {2000, "c"}}));
}

TEST(Lookups, WardNamesSkipPlaceholdersAndUnknownUids) {
  std::vector<RowEntry> rows(4);
  rows[0].username = "alice";
  rows[1].username = "N/A";
  rows[2].id = 1002;  // empty name, known uid
  rows[3].id = 1003;  // empty name, unknown uid
  EXPECT_EQ(ward_limit_names(rows, {{1002, "carol"}}), (plugins::ArgList{"alice", "carol"}));
}

TEST(Lookups, RowUidsAreSpelledInDecimalInRowOrder) {
  std::vector<RowEntry> rows(3);
  rows[0].id = 4294967295u;
  rows[2].id = 1000;
  EXPECT_EQ(row_uids(rows), (plugins::ArgList{"4294967295", "0", "1000"}));
}

}  // namespace
}  // namespace kestrix::cli
