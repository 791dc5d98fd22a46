#include "snapshot.h"

#include <cstdio>

#include <gtest/gtest.h>

namespace kestrix::cli {
namespace {

const char* USAGE = R"({"cpu":{"all":1},"io":{"all":2},"iops":3,"ep":4,"mem":5,"pno":6})";

std::string user(std::string members) {
  return std::string(R"({"id":1000,"usage":)") + USAGE + R"(,"limit":)" + USAGE + members + "}";
}

// The row an entry points at, decoded whole.
TopUser row_of(const RowEntry& entry) {
  auto row = decode_row(entry.text);
  EXPECT_TRUE(row) << row.error();
  return row.value_or(TopUser{});
}

// A file of the test's own holding `text`, at a path named after `name`.
std::string write_file(const std::string& name, const std::string& text) {
  const std::string path = ::testing::TempDir() + name;
  std::FILE* f = std::fopen(path.c_str(), "w");
  EXPECT_NE(f, nullptr);
  if (f != nullptr) {
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
  }
  return path;
}

std::string error_of(const std::string& text) {
  auto r = decode_snapshot(text);
  return r ? "ok" : r.error();
}

TEST(Snapshot, AbsentMembersTakeTheirDefaults) {
  const std::string text = R"({"users":[)" + user("") + "]}";
  auto data = decode_snapshot(text);
  ASSERT_TRUE(data) << data.error();
  EXPECT_EQ(data->timestamp, 0.0);
  EXPECT_TRUE(data->resellers.empty());
  const TopUser u = row_of(data->users.at(0));
  EXPECT_EQ(u.id, 1000u);
  EXPECT_EQ(u.username, "");
  EXPECT_FALSE(u.restricted);
  EXPECT_FALSE(u.restriction);
  EXPECT_TRUE(u.usage.cpu.mysql.is_number_float());
  EXPECT_EQ(u.usage.cpu.mysql.get<double>(), 0.0);
  EXPECT_EQ(u.limit.pno, 6.0);
}

TEST(Snapshot, MysqlIsKeptVerbatimAndNullStaysNull) {
  const std::string text =
      R"({"users":[{"id":1,"usage":{"cpu":{"all":1,"mysql":null},"io":{"all":2,"mysql":{"a":[1,"x"]}},"iops":3,"ep":4,"mem":5,"pno":6},"limit":)" +
      std::string(USAGE) + R"(,"restriction":null}]})";
  auto data = decode_snapshot(text);
  ASSERT_TRUE(data) << data.error();
  const TopUser u = row_of(data->users.at(0));
  EXPECT_TRUE(u.usage.cpu.mysql.is_null());
  EXPECT_EQ(u.usage.io.mysql.dump(), R"({"a":[1,"x"]})");
  EXPECT_FALSE(u.restriction);
}

TEST(Snapshot, ArrayFormsDecodeLikeObjects) {
  const std::string_view text =
      R"([5, [[7, "u", "d", "r", [[1],[2],3,4,5,6], [[1,"-"],[2],3,4,5,6], true, [9, "why"]]], [1, "x"]])";
  auto data = decode_snapshot(text);
  ASSERT_TRUE(data) << data.error();
  EXPECT_EQ(data->timestamp, 5.0);
  const TopUser u = row_of(data->users.at(0));
  EXPECT_EQ(u.username, "u");
  EXPECT_EQ(u.limit.cpu.mysql, "-");
  ASSERT_TRUE(u.restriction);
  EXPECT_EQ(u.restriction->time, 9);
  EXPECT_EQ(data->resellers.size(), 2u);
}

TEST(Snapshot, RefusesWhatDoesNotDecode) {
  const std::pair<std::string, std::string> cases[] = {
      {"", "EOF while parsing a value at line 1 column 0"},
      {R"({"users":[],"users":[]})", "duplicate field `users` at line 1 column 19"},
      {R"({"users":[{"id":1}]})", "missing field `usage` at line 1 column 18"},
      {R"({"users":[{"id":"x"}]})", "invalid type: string \"x\", expected u32 at line 1 column 19"},
      {R"({"users":[{"id":4294967296}]})",
       "invalid value: integer `4294967296`, expected u32 at line 1 column 26"},
      {R"({"users":[{"id":-1}]})", "invalid value: integer `-1`, expected u32 at line 1 column 18"},
      {R"({"users":[{"id":1.5}]})",
       "invalid type: floating point `1.5`, expected u32 at line 1 column 19"},
      {R"({"users":[[1,"a"]]})",
       "invalid length 2, expected struct TopUser with 8 elements at line 1 column 17"},
      {R"({"timestamp":"now"})", "invalid type: string \"now\", expected f64 at line 1 column 18"},
      {R"({"resellers":5})", "invalid type: integer `5`, expected a sequence at line 1 column 14"},
      {R"({"users":[]} [])", "trailing characters at line 1 column 14"},
      {"[5,[],[],1]", "trailing characters at line 1 column 10"},
      {R"({"users":[)" + user(R"(,"restricted":1)") + "]}", ""},
  };
  for (const auto& [text, message] : cases) {
    if (message.empty()) {
      EXPECT_NE(error_of(text).find("expected a boolean"), std::string::npos) << text;
      continue;
    }
    EXPECT_EQ(error_of(text), message) << text;
  }
}

TEST(Snapshot, IntegerFiguresBecomeFloats) {
  const std::string text = R"({"timestamp":1700000000,"users":[)" + user("") + "]}";
  auto data = decode_snapshot(text);
  ASSERT_TRUE(data);
  EXPECT_EQ(data->timestamp, 1700000000.0);
  EXPECT_EQ(row_of(data->users.at(0)).usage.iops, 3.0);
}

// An entry keeps the row's exact text, its uid and name, and the one usage
// figure the report is to be ordered by.
TEST(Snapshot, EntriesKeepTheRowTextAndTheOrderFigure) {
  const std::string a = R"({"id":7,"username":"a\u0062c","usage":{"cpu":{"all":1},"io":{"all":2},"iops":3,"ep":4,"mem":5,"pno":6},"limit":)" +
                        std::string(USAGE) + "}";
  const std::string b = R"([8,"zed","","r",[[9],[8],7,6,5,4],[[1],[2],3,4,5,6]])";
  const std::string text = "{\"users\": [ \n\t" + a + " ,\r\n" + b + "\n] }";
  const std::pair<UsageKey, std::pair<double, double>> cases[] = {
      {UsageKey::Cpu, {1, 9}}, {UsageKey::Io, {2, 8}}, {UsageKey::Iops, {3, 7}},
      {UsageKey::Ep, {4, 6}},  {UsageKey::Mem, {5, 5}}, {UsageKey::Pno, {6, 4}},
      {UsageKey::None, {0, 0}},
  };
  for (const auto& [key, figures] : cases) {
    auto data = decode_snapshot(text, key);
    ASSERT_TRUE(data) << data.error();
    ASSERT_EQ(data->users.size(), 2u);
    EXPECT_EQ(data->users[0].key, figures.first);
    EXPECT_EQ(data->users[1].key, figures.second);
    EXPECT_EQ(data->users[0].text, a);
    EXPECT_EQ(data->users[1].text, b);
    EXPECT_EQ(data->users[0].id, 7u);
    EXPECT_EQ(data->users[0].username, "abc");
    // A plain name is the text's own bytes; one spelled with escapes is kept apart.
    EXPECT_EQ(data->users[1].username, "zed");
    EXPECT_EQ(data->users[1].username.data(), data->users[1].text.data() + 4);
    EXPECT_EQ(data->spelled_names, std::list<std::string>{"abc"});
    EXPECT_EQ(row_of(data->users[1]).reseller, "r");
  }
}

TEST(Snapshot, AReadFileOwnsTheTextItsEntriesPointInto) {
  const std::string path =
      write_file("snapshot_entries.json", R"({"timestamp":3,"users":[)" + user("") + "]}");
  auto data = read_saved_top_data(0.0, UsageKey::Io, path);
  std::remove(path.c_str());
  ASSERT_TRUE(data);
  ASSERT_EQ(data->users.size(), 1u);
  ASSERT_TRUE(std::holds_alternative<MappedFile>(data->text));
  SavedTopData moved = std::move(*data);
  EXPECT_EQ(moved.users[0].key, 2.0);
  EXPECT_EQ(moved.users[0].text, user(""));
  EXPECT_EQ(row_of(moved.users[0]).limit.pno, 6.0);
}

TEST(Snapshot, AReadInTwoStepsEndsAsAReadInOne) {
  const std::string name = "snapshot_two_steps.json";
  const std::string path = write_file(name, R"({"timestamp":3,"users":[)" + user("") + "]}");
  // A clean decode in place is the data; one reported written is read again
  // from a copy.
  InPlaceReading clean = read_in_place(UsageKey::Io, path);
  ASSERT_TRUE(clean.data);
  EXPECT_FALSE(clean.written);
  auto data = read_saved_top_data(std::move(clean), 0.0, UsageKey::Io, path);
  ASSERT_TRUE(data);
  EXPECT_TRUE(std::holds_alternative<MappedFile>(data->text));
  auto copied = read_saved_top_data(InPlaceReading{std::nullopt, true}, 0.0, UsageKey::Io, path);
  ASSERT_TRUE(copied);
  EXPECT_TRUE(std::holds_alternative<std::unique_ptr<const std::string>>(copied->text));
  EXPECT_EQ(copied->users[0].text, user(""));

  // A file that does not decode gives nothing in place and fails from the
  // copy with the path and the reader's message.
  write_file(name, R"({"timestamp":3,"users":[1]})");
  InPlaceReading bad = read_in_place(UsageKey::Io, path);
  EXPECT_FALSE(bad.data);
  auto failed = read_saved_top_data(std::move(bad), 0.0, UsageKey::Io, path);
  std::remove(path.c_str());
  ASSERT_FALSE(failed);
  EXPECT_EQ(failed.error().message, "Failed to parse " + path);
  ASSERT_NE(failed.error().cause, nullptr);
}

// Rows the skim takes are all ASCII, and a read in place checks only the
// rest of the text for UTF-8; a row it leaves to the reader may hold any
// bytes, so then the whole text is checked.
TEST(Snapshot, TextThatIsNotUtf8IsAnEmptySnapshotWhereverItLies) {
  const auto named = [](const std::string& name) {
    return R"({"id":1000,"username":")" + name + R"(","usage":)" + USAGE + R"(,"limit":)" +
           USAGE + "}";
  };
  const std::string ascii = named("u");
  const std::string accented = named("caf\xC3\xA9");
  const std::string broken = named("caf\xC3");
  for (const std::size_t halves_from : {std::size_t{0}, HALVES_FROM}) {
    const std::string rows = ascii + "," + ascii + "," + ascii;
    const std::string text = R"({"users":[)" + rows + "]}";
    auto data = decode_snapshot(text, UsageKey::Cpu, RowDecoding::Fast, halves_from);
    ASSERT_TRUE(data);
    EXPECT_EQ(text.substr(data->ascii_begin, data->ascii_end - data->ascii_begin),
              "[" + rows + "]");
    for (const std::string& odd : {accented, broken}) {
      const std::string mixed = R"({"users":[)" + ascii + "," + ascii + "," + odd + "]}";
      auto other = decode_snapshot(mixed, UsageKey::Cpu, RowDecoding::Fast, halves_from);
      ASSERT_TRUE(other);
      EXPECT_EQ(other->ascii_begin, other->ascii_end) << halves_from;
    }
  }

  const auto read_file = [&](const std::string& text) {
    const std::string path = write_file("snapshot_utf8.json", text);
    auto data = read_saved_top_data(7.0, UsageKey::Cpu, path);
    std::remove(path.c_str());
    EXPECT_TRUE(data);
    return data ? std::move(*data) : SavedTopData{};
  };
  const SavedTopData kept = read_file(R"({"users":[)" + ascii + "," + accented + "]}");
  ASSERT_EQ(kept.users.size(), 2u);
  EXPECT_EQ(kept.users[1].username, "caf\xC3\xA9");
  for (const std::string& text :
       {R"({"users":[)" + ascii + "," + broken + "]}",
        R"({"users":[)" + ascii + "],\"resellers\":[\"\xFF\"]}",
        "{\"resellers\":[\"\xFF\"],\"users\":[" + ascii + "]}"}) {
    const SavedTopData empty = read_file(text);
    EXPECT_TRUE(empty.users.empty()) << text;
    EXPECT_EQ(empty.timestamp, 7.0);
  }
}

TEST(Snapshot, UnreadableFileIsAnEmptySnapshotStampedNow) {
  auto data = read_saved_top_data(1234.0, UsageKey::Cpu, "/nonexistent/snapshot.json");
  ASSERT_TRUE(data);
  EXPECT_EQ(data->timestamp, 1234.0);
  EXPECT_TRUE(data->users.empty());
}

}  // namespace
}  // namespace kestrix::cli
