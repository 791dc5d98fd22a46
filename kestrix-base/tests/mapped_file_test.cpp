#include "kestrix/mapped_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "kestrix/testing/scratch_dir.h"

namespace kestrix {
namespace {

class Mapped : public ::testing::Test {
 protected:
  std::string write(const std::string& name, const std::string& content) {
    const std::string path = dir_ + "/" + name;
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
    return path;
  }
  testing::ScratchDir scratch_;
  std::string dir_ = scratch_.root().string();
};

TEST_F(Mapped, HoldsTheFileAsItIsUntilItIsWritten) {
  const std::string content(3 * 4096 + 17, 'x');
  const std::string path = write("f", content);
  auto mapped = MappedFile::map(path, 1 << 20);
  ASSERT_TRUE(mapped) << mapped.error().message;
  EXPECT_EQ(mapped->bytes(), content);
  EXPECT_FALSE(mapped->changed());

  // Replacing the name leaves the mapped file as it was.
  write("g", "other");
  std::filesystem::rename(dir_ + "/g", path);
  EXPECT_FALSE(mapped->changed());
  EXPECT_EQ(mapped->bytes(), content);
}

TEST_F(Mapped, AnyWriteShows) {
  const std::string content(10000, 'a');
  for (int way = 0; way < 4; ++way) {
    const std::string path = write("f" + std::to_string(way), content);
    struct stat before {};
    ASSERT_EQ(::stat(path.c_str(), &before), 0);
    auto mapped = MappedFile::map(path, 1 << 20);
    ASSERT_TRUE(mapped);
    if (way == 0) std::ofstream(path, std::ios::app) << "more";
    if (way == 1) std::fstream(path, std::ios::in | std::ios::out) << "b";  // same size
    if (way == 2) ::truncate(path.c_str(), 10000);                          // only the times
    if (way == 3) {
      // Written in place, then given its old modification time back.
      std::fstream(path, std::ios::in | std::ios::out) << "b";
      const struct timespec times[2] = {before.st_atim, before.st_mtim};
      ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    }
    EXPECT_TRUE(mapped->changed()) << way;
  }
}

// A writer that shrinks the file would end a reader of the lost pages with
// SIGBUS: they read as zeros instead, and the mapping says it changed.
TEST_F(Mapped, PagesLostToAShrinkingWriterReadAsZeros) {
  const std::string content(5 * 4096, 'x');
  const std::string path = write("f", content);
  auto mapped = MappedFile::map(path, 1 << 20);
  ASSERT_TRUE(mapped);
  ASSERT_EQ(::truncate(path.c_str(), 4096 + 10), 0);
  const std::string_view bytes = mapped->bytes();
  EXPECT_EQ(bytes[4096 + 9], 'x');
  EXPECT_EQ(bytes[3 * 4096], '\0');
  EXPECT_EQ(bytes[2 * 4096 + 1], '\0');
  EXPECT_EQ(bytes.back(), '\0');
  EXPECT_TRUE(mapped->changed());
  // Another mapping of the same file is not touched by it.
  auto again = MappedFile::map(path, 1 << 20);
  ASSERT_TRUE(again);
  EXPECT_EQ(again->bytes(), content.substr(0, 4096 + 10));
  EXPECT_FALSE(again->changed());
}

TEST_F(Mapped, OnlyNonEmptyRegularFilesWithinTheLimit) {
  EXPECT_EQ(MappedFile::map(dir_ + "/missing", 100).error().message,
            "No such file or directory (os error 2)");
  EXPECT_EQ(MappedFile::map(dir_, 100).error().message, "not a regular file");
  EXPECT_FALSE(MappedFile::map(write("empty", ""), 100));
  EXPECT_EQ(MappedFile::map(write("big", std::string(101, 'x')), 100).error().message,
            "larger than 100 bytes");
  EXPECT_TRUE(MappedFile::map(write("fits", std::string(100, 'x')), 100));
}

// A SIGBUS that is not about our pages still ends the process as before.
TEST(MappedDeathTest, OtherSigbusStillEndsTheProcess) {
  testing::ScratchDir scratch;
  const std::string path = scratch.root().string() + "/f";
  std::ofstream(path) << "x";
  ASSERT_TRUE(MappedFile::map(path, 100));  // the handler is in place
  EXPECT_EXIT(::raise(SIGBUS), ::testing::KilledBySignal(SIGBUS), "");
}

}  // namespace
}  // namespace kestrix
