#include "kestrix/core/dbpeek.h"

#include <sys/stat.h>

#include <chrono>
#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "kestrix/testing/scratch_dir.h"

namespace kestrix::core {
namespace {

constexpr double INFINITE = std::numeric_limits<double>::infinity();

TEST(ParseSize, NumbersAndUnits) {
  const struct {
    const char* text;
    double bytes;
  } cases[] = {
      {"1024", 1024.0},         {"512.5", 512.5},      {"+5", 5.0},        {"-1K", -1024.0},
      {"5.", 5.0},              {".5", 0.5},           {"1e3", 1000.0},    {"2.5k", 2560.0},
      {"1K", 1024.0},           {"3M", 3145728.0},     {"3m", 3145728.0},  {"1G", 1073741824.0},
      {"1g", 1073741824.0},     {"", 0.0},             {".", 0.0},         {"5T", 0.0},
      {"abcK", 0.0},            {"K", 0.0},            {" 5", 0.0},        {"5 ", 0.0},
      {"1e", 0.0},              {"0x10", 0.0},         {"1,5K", 0.0},      {"1\xE2\x82\xAC", 0.0},
      {"inf", INFINITE},            {"-Infinity", -INFINITE},  {"1e400", INFINITE},    {"1e-400", 0.0},
      {"1e400K", INFINITE},         {"2E+1", 20.0},        {"-.5k", -512.0},
  };
  for (const auto& c : cases) EXPECT_EQ(parse_size(c.text), c.bytes) << '"' << c.text << '"';
  EXPECT_TRUE(std::isnan(parse_size("NaN")));
  EXPECT_TRUE(std::isnan(parse_size("nanK")));
}

TEST(ParseRestriction, CauseAndTime) {
  const struct {
    const char* text;
    const char* cause;
    std::int64_t time;
  } cases[] = {
      {"", "-", 0},
      {"-", "-", 0},
      {"cpu/900", "cpu", 900},
      {"write/cpu/7", "cpu", 7},  // "cpu" is looked for before "write"
      {"read/12", "read", 12},
      {"write/xyz", "write", 0},
      {"slow", "unknown", 0},
      {"CPU/5", "unknown", 5},
      {"io/-3", "unknown", -3},
      {"io/+3", "unknown", 3},
      {"io/+-3", "unknown", 0},
      {"io/", "unknown", 0},
      {"cpu/9223372036854775808", "cpu", 0},
      {"42", "unknown", 42},
  };
  for (const auto& c : cases) {
    const auto [cause, time] = parse_restriction(c.text);
    EXPECT_EQ(cause, c.cause) << c.text;
    EXPECT_EQ(time, c.time) << c.text;
  }
}

constexpr const char* HEADER = "USER CPU READ WRITE CAUSE\n";

TEST(MergeDbpeekOutput, ReadsFieldsOfEachLine) {
  DbUsageTable table;
  merge_dbpeek_output(table, std::string(HEADER) +
                                 "bob 25/10 1K/2K 512/0 -\n"
                                 "ann 0/7 0/3M 0/1G cpu/900\r\n"
                                 "short 1 2 3\n"
                                 "\n"
                                 "eve\t1/0  \t2 3 read/5 extra fields\n");
  ASSERT_EQ(table.size(), 3u);
  EXPECT_EQ(table["bob"].cpu, 25.0);
  EXPECT_EQ(table["bob"].io, 1536.0);
  EXPECT_EQ(table["bob"].cause_of_restrict, "-");
  EXPECT_EQ(table["ann"].cpu, 7.0);
  EXPECT_EQ(table["ann"].io, 3.0 * 1024 * 1024 + 1024.0 * 1024 * 1024);
  EXPECT_EQ(table["ann"].cause_of_restrict, "cpu");
  EXPECT_EQ(table["ann"].time_of_restrict, 900);
  EXPECT_EQ(table["eve"].cpu, 1.0);
  EXPECT_EQ(table["eve"].io, 5.0);
  EXPECT_EQ(table["eve"].cause_of_restrict, "read");
}

TEST(MergeDbpeekOutput, HeaderIsNeverData) {
  DbUsageTable table{{"bob", {1, 2, "-", 0}}};
  merge_dbpeek_output(table, "bob 99/0 9K/0 9K/0 cpu/1");
  merge_dbpeek_output(table, "");
  ASSERT_EQ(table.size(), 1u);
  EXPECT_EQ(table["bob"].cpu, 1.0);
}

TEST(MergeDbpeekOutput, InvalidUtf8BecomesReplacementCharacter) {
  DbUsageTable table;
  merge_dbpeek_output(table, std::string(HEADER) + "b\xFFob 1 0 0 -\n");
  EXPECT_EQ(table.count("b\xEF\xBF\xBDob"), 1u);
}

TEST(MergeDbpeekOutput, EmptySlashPartsReadAsZero) {
  DbUsageTable table;
  merge_dbpeek_output(table, std::string(HEADER) + "bob //3 0//2K 0/ -\n");
  EXPECT_EQ(table["bob"].cpu, 0.0);  // the second part is empty, the third ignored
  EXPECT_EQ(table["bob"].io, 0.0);
}

TEST(MergeDbpeekOutput, NewUserKeepsHisLineEvenWithZeroUsage) {
  DbUsageTable table;
  merge_dbpeek_output(table, std::string(HEADER) + "bob 0/0 0/0 0/0 cpu/900\n");
  ASSERT_EQ(table.count("bob"), 1u);
  EXPECT_EQ(table["bob"].cause_of_restrict, "cpu");
  EXPECT_EQ(table["bob"].time_of_restrict, 900);
}

TEST(MergeDbpeekOutput, ExistingEntryIsReplacedOnCpuThenIo) {
  const struct {
    const char* line;
    bool replaced;
  } cases[] = {
      {"bob 40 0 0 read/1", true},   // more CPU, less I/O
      {"bob 20 500 0 read/1", true},  // less CPU, more I/O
      {"bob 20 50 0 read/1", false},
      {"bob 30 100 0 read/1", false},  // a tie wins nothing
      {"bob nan nan 0 read/1", false},
  };
  for (const auto& c : cases) {
    DbUsageTable table{{"bob", {30, 100, "-", 0}}};
    merge_dbpeek_output(table, std::string(HEADER) + c.line);
    EXPECT_EQ(table["bob"].cause_of_restrict, c.replaced ? "read" : "-") << c.line;
  }
}

TEST(MergeDbpeekOutput, SecondLineForSameUserFollowsTheRule) {
  DbUsageTable table;
  merge_dbpeek_output(table, std::string(HEADER) +
                                 "bob 5 100 0 cpu/1\n"
                                 "bob 4 50 0 read/2\n"
                                 "bob 4 200 0 write/3\n");
  EXPECT_EQ(table["bob"].cause_of_restrict, "write");
  EXPECT_EQ(table["bob"].io, 200.0);
}

TEST(ParseDbpeekFile, RecordsAndDefaults) {
  const auto table = parse_dbpeek_file(
      R"({"other": [1, {"x": null}], "dbward_data": {"bob": {"cpu": 12, "io": 2048.5},
          "ann": [1.5, 2, "cpu", -7], "eve": [3], "bob2": {"cpu": 1, "extra": null}}})");
  ASSERT_EQ(table.size(), 4u);
  const auto& bob = table.at("bob");
  EXPECT_EQ(bob.cpu, 12.0);
  EXPECT_EQ(bob.io, 2048.5);
  EXPECT_EQ(bob.cause_of_restrict, "-");
  EXPECT_EQ(bob.time_of_restrict, 0);
  EXPECT_EQ(table.at("ann").cause_of_restrict, "cpu");
  EXPECT_EQ(table.at("ann").time_of_restrict, -7);
  EXPECT_EQ(table.at("eve").cpu, 3.0);
  EXPECT_EQ(table.at("eve").cause_of_restrict, "-");
}

TEST(ParseDbpeekFile, LaterUserEntryWins) {
  const auto table = parse_dbpeek_file(R"({"dbward_data": {"bob": {"cpu": 1}, "bob": {"io": 2}}})");
  ASSERT_EQ(table.size(), 1u);
  EXPECT_EQ(table.at("bob").cpu, 0.0);
  EXPECT_EQ(table.at("bob").io, 2.0);
}

TEST(ParseDbpeekFile, AnyFaultGivesEmptyTable) {
  const char* cases[] = {
      R"({"dbward_data": {}, "dbward_data": {"bob": {}}})",
      R"({"dbward_data": {"bob": {"cpu": null}}})",
      R"({"dbward_data": {"bob": {"time_of_restrict": 1.5}}})",
      R"({"dbward_data": {"bob": {"time_of_restrict": 1e3}}})",
      R"({"dbward_data": {"bob": {"time_of_restrict": 9223372036854775808}}})",
      R"({"dbward_data": {"bob": {"cpu": 1, "cpu": 2}}})",
      R"({"dbward_data": {"bob": [1, 2, "-", 0, 5]}})",
      R"({"dbward_data": {"bob": {"cpu": 1}}} x)",
      R"({"dbward_data": {"good": {"cpu": 1}, "bad": 7}})",
      R"({"dbward_data": null})",
      R"([1])",
      "",
  };
  for (const char* text : cases) EXPECT_TRUE(parse_dbpeek_file(text).empty()) << text;
  EXPECT_TRUE(parse_dbpeek_file(R"({"other": 1})").empty());
  EXPECT_EQ(parse_dbpeek_file(R"([{"bob": {}}])").size(), 1u);
}

TEST(LoadDbpeekFile, MissingOddOrForeignFilesGiveEmptyTable) {
  testing::ScratchDir dir;
  EXPECT_TRUE(load_dbpeek_file(dir.path("absent")).empty());
  EXPECT_TRUE(load_dbpeek_file(dir.write("latin1", "{\"dbward_data\": {\"b\xE9\": {}}}")).empty());
  EXPECT_TRUE(load_dbpeek_file(dir.root().string()).empty());
  // A FIFO nobody writes to must not hang the run.
  ASSERT_EQ(::mkfifo(dir.path("fifo").c_str(), 0600), 0);
  EXPECT_TRUE(load_dbpeek_file(dir.path("fifo")).empty());

  const auto table = load_dbpeek_file(dir.write("good", R"({"dbward_data": {"bob": {"cpu": 2}}})"));
  ASSERT_EQ(table.size(), 1u);
  EXPECT_EQ(table.at("bob").cpu, 2.0);
}

TEST(MergeDbpeekCommand, UsesOnlyASuccessfulRun) {
  testing::ScratchDir dir;
  const DbUsageTable before{{"bob", {1, 2, "-", 0}}};
  const std::string lines = "printf 'USER CPU READ WRITE CAUSE\\nbob 9 9 9 cpu/1\\nann 1 1 1 -\\n'";

  DbUsageTable table = before;
  merge_dbpeek_command(table, dir.script("fails", lines + "\nexit 1"));
  EXPECT_EQ(table.size(), 1u);
  EXPECT_EQ(table["bob"].cpu, 1.0);

  merge_dbpeek_command(table, dir.path("absent"));
  EXPECT_EQ(table.size(), 1u);

  // The tool is asked for "-c" and gets nothing on standard input.
  merge_dbpeek_command(
      table, dir.script("works", "[ \"$*\" = -c ] || exit 3\nread x && exit 4\n" + lines));
  EXPECT_EQ(table.size(), 2u);
  EXPECT_EQ(table["bob"].cpu, 9.0);
}

TEST(MergeDbpeekCommand, HungToolCountsAsFailedRun) {
  testing::ScratchDir dir;
  DbUsageTable table;
  const auto start = std::chrono::steady_clock::now();
  merge_dbpeek_command(table,
                       dir.script("hangs", "echo header; echo 'bob 1 1 1 -'; exec sleep 30"), 1);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_TRUE(table.empty());
}

}  // namespace
}  // namespace kestrix::core
