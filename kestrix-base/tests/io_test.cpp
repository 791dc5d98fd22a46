#include "kestrix/io.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "kestrix/sanitizers.h"
#include "kestrix/testing/scratch_dir.h"

namespace kestrix {
namespace {

class TempDir : public ::testing::Test {
 protected:
  static bool make_sparse(const std::string& path, off_t size) {
    std::ofstream(path).close();
    return ::truncate(path.c_str(), size) == 0;
  }
  testing::ScratchDir scratch_;
  std::string dir_ = scratch_.root().string();
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

// A sparse file claims far more than memory holds: it reads as unreadable,
// at once, instead of ending the process.
TEST_F(TempDir, AFileTooLargeIsUnreadable) {
  const std::string path = dir_ + "/sparse";
  ASSERT_TRUE(make_sparse(path, 100LL << 30));
  EXPECT_FALSE(read_file(path));
  EXPECT_FALSE(read_text_file(path, DATA_FILE_LIMIT));
  // The limit counts the bytes really read, not the size the file claims.
  std::ofstream(path, std::ios::trunc) << "0123456789";
  EXPECT_EQ(read_file(path, 10), "0123456789");
  EXPECT_FALSE(read_file(path, 9));
}

// Procfs reports a size of 0 for files that hold plenty: they are read to
// their end, and still held to the limit.
TEST(ReadFile, TheClaimedSizeIsOnlyAHint) {
  const auto maps = read_text_file("/proc/self/maps");
  ASSERT_TRUE(maps);
  EXPECT_GT(maps->size(), 100u);
  EXPECT_EQ(maps->back(), '\n');
  EXPECT_FALSE(read_file("/proc/self/maps", 64));
}

// Under an address-space limit a file that fits the byte limit may still
// not fit in memory: that too reads as unreadable, never as an abort.
TEST_F(TempDir, AFileThatDoesNotFitInMemoryIsUnreadable) {
  if (KESTRIX_SANITIZED) GTEST_SKIP() << "sanitizers reserve more address space than the limit allows";
  const std::string path = dir_ + "/large";
  ASSERT_TRUE(make_sparse(path, 1LL << 30));
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    const rlimit limit{512 << 20, 512 << 20};
    if (::setrlimit(RLIMIT_AS, &limit) != 0) ::_exit(2);
    ::_exit(read_file(path, DATA_FILE_LIMIT) ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "wait status " << status;
}

TEST_F(TempDir, TextMustBeUtf8) {
  const std::string path = dir_ + "/t";
  std::ofstream(path) << "caf\xC3\xA9";
  EXPECT_EQ(read_text_file(path), "caf\xC3\xA9");
  std::ofstream(path) << "caf\xE9";
  EXPECT_FALSE(read_text_file(path));
}

}  // namespace
}  // namespace kestrix
