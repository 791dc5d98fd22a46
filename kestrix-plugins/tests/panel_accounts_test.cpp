#include "kestrix/plugins/panel_accounts.h"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

namespace kestrix::plugins {
namespace {

using Accounts = std::vector<std::tuple<std::uint32_t, std::string_view, std::string_view>>;

PanelAccountsByUid table_of(const Accounts& accounts) {
  PanelAccountsByUid::Builder builder;
  for (const auto& [uid, domain, reseller] : accounts) builder.add(uid, domain, reseller);
  return std::move(builder).build();
}

TEST(PanelAccounts, TheLastAccountOfAUidStands) {
  const auto table = table_of({{7, "old.example", "r1"},
                               {3, "c.example", ""},
                               {7, "mid.example", "r2"},
                               {0xFFFFFFFF, "max.example", "r"},
                               {7, "", "r3"}});
  EXPECT_EQ(table.size(), 3u);
  EXPECT_EQ(table.find(7), (PanelAccount{"", "r3"}));
  EXPECT_EQ(table.find(3), (PanelAccount{"c.example", ""}));
  EXPECT_EQ(table.find(0xFFFFFFFF), (PanelAccount{"max.example", "r"}));
  for (const std::uint32_t absent : {0u, 4u, 8u, 0xFFFFFFFEu}) EXPECT_FALSE(table.find(absent));
  // Listed by uid already, a repeated uid keeps its last account too.
  const auto in_order = table_of(
      {{3, "c.example", ""}, {7, "old.example", "r1"}, {7, "new.example", "r2"}, {9, "i.example", "r"}});
  EXPECT_EQ(in_order.size(), 3u);
  EXPECT_EQ(in_order.find(7), (PanelAccount{"new.example", "r2"}));
  EXPECT_EQ(in_order.find(9), (PanelAccount{"i.example", "r"}));
  EXPECT_TRUE(PanelAccountsByUid().empty());
  EXPECT_FALSE(PanelAccountsByUid().find(0));
}

TEST(PanelAccounts, AMergedTableTakesTheLaterAccounts) {
  auto total = table_of({{1, "a1", "x"}, {3, "a3", "x"}, {5, "a5", "x"}});
  total.merge(table_of({{0, "b0", "y"}, {3, "b3", "y"}, {4, "b4", "y"}, {9, "b9", "y"}}));
  EXPECT_EQ(total, table_of({{0, "b0", "y"}, {1, "a1", "x"}, {3, "b3", "y"}, {4, "b4", "y"},
                             {5, "a5", "x"}, {9, "b9", "y"}}));
  total.merge(PanelAccountsByUid());
  EXPECT_EQ(total.size(), 6u);
  PanelAccountsByUid empty;
  empty.merge(table_of({{2, "c2", ""}}));
  EXPECT_EQ(empty.find(2), (PanelAccount{"c2", ""}));
}

TEST(PanelAccounts, TablesCompareByTheirAccounts) {
  const auto one = table_of({{1, "a", "r"}, {2, "b", ""}});
  // The same accounts laid down in another order, after a replaced one.
  EXPECT_EQ(one, table_of({{2, "gone", "gone"}, {2, "b", ""}, {1, "a", "r"}}));
  // A text may move between domain and reseller without the table agreeing.
  EXPECT_NE(one, table_of({{1, "a", "r"}, {2, "", "b"}}));
  EXPECT_NE(one, table_of({{1, "a", "r"}}));
  EXPECT_NE(one, table_of({{1, "a", "r"}, {3, "b", ""}}));
}

}  // namespace
}  // namespace kestrix::plugins
