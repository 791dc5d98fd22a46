#include "resellers.h"

#include <gtest/gtest.h>

namespace kestrix::cli {
namespace {

using nlohmann::json;

const NamesByUid NAMES{{500, "res500"}, {0, "root"}, {4294967295u, "top"}};

std::vector<json> entries(const char* text) { return json::parse(text).get<std::vector<json>>(); }

TEST(ShapeResellers, OnlyRootGetsAList) {
  EXPECT_TRUE(shape_resellers(entries(R"([{"id": 500}, "x"])"), false, std::nullopt, NAMES).empty());
  EXPECT_TRUE(shape_resellers(entries(R"([{"id": 500}])"), false, "res500", NAMES).empty());
}

TEST(ShapeResellers, NamesComeFromTheUidBehindTheId) {
  auto out = shape_resellers(entries(R"([
      {"id": 500, "name": "stale"},
      {"id": 1000000500, "limits": {}},
      {"id": 1000000000},
      {"id": 999999999},
      {"id": 5294967295},
      {"id": 5294967296},
      {"id": 18446744073709551615},
      {"id": -1, "name": "neg"},
      {"id": 500.0},
      {"id": "500"},
      {"name": "noid"},
      "text",
      [500]
    ])"),
                             true, std::nullopt, NAMES);
  ASSERT_EQ(out.size(), 13u);
  EXPECT_EQ(out[0], json::parse(R"({"id": 500, "name": "res500"})"));
  EXPECT_EQ(out[1], json::parse(R"({"id": 1000000500, "limits": {}, "name": "res500"})"));
  EXPECT_EQ(out[2]["name"], "root");
  EXPECT_EQ(out[3]["name"], "N/A");
  EXPECT_EQ(out[4]["name"], "top");
  // Past the 32-bit range: no uid, rather than a wrapped-around one.
  EXPECT_EQ(out[5]["name"], "N/A");
  EXPECT_EQ(out[6]["name"], "N/A");
  EXPECT_EQ(out[7], json::parse(R"({"id": -1, "name": "neg"})"));
  EXPECT_FALSE(out[8].contains("name"));
  EXPECT_FALSE(out[9].contains("name"));
  EXPECT_EQ(out[10], json::parse(R"({"name": "noid"})"));
  EXPECT_EQ(out[11], "text");
  EXPECT_EQ(out[12], json::parse("[500]"));
}

TEST(ShapeResellers, ForResellerKeepsOnlyThatNameInOrder) {
  auto list = entries(R"([
      {"id": 500, "n": 1},
      "res500",
      {"id": 1000000500, "n": 2},
      {"id": 600},
      {"name": "res500", "n": 3},
      {"name": ["res500"]},
      {"id": 700, "name": "res500"}
    ])");
  auto out = shape_resellers(list, true, "res500", NAMES);
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[0]["n"], 1);
  EXPECT_EQ(out[1]["n"], 2);
  EXPECT_EQ(out[2]["n"], 3);

  EXPECT_TRUE(shape_resellers(list, true, "", NAMES).empty());
  EXPECT_EQ(shape_resellers(list, true, "N/A", NAMES).size(), 2u);
}

}  // namespace
}  // namespace kestrix::cli
