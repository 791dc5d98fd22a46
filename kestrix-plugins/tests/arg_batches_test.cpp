#include "arg_batches.h"

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kestrix/plugins/ward_helper.h"
#include "kestrix/testing/scratch_dir.h"

namespace kestrix::plugins {
namespace {

ArgList list_of(const std::vector<std::string>& items) {
  ArgList list;
  for (const auto& item : items) list.push_back(item);
  return list;
}

std::vector<std::string> strings_of(const ArgList& list, std::size_t from = 0) {
  std::vector<std::string> out;
  for (std::size_t i = from; i < list.size(); ++i) out.emplace_back(list[i]);
  return out;
}

// Sizes of the batches split_batches makes.
std::vector<std::size_t> sizes(const std::vector<std::string>& items, std::size_t room) {
  std::vector<std::size_t> out;
  std::size_t next = 0;
  for (auto batch : split_batches(list_of(items), room)) {
    // Batches must follow each other without gap or overlap.
    EXPECT_EQ(batch.first, next);
    next += batch.count;
    out.push_back(batch.count);
  }
  EXPECT_EQ(next, items.size());
  return out;
}

TEST(SplitBatches, FillsEachBatchAsFarAsItFits) {
  const std::size_t one = arg_cost("1234");  // every item below costs this much
  const std::vector<std::string> five(5, "1234");
  struct Case {
    std::size_t room;
    std::vector<std::size_t> expected;
  };
  const Case cases[] = {
      {5 * one, {5}},
      {5 * one - 1, {4, 1}},
      {2 * one, {2, 2, 1}},
      {one, {1, 1, 1, 1, 1}},
      {one - 1, {1, 1, 1, 1, 1}},  // too large alone: still tried, one at a time
      {0, {1, 1, 1, 1, 1}},
  };
  for (const auto& c : cases) EXPECT_EQ(sizes(five, c.room), c.expected) << c.room;
  EXPECT_TRUE(split_batches({}, 100).empty());
}

TEST(SplitBatches, ArgumentBeyondTheKernelsSingleLimitStandsAlone) {
  const std::vector<std::string> items{"a", std::string(200 * 1024, 'x'), "b", "c"};
  EXPECT_EQ(sizes(items, 1024 * 1024 * 1024), (std::vector<std::size_t>{1, 1, 2}));
}

TEST(SplitBatches, RoomLeavesOutTheEnvironmentAndFixedArguments) {
  const std::size_t bare = argument_room("/p", {});
  EXPECT_GT(bare, 64u * 1024);
  EXPECT_EQ(argument_room("/p", {"limits"}), bare - arg_cost("limits"));
}

// Every run gets the fixed arguments, then its own items in order, and
// every item goes to exactly one run, whether the items fit one run or not.
TEST(SplitBatches, EveryRunGetsTheFixedArgumentsThenItsItems) {
  const ArgList fixed = {"user-info-sys", "--x"};
  for (const std::size_t length : {std::size_t{4}, std::size_t{100 * 1000}}) {
    std::vector<std::string> given;
    for (int i = 0; i < 40; ++i) given.push_back(std::to_string(i) + std::string(length, 'z'));
    std::vector<std::string> seen;
    std::size_t runs = 0;
    auto all = run_in_batches<int>(
        "/p", fixed, list_of(given),
        [&](const ArgList& args) -> Result<int> {
          ++runs;
          EXPECT_GT(args.size(), fixed.size());
          EXPECT_EQ(args[0], "user-info-sys");
          EXPECT_EQ(args[1], "--x");
          const auto items = strings_of(args, 2);
          seen.insert(seen.end(), items.begin(), items.end());
          return 1;
        },
        [](int& total, int&& more) { total += more; });
    ASSERT_TRUE(all);
    EXPECT_EQ(*all, static_cast<int>(runs));
    EXPECT_EQ(runs > 1, length > 4) << length;
    EXPECT_EQ(seen, given) << length;
  }
}

TEST(SplitBatches, FailedBatchLosesOnlyItsOwnRecords) {
  testing::ScratchDir dir;
  // Each run answers for its first name only; a run led by "bad" fails.
  const auto prog = dir.script("ward", R"(first=${2%%-*}
[ "$first" = bad ] && exit 1
printf '{"%s": {"error": "%s"}}' "$first" "$#")");
  ArgList names;
  const std::string padding(100 * 1000, 'x');
  names.push_back("bad-" + padding);
  for (int i = 1; i < 60; ++i) names.push_back("n" + std::to_string(i) + "-" + padding);
  const auto batches = split_batches(names, argument_room(prog, {"limits"}));
  ASSERT_GE(batches.size(), 3u);
  auto m = ward_limits(names, prog);
  ASSERT_TRUE(m) << m.error().message;
  EXPECT_FALSE(m->contains("bad"));
  EXPECT_EQ(m->size(), batches.size() - 1);
}

TEST(SplitBatches, EveryBatchFailingReportsTheFirstError) {
  testing::ScratchDir dir;
  const auto prog = dir.script("ward", R"(echo "batch of $#" >&2; exit 1)");
  const ArgList names = list_of(std::vector<std::string>(60, std::string(100 * 1000, 'y')));
  auto m = ward_limits(names, prog);
  ASSERT_FALSE(m);
  EXPECT_TRUE(m.error().message.starts_with(prog + " exited with exit status: 1: batch of "));
}

}  // namespace
}  // namespace kestrix::plugins
