#include "kestrix/core/system_users.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <vector>

#include "../src/growing_buffer.h"
#include "kestrix/testing/ci.h"
#include "kestrix/testing/scratch_dir.h"

namespace kestrix::core {
namespace {

TEST(LoginDefsTest, FirstUsableLineWins) {
  const std::pair<std::string, std::optional<std::uint32_t>> cases[] = {
      {"UID_MIN 1000\n", 1000},
      {"UID_MIN\t\t1000", 1000},
      {"  UID_MIN 1000  \r\n", 1000},
      {"UID_MIN\xC2\xA0" "1000", 1000},  // no-break space separates fields too
      {"#UID_MIN 100\nUID_MIN 1000", 1000},
      {"SYS_UID_MIN 100\nUID_MIN 1000", 1000},
      {"UID_MAX 60000\nUID_MIN 1000", 1000},
      {"UID_MIN abc\nUID_MIN 1000", 1000},
      {"UID_MIN\nUID_MIN 7", 7},
      {"UID_MIN 1000 # comment", 1000},
      {"UID_MIN +5", 5},
      {"UID_MIN 4294967295", 4294967295u},
      {"UID_MIN 2000\nUID_MIN 1000", 2000},
      {"UID_MIN=1000", std::nullopt},
      {"UID_MIN=1000\nUID_MIN 9", 9},
      {"UID_MIN -1", std::nullopt},
      {"UID_MIN 4294967296", std::nullopt},
      {"UID_MIN 1e3", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& [text, expected] : cases)
    EXPECT_EQ(login_defs_value(text, "UID_MIN"), expected) << text;
}

class LoginDefsFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_ + "/login.defs";
  }
  void write(const std::string& content) { std::ofstream(path_, std::ios::binary) << content; }
  testing::ScratchDir scratch_;
  std::string dir_ = scratch_.root().string();
  std::string path_;
};

TEST_F(LoginDefsFileTest, DefaultsWhenMissingUnusableOrNotUtf8) {
  EXPECT_EQ(read_uid_min(path_), 500u);
  EXPECT_EQ(read_uid_max(path_), 60000u);
  write("UID_MIN 1000\nUID_MAX 2000\n# caf\xE9\n");
  EXPECT_EQ(read_uid_min(path_), 500u);
  EXPECT_EQ(read_uid_max(path_), 60000u);
  write("UID_MIN=1000\n");
  EXPECT_EQ(read_uid_min(path_), 500u);
}

TEST_F(LoginDefsFileTest, ReadsBothKeys) {
  write("# range of regular users\nUID_MIN   1000\nUID_MAX\t60000000\n");
  EXPECT_EQ(read_uid_min(path_), 1000u);
  EXPECT_EQ(read_uid_max(path_), 60000000u);
}

TEST(PasswdBufferTest, DoublesOnErangeUpToOneMebibyte) {
  std::vector<std::size_t> sizes;
  std::vector<char> buffer;
  int rc = call_with_growing_buffer(buffer, [&](char*, std::size_t size) {
    sizes.push_back(size);
    return ERANGE;
  });
  EXPECT_EQ(rc, ERANGE);
  const std::vector<std::size_t> all = {4096, 8192, 16384, 32768, 65536,
                                        131072, 262144, 524288, 1048576};
  EXPECT_EQ(sizes, all);

  sizes.clear();
  buffer.clear();
  rc = call_with_growing_buffer(buffer, [&](char*, std::size_t size) {
    sizes.push_back(size);
    return size < 20000 ? ERANGE : 0;
  });
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(sizes, (std::vector<std::size_t>{4096, 8192, 16384, 32768}));
  // The next call starts from the grown buffer.
  sizes.clear();
  call_with_growing_buffer(buffer, [&](char*, std::size_t size) {
    sizes.push_back(size);
    return ENOENT;
  });
  EXPECT_EQ(sizes, (std::vector<std::size_t>{32768}));
}

TEST(SystemUsersTest, NameByUid) {
  EXPECT_EQ(user_name_by_uid(0), std::optional<std::string>("root"));
  if (const passwd* me = ::getpwuid(::getuid())) {
    EXPECT_EQ(user_name_by_uid(::getuid()), std::optional<std::string>(me->pw_name));
  }
  std::uint32_t unknown = 4000000000u;
  while (::getpwuid(unknown) != nullptr) ++unknown;
  EXPECT_EQ(user_name_by_uid(unknown), std::nullopt);
}

TEST(SystemUsersTest, RegularUsersStartAtUidMinWithoutUpperBound) {
  const std::uint32_t uid_min = read_uid_min();
  const auto users = regular_users();
  for (const auto& user : users) EXPECT_GE(user.uid, uid_min) << user.name;

  const passwd* nobody = ::getpwnam("nobody");
  if (nobody == nullptr || nobody->pw_uid < uid_min || nobody->pw_uid <= read_uid_max())
    KESTRIX_SKIP("no entry above UID_MAX to look for");
  const uid_t nobody_uid = nobody->pw_uid;
  bool found = false;
  for (const auto& user : users) found = found || (user.uid == nobody_uid && user.name == "nobody");
  EXPECT_TRUE(found);
}

}  // namespace
}  // namespace kestrix::core
