// Rows in the daemon's own layout are taken by a fast path, every other row
// by the full decoder, and in a large snapshot the second half of the rows
// on a thread of its own. Whatever the text, every way must give the same
// entries, or the same message.
#include <algorithm>
#include <bit>
#include <cstdint>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "kestrix/testing/byte_changes.h"
#include "snapshot.h"
#include "snapshot_rows.h"

namespace kestrix::cli {
namespace {

constexpr UsageKey KEYS[] = {UsageKey::Cpu, UsageKey::Io,  UsageKey::Ep,  UsageKey::Iops,
                             UsageKey::Mem, UsageKey::Pno, UsageKey::None};

// Everything a decode gives the run, figures to the bit.
std::string outcome(std::string_view text, UsageKey key, RowDecoding decoding,
                    std::size_t halves_from = HALVES_FROM) {
  auto data = decode_snapshot(text, key, decoding, halves_from);
  if (!data) return "error: " + data.error();
  std::string out = std::to_string(std::bit_cast<std::uint64_t>(data->timestamp)) + "\n";
  for (const RowEntry& e : data->users)
    out += std::string(e.text) + " | " + std::to_string(e.id) + " | " + std::string(e.username) +
           " | " + std::to_string(std::bit_cast<std::uint64_t>(e.key)) + "\n";
  return out;
}

// Returns whether the text decodes, having checked that both ways agree.
bool same_both_ways(std::string_view text) {
  bool decoded = false;
  for (UsageKey key : KEYS) {
    const std::string fast = outcome(text, key, RowDecoding::Fast);
    EXPECT_EQ(fast, outcome(text, key, RowDecoding::Full)) << text;
    decoded = !fast.starts_with("error: ");
  }
  return decoded;
}

// The same, with the rows in two halves however short the text.
bool same_in_halves(std::string_view text) {
  const std::string whole = outcome(text, UsageKey::Io, RowDecoding::Fast);
  EXPECT_EQ(whole, outcome(text, UsageKey::Io, RowDecoding::Fast, 0)) << text;
  EXPECT_EQ(whole, outcome(text, UsageKey::Io, RowDecoding::Full, 0)) << text;
  return !whole.starts_with("error: ");
}

const std::string ROW =
    R"({"id":1000,"username":"user0","domain":"site0.example","reseller":"",)"
    R"("usage":{"cpu":{"all":189.08,"mysql":35.55},"io":{"all":295481,"mysql":27978},)"
    R"("iops":217.42,"ep":1,"mem":320920568,"pno":65},)"
    R"("limit":{"cpu":{"all":100},"io":{"all":1048576},"iops":1024,"ep":20,"mem":1073741824,"pno":100},)"
    R"("restricted":true,"restriction":{"time":-1765180000,"reason":"Violated the cpu limit"}})";

std::string snapshot(std::string_view rows) {
  return R"({"timestamp":1765180800.25,"users":[)" + std::string(rows) + R"(],"resellers":[]})";
}

// A member of ROW's usage given another value.
std::string with_cpu(std::string_view value) {
  std::string row = ROW;
  row.replace(row.find("189.08"), 6, value);
  return snapshot(row);
}

TEST(FastPath, RowsOfEveryShapeDecodeAlike) {
  const std::string usage = R"({"cpu":{"all":1},"io":{"all":2},"iops":3,"ep":4,"mem":5,"pno":6})";
  const std::string rows[] = {
      ROW,
      // Defaulted members left out, restriction null or absent.
      R"({"id":7,"usage":)" + usage + R"(,"limit":)" + usage + "}",
      R"({"id":7,"reseller":"r","usage":)" + usage + R"(,"limit":)" + usage +
          R"(,"restriction":null})",
      R"({"id":7,"usage":)" + usage + R"(,"limit":)" + usage + R"(,"restricted":false})",
      // Any scalar as "mysql".
      R"({"id":7,"usage":{"cpu":{"all":1,"mysql":null},"io":{"all":2,"mysql":"-"},"iops":3,"ep":4,"mem":5,"pno":6},"limit":)" +
          usage + "}",
      R"({"id":7,"usage":{"cpu":{"all":1,"mysql":true},"io":{"all":2,"mysql":-0.5},"iops":3,"ep":4,"mem":5,"pno":6},"limit":)" +
          usage + "}",
      // Left to the full decoder: containers as "mysql", escapes, another
      // order, unknown members, the array form, white space everywhere.
      R"({"id":7,"usage":{"cpu":{"all":1,"mysql":{"a":[1]}},"io":{"all":2},"iops":3,"ep":4,"mem":5,"pno":6},"limit":)" +
          usage + "}",
      R"({"id":7,"username":"us\u0065r","usage":)" + usage + R"(,"limit":)" + usage + "}",
      R"({"usage":)" + usage + R"(,"id":7,"limit":)" + usage + "}",
      R"({"id":7,"extra":[1,{"x":2}],"usage":)" + usage + R"(,"limit":)" + usage + "}",
      R"([7, "u", "d", "r", [[1],[2],3,4,5,6], [[1,"-"],[2],3,4,5,6], true, [9, "why"]])",
      " {\n \"id\" : 7 ,\t\"username\":\"u\",\r\n \"usage\" : " + usage + " , \"limit\":" + usage +
          " } ",
  };
  for (const std::string& row : rows) EXPECT_TRUE(same_both_ways(snapshot(row + "," + ROW)));
}

TEST(FastPath, FiguresOfEveryFormAreReadLikeTheFullDecoder) {
  for (std::string_view figure :
       {"0", "-0", "0.0", "-0.0", "1", "189.08", "-3.25", "0.1", "123456789012345678",
        "18446744073709551615", "18446744073709551616", "99999999999999999999999",
        "9007199254740993.5", "0.30000000000000004", "1e3", "1E-3", "2.5e+2", "1e-400",
        "4.9e-324", "123456789.123456789123"})
    EXPECT_TRUE(same_both_ways(with_cpu(figure))) << figure;
  // Too large for a double.
  const std::string digits(400, '9');
  EXPECT_FALSE(same_both_ways(with_cpu(digits)));
  EXPECT_FALSE(same_both_ways(with_cpu("1e400")));
  EXPECT_TRUE(same_both_ways(with_cpu(digits.substr(0, 300))));
}

TEST(FastPath, IntegerFieldsAtAndPastTheirRangesDecodeAlike) {
  for (std::string_view id : {"0", "4294967295", "4294967296", "-1", "1.0", "1e2", "01", "00"}) {
    std::string row = ROW;
    row.replace(row.find("1000"), 4, id);
    same_both_ways(snapshot(row));
  }
  for (std::string_view time : {"0", "-1", "-0", "9223372036854775807", "9223372036854775808",
                                "-9223372036854775808", "-9223372036854775809", "1.5", "01"}) {
    std::string row = ROW;
    row.replace(row.find("-1765180000"), 11, time);
    same_both_ways(snapshot(row));
  }
}

// Every byte of two rows changed into each byte that means something to
// JSON, or dropped, or doubled, or a blank put before it: whatever the fast path takes or gives up
// on, the outcome is the full decoder's.
TEST(FastPath, EveryChangedByteDecodesAlike) {
  const std::string text = snapshot(ROW + "," + ROW);
  testing::for_each_changed_byte(text, "\"\\{}[],: 0195-.eEtnx\x01", same_both_ways);
  testing::for_each_dropped_or_added_byte(text, same_both_ways);
  for (std::size_t at = 0; at < text.size(); ++at) same_both_ways(text.substr(0, at));
}

// The second half starts at a row start guessed near the middle. Right,
// wrong (inside a string, inside a row, in the resellers, nowhere), or
// meeting a fault on either side: the rows and messages are those of one
// reading.
TEST(Halves, EveryGuessAndEveryFaultGivesWhatOneReadingGives) {
  std::string rows;
  for (int i = 0; i < 40; ++i) rows += (i ? "," : "") + ROW;
  EXPECT_TRUE(same_in_halves(snapshot(rows)));
  EXPECT_TRUE(same_in_halves(snapshot(ROW)));
  EXPECT_TRUE(same_in_halves(snapshot("")));
  // A reason that looks like a row start, where the middle falls.
  std::string tricky = ROW;
  tricky.replace(tricky.find("Violated"), 8, std::string(3000, ' ') + "},{ } , {x");
  EXPECT_TRUE(same_in_halves(snapshot(ROW + "," + tricky + "," + ROW)));
  // A middle inside the resellers, past the rows.
  EXPECT_TRUE(same_in_halves(R"({"users":[)" + ROW + R"(],"resellers":[)" +
                             std::string(20000, ' ') + R"({"id":1},{"id":2}]})"));
  // Rows not in the daemon's layout, and arrays nested in rows.
  std::string nested = ROW;
  nested.replace(nested.find("35.55"), 5, R"([{"a":1},{"b":[{},{}]}])");
  EXPECT_TRUE(same_in_halves(snapshot(nested + "," + nested + "," + nested)));
  // Faults in the first half, at the guess, and in the second half.
  for (std::size_t at = 0; at < rows.size(); at += 97) {
    std::string broken = rows;
    broken[at] = broken[at] == '"' ? 'x' : '"';
    same_in_halves(snapshot(broken));
  }
}

// The halves are sized by the rows alone: their end is found back from the
// end of the text, over whatever members stand behind them.
TEST(Halves, TheRowsEndWhereTheirArrayEnds) {
  const std::string rows = ROW + "," + ROW;
  const auto rows_size = [&](const std::string& head, const std::string& tail) {
    return rows_end(head + rows + tail, head.size()) - head.size();
  };
  const std::string users = R"({"timestamp":1,"users":[)";
  std::string resellers = R"(],"resellers":[)";
  for (int i = 0; i < 2000; ++i) resellers += R"({"id":1000,"name":"r"},)";
  resellers += R"({"id":1}]})";
  for (const std::string& tail :
       {std::string("]}"), resellers,
        std::string(R"(] , "resellers" : [{"name":"]\"}{\\"}] ,"x":{"y":[1,"\\\""]}, "n":-1.5e3 } )")})
    EXPECT_EQ(rows_size(users, tail), rows.size() + 1) << tail;
  EXPECT_EQ(rows_size(R"({"resellers":[{"id":1}], "users":[)", "]}"), rows.size() + 1);
  // Rows that end in a fault are found by their array's start.
  const std::string broken = users + rows + R"(,{"id":7}],"resellers":[]})";
  EXPECT_EQ(rows_end(broken, users.size()), broken.find("],\"res") + 1);
  const std::string odd = users + rows + R"(],"resellers"[]})";
  EXPECT_EQ(rows_end(odd, users.size()), odd.size());
  // Taken over the rest of the text, the reseller list would be read as rows
  // for nothing: one reading's outcome either way.
  const std::string text = users + rows + resellers;
  EXPECT_EQ(outcome(text, UsageKey::Io, RowDecoding::Fast, rows.size() * 2),
            outcome(text, UsageKey::Io, RowDecoding::Fast, text.size()));
}

TEST(Halves, EveryChangedByteDecodesAlike) {
  const std::string text = snapshot(ROW + "," + ROW + "," + ROW);
  testing::for_each_changed_byte(text, "\"{},[] ", same_in_halves);
}

TEST(Halves, ALargeSnapshotIsTakenInHalves) {
  std::string rows;
  for (int i = 0; i < 20000; ++i) {
    std::string row = ROW;
    row.replace(row.find("1000"), 4, std::to_string(1000 + i));
    row.replace(row.find("295481"), 6, std::to_string(100000 + (i * 7919) % 900000));
    rows += (i ? "," : "") + row;
  }
  const std::string text = snapshot(rows);
  ASSERT_GT(text.size(), HALVES_FROM);
  const std::string halves = outcome(text, UsageKey::Io, RowDecoding::Fast);
  EXPECT_EQ(halves, outcome(text, UsageKey::Io, RowDecoding::Fast, text.size()));
  EXPECT_EQ(std::count(halves.begin(), halves.end(), '\n'), 20001);
}

}  // namespace
}  // namespace kestrix::cli
