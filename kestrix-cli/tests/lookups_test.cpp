#include "lookups.h"

#include <gtest/gtest.h>

namespace kestrix::cli {
namespace {

TEST(Lookups, LaterEntriesForAUidWin) {
  auto names = names_by_uid({{1000, "old"}, {1001, "b"}, {1000, "new"}});
  EXPECT_EQ(names.at(1000), "new");

}

TEST(Lookups, EmptyPanelValuesBecomeNotAvailable) {
  auto panel = panel_info_by_uid({{1000, {"a.example", ""}}, {1001, {"", "r"}}});
  EXPECT_EQ(panel.at(1000).domain, "a.example");
  EXPECT_EQ(panel.at(1000).reseller, "N/A");
  EXPECT_EQ(panel.at(1001).domain, "N/A");
  EXPECT_EQ(panel.at(1001).reseller, "r");
}

TEST(Lookups, WardNamesSkipPlaceholdersAndUnknownUids) {
  std::vector<RowEntry> rows(4);
  rows[0].username = "alice";
  rows[1].username = "N/A";
  rows[2].id = 1002;  // empty name, known uid
  rows[3].id = 1003;  // empty name, unknown uid
  EXPECT_EQ(ward_limit_names(rows, {{1002, "carol"}}), (std::vector<std::string>{"alice", "carol"}));
}

}  // namespace
}  // namespace kestrix::cli
