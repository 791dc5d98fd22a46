#include "mysql_data.h"

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

namespace kestrix::cli {
namespace {

constexpr double NOT_A_NUMBER = std::numeric_limits<double>::quiet_NaN();
constexpr double INFINITE = std::numeric_limits<double>::infinity();

// A float member, kind included: 5 and 5.0 compare equal in nlohmann::json.
void expect_float(const nlohmann::json& v, double expected) {
  ASSERT_TRUE(v.is_number_float()) << v.dump();
  EXPECT_EQ(v.get<double>(), expected);
}

TopUser snapshot_row(const std::string& name) {
  TopUser row;
  row.username = name;
  row.usage.cpu.all = 10.0;
  row.usage.io.all = 1000.0;
  row.limit.cpu.mysql = 77.0;
  row.limit.io.mysql = 88.0;
  row.restricted = true;
  row.restriction = Restriction{5, "from the snapshot"};
  return row;
}

TEST(ApplyMysqlData, ModeAllCapsUsageAtTotalAndHidesLimits) {
  const struct {
    double db_cpu, db_io;
    double all_cpu;
    double cpu;  // NaN: stored as null
    double io;
  } cases[] = {
      {25.0, 400.0, 10.0, 10.0, 400.0},
      {5.0, 4000.0, 10.0, 5.0, 1000.0},
      {NOT_A_NUMBER, 400.0, 10.0, 10.0, 400.0},  // NaN loses to the other side
      {25.0, 400.0, NOT_A_NUMBER, 25.0, 400.0},
      {NOT_A_NUMBER, 400.0, NOT_A_NUMBER, NOT_A_NUMBER, 400.0},
      {INFINITE, 400.0, INFINITE, NOT_A_NUMBER, 400.0},
  };
  for (const auto& c : cases) {
    TopUser row = snapshot_row("bob");
    row.usage.cpu.all = c.all_cpu;
    apply_mysql_data(row, "all", {{"bob", {c.db_cpu, c.db_io, "-", 0}}},
                     {{"bob", {1.0, 2.0, std::nullopt, false}}});
    EXPECT_EQ(row.limit.cpu.mysql, "-");
    EXPECT_EQ(row.limit.io.mysql, "-");
    if (std::isnan(c.cpu))
      EXPECT_TRUE(row.usage.cpu.mysql.is_null());
    else
      expect_float(row.usage.cpu.mysql, c.cpu);
    expect_float(row.usage.io.mysql, c.io);
  }
}

TEST(ApplyMysqlData, OtherModesTakeWardenLimitsInBytes) {
  const core::DbUsageTable usage{{"bob", {25.0, 4000.0, "-", 0}}};
  TopUser row = snapshot_row("bob");
  apply_mysql_data(row, "abusers", usage, {{"bob", {3.0, 2.0, std::nullopt, true}}});
  expect_float(row.limit.cpu.mysql, 3.0);
  expect_float(row.limit.io.mysql, 2048.0);
  // Usage is the database's own figure, not capped by the total.
  expect_float(row.usage.cpu.mysql, 25.0);
  expect_float(row.usage.io.mysql, 4000.0);

  row = snapshot_row("bob");
  apply_mysql_data(row, "none", usage, {{"bob", {std::nullopt, INFINITE, std::nullopt, false}}});
  expect_float(row.limit.cpu.mysql, 0.0);
  EXPECT_TRUE(row.limit.io.mysql.is_null());
}

TEST(ApplyMysqlData, SnapshotLimitsStayWithoutUsableWardenRecord) {
  const plugins::WardLimitsMap tables[] = {
      {},
      {{"ann", {3.0, 2.0, std::nullopt, false}}},
      {{"bob", {3.0, 2.0, std::string("no such user"), false}}},
  };
  for (const auto& limits : tables) {
    TopUser row = snapshot_row("bob");
    apply_mysql_data(row, "abusers", {}, limits);
    expect_float(row.limit.cpu.mysql, 77.0);
    expect_float(row.limit.io.mysql, 88.0);
  }
}

TEST(ApplyMysqlData, RestrictionComesFromDatabaseRecord) {
  const core::DbUsageTable usage{
      {"io", {0, 0, "io", 1700000000}}, {"dash", {0, 0, "-", 9}}, {"empty", {0, 0, "", 9}}};
  for (const char* name : {"dash", "empty", "missing"}) {
    TopUser row = snapshot_row(name);
    apply_mysql_data(row, "all", usage, {});
    EXPECT_FALSE(row.restricted) << name;
    EXPECT_FALSE(row.restriction) << name;
  }
  TopUser row = snapshot_row("io");
  row.restricted = false;
  row.restriction.reset();
  apply_mysql_data(row, "all", usage, {});
  EXPECT_TRUE(row.restricted);
  ASSERT_TRUE(row.restriction);
  EXPECT_EQ(row.restriction->reason, "Violated the io limit");
  EXPECT_EQ(row.restriction->time, 1700000000);
}

TEST(ApplyMysqlData, UserWithoutRecordGetsZeroUsage) {
  TopUser row = snapshot_row("bob");
  row.usage.cpu.mysql = 50.0;
  apply_mysql_data(row, "abusers", {{"ann", {9, 9, "cpu", 1}}}, {});
  expect_float(row.usage.cpu.mysql, 0.0);
  expect_float(row.usage.io.mysql, 0.0);
}

TEST(HideMysqlData, ClearsEveryRow) {
  std::vector<TopUser> rows{snapshot_row("bob"), snapshot_row("ann")};
  rows[1].usage.cpu.mysql = 3.0;
  hide_mysql_data(rows);
  for (const auto& row : rows) {
    EXPECT_TRUE(row.usage.cpu.mysql.is_null());
    EXPECT_TRUE(row.usage.io.mysql.is_null());
    EXPECT_TRUE(row.limit.cpu.mysql.is_null());
    EXPECT_TRUE(row.limit.io.mysql.is_null());
    EXPECT_FALSE(row.restricted);
    EXPECT_FALSE(row.restriction);
    EXPECT_EQ(row.usage.cpu.all, 10.0);
  }
}

}  // namespace
}  // namespace kestrix::cli
