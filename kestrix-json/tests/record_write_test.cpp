#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "kestrix/json/record.h"

namespace kestrix::json {
namespace {

struct Inner {
  std::int64_t when = 0;
  std::string why;
};

// Declared out of byte order on purpose: the table's order is the array
// form's, the written order is the names'.
struct Outer {
  std::uint32_t zeta = 0;
  double alpha = 0.0;
  std::optional<Inner> middle;
  nlohmann::json extra;
  std::vector<Inner> list;
  bool Beta = false;
};

constexpr RecordType<Inner, 2> INNER{
    "Inner", {{field<&Inner::when>("when", Need::Required), field<&Inner::why>("why", Need::Required)}}};

bool read(Reader& r, Inner& v) { return read_record(r, INNER, v); }
void write(Writer& w, const Inner& v) { write_record(w, INNER, v); }

constexpr RecordType<Outer, 6> OUTER{"Outer",
                                     {{field<&Outer::zeta>("zeta", Need::Required),
                                       field<&Outer::alpha>("alpha", Need::Required),
                                       field<&Outer::middle>("middle", Need::Defaulted),
                                       field<&Outer::extra>("extra", Need::Defaulted),
                                       field<&Outer::list>("list", Need::Defaulted),
                                       field<&Outer::Beta>("Beta", Need::Defaulted)}}};
static_assert(writes_all(OUTER));

bool read(Reader& r, Outer& v) { return read_record(r, OUTER, v); }
void write(Writer& w, const Outer& v) { write_record(w, OUTER, v); }

std::string written_text(const Outer& v) {
  StringSink sink;
  Writer w(sink);
  write(w, v);
  w.finish();
  return std::move(sink.text());
}

TEST(RecordWrite, WritesMembersInByteOrderLeavingOutEmptyOnes) {
  Outer v;
  v.zeta = 4000000000u;
  v.alpha = std::numeric_limits<double>::quiet_NaN();
  v.extra = nullptr;
  EXPECT_EQ(written_text(v), R"({
  "Beta": false,
  "alpha": null,
  "list": [],
  "zeta": 4000000000
}
)");

  v.alpha = -std::numeric_limits<double>::infinity();
  v.middle = Inner{-3, "r"};
  v.extra = nlohmann::json{{"b", 1}, {"a", nullptr}};
  v.list = {Inner{1, "x"}};
  EXPECT_EQ(written_text(v), R"({
  "Beta": false,
  "alpha": null,
  "extra": {
    "a": null,
    "b": 1
  },
  "list": [
    {
      "when": 1,
      "why": "x"
    }
  ],
  "middle": {
    "when": -3,
    "why": "r"
  },
  "zeta": 4000000000
}
)");
}

TEST(RecordWrite, WhatIsWrittenReadsBackTheSame) {
  Outer v;
  v.zeta = 7;
  v.alpha = 0.1;
  v.middle = Inner{INT64_MIN, "a\"b\\c\n\x01"};
  v.extra = nlohmann::json::array({1, "two", 3.5});
  v.list = {Inner{1, ""}, Inner{2, "\xC3\xA9"}};
  v.Beta = true;
  auto back = decode<Outer>(written_text(v));
  ASSERT_TRUE(back) << back.error();
  EXPECT_EQ(back->zeta, v.zeta);
  EXPECT_EQ(back->alpha, v.alpha);
  ASSERT_TRUE(back->middle);
  EXPECT_EQ(back->middle->when, INT64_MIN);
  EXPECT_EQ(back->middle->why, v.middle->why);
  EXPECT_EQ(back->extra, v.extra);
  ASSERT_EQ(back->list.size(), 2u);
  EXPECT_EQ(back->list[1].why, "\xC3\xA9");
  EXPECT_TRUE(back->Beta);
}

struct Computed {
  int a = 0;
};
constexpr RecordType<Computed, 2> COMPUTED{
    "Computed",
    {{written<[](const Computed& c) { return static_cast<std::int64_t>(c.a * 2); }>("twice"),
      written<[](const Computed& c) { return c.a ? std::optional<bool>(true) : std::nullopt; }>(
          "set")}}};

TEST(RecordWrite, WrittenOnlyMembersTakeComputedValues) {
  StringSink sink;
  Writer w(sink);
  w.begin_array();
  write_record(w, COMPUTED, Computed{0});
  write_record(w, COMPUTED, Computed{21});
  w.end_array();
  w.finish();
  EXPECT_EQ(sink.text(), R"([
  {
    "twice": 0
  },
  {
    "set": true,
    "twice": 42
  }
])"
                         "\n");
}

std::vector<std::pair<std::string, std::string>> order_faults;

void note_fault(std::string_view previous, std::string_view key) {
  order_faults.emplace_back(previous, key);
}

// Every object keeps its own order; the first key has nothing to follow.
TEST(RecordWrite, CheckedWritersReportKeysOutOfOrder) {
  order_faults.clear();
  check_key_order(note_fault);
  StringSink sink;
  {
    Writer w(sink);
    w.begin_object();
    w.key("b");
    w.begin_object();
    w.key("z");
    w.null();
    w.end_object();
    w.key("c");
    w.value(nlohmann::json{{"y", 1}, {"x", 2}});
    w.key("a");
    w.null();
    w.key("a");
    w.null();
    w.end_object();
  }
  check_key_order(nullptr);
  const std::vector<std::pair<std::string, std::string>> want = {{"c", "a"}, {"a", "a"}};
  EXPECT_EQ(order_faults, want);

  order_faults.clear();
  Writer unchecked(sink);
  unchecked.begin_object();
  unchecked.key("b");
  unchecked.null();
  unchecked.key("a");
  unchecked.null();
  unchecked.end_object();
  EXPECT_TRUE(order_faults.empty());
}

}  // namespace
}  // namespace kestrix::json
