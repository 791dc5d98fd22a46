// The benchmark's inputs must be what the program accepts: a generator that
// drifted into input the program refuses would have the harness time an
// error path, or a panel answer that is thrown away.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "kestrix/plugins/pnx.h"
#include "snapshot.h"
#include "snapshot_gen.h"

namespace {

using kestrix::bench::Figures;

TEST(BenchInputs, SampledSnapshotDecodesToEveryRowAtTheDaemonsSize) {
  constexpr std::size_t rows = 2000;
  const std::string text = kestrix::bench::generate_snapshot(rows, Figures::Sampled);
  EXPECT_GT(text.size(), rows * 290);
  EXPECT_LT(text.size(), rows * 320);

  auto data = kestrix::cli::decode_snapshot(text);
  ASSERT_TRUE(data.has_value()) << data.error();
  ASSERT_EQ(data->users.size(), rows);
  std::vector<kestrix::cli::TopUser> users;
  for (const auto& entry : data->users) users.push_back(kestrix::cli::decode_row(entry.text).value());
  EXPECT_EQ(users.front().id, 1000u);
  EXPECT_EQ(users.back().id, 1000u + rows - 1);
  EXPECT_EQ(users[7].username, "user7");
  const auto no_reseller = std::ranges::count_if(users, [](const auto& u) { return u.reseller.empty(); });
  EXPECT_EQ(no_reseller, static_cast<std::ptrdiff_t>(rows / 10));
  // Left-out defaults still decode to them.
  EXPECT_EQ(users[1].limit.cpu.mysql, 0.0);
  EXPECT_FALSE(users[1].restricted);
  EXPECT_TRUE(users[0].restricted);
}

TEST(BenchInputs, PanelAnswerNamesEveryAccountOfThePasswordDatabase) {
  constexpr std::size_t accounts = 1000;
  const std::string answer = kestrix::bench::generate_user_info(accounts);
  // About 18 MB for 100,000 accounts.
  EXPECT_GT(answer.size(), accounts * 170);
  EXPECT_LT(answer.size(), accounts * 200);

  auto lookup = kestrix::plugins::parse_user_lookup(answer);
  ASSERT_TRUE(lookup.has_value());
  ASSERT_EQ(lookup->users.size(), accounts);
  EXPECT_TRUE(lookup->unresolved.empty());
  for (std::size_t i = 0; i < accounts; ++i) {
    const auto& u = lookup->users[i];
    ASSERT_EQ(u.uid, static_cast<std::int64_t>(1000 + i));
    ASSERT_EQ(u.username, "user" + std::to_string(i));
    ASSERT_FALSE(u.reseller.empty()) << "the panel fills the rows the snapshot leaves without one";
  }

  const std::string passwd = kestrix::bench::generate_passwd(accounts);
  EXPECT_EQ(std::ranges::count(passwd, '\n'), static_cast<std::ptrdiff_t>(accounts + 3));
  EXPECT_NE(passwd.find("\nuser999:x:1999:1999::/home/user999:/bin/sh\n"), std::string::npos);
}

}  // namespace
