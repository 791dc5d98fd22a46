#include "kestrix/io.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace kestrix {
namespace {

class TempDir : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/kestrix-io-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string dir_;
};

TEST_F(TempDir, ReadsRegularFilesWhole) {
  const std::string path = dir_ + "/f";
  std::string big(200000, 'x');
  std::ofstream(path) << big;
  EXPECT_EQ(read_file(path), big);
  EXPECT_FALSE(read_file(dir_ + "/missing"));
}

// Files at our fixed paths sit in directories others may write to: a FIFO or
// a directory there must read as unreadable, at once.
TEST_F(TempDir, AnythingButARegularFileIsUnreadable) {
  const std::string fifo = dir_ + "/fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_FALSE(read_file(fifo));
  EXPECT_FALSE(read_file(dir_));
  EXPECT_FALSE(read_file("/dev/zero"));
}

TEST_F(TempDir, TextMustBeUtf8) {
  const std::string path = dir_ + "/t";
  std::ofstream(path) << "caf\xC3\xA9";
  EXPECT_EQ(read_text_file(path), "caf\xC3\xA9");
  std::ofstream(path) << "caf\xE9";
  EXPECT_FALSE(read_text_file(path));
}

TEST(Utf8, RefusesOverlongSurrogatesAndTruncation) {
  const std::pair<const char*, bool> cases[] = {
      {"plain ascii text, longer than eight bytes", true},
      {"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", true},
      {"\xC0\xAF", false},          // overlong '/'
      {"\xED\xA0\x80", false},      // a surrogate
      {"\xF4\x90\x80\x80", false},  // past U+10FFFF
      {"abcdefgh\xE2\x82", false},  // cut short at the end
      {"\x80", false},
  };
  for (auto [text, valid] : cases) EXPECT_EQ(is_utf8(text), valid) << text;
}

}  // namespace
}  // namespace kestrix
