#include "kestrix/mapped_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
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

// A SIGBUS that is not about our pages still ends the process as before,
// with the default action in place before ours (not a sanitizer's handler).
TEST(MappedDeathTest, OtherSigbusStillEndsTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");  // a fresh process, where ours comes second
  testing::ScratchDir scratch;
  const std::string path = scratch.root().string() + "/f";
  std::ofstream(path) << "x";
  EXPECT_EXIT(
      {
        ::signal(SIGBUS, SIG_DFL);
        if (MappedFile::map(path, 100)) ::raise(SIGBUS);
      },
      ::testing::KilledBySignal(SIGBUS), "");
}

std::atomic<int> g_sent{0};

// A SIGBUS that is not about our pages goes to the handler that was there
// before ours: a sent one, which holds its sender where a fault holds its
// address (here forged to point into our mapping), and a fault on another
// mapping. A fault on our pages stays ours.
TEST(MappedDeathTest, OtherSigbusGoesToTheEarlierHandler) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");  // a fresh process, where ours comes second
  testing::ScratchDir scratch;
  const std::string path = scratch.root().string() + "/f";
  std::ofstream(path) << std::string(2 * 4096, 'x');
  EXPECT_EXIT(
      {
        struct sigaction act {};
        act.sa_sigaction = [](int, siginfo_t* info, void*) {
          if (info->si_code != SI_QUEUE) ::_exit(g_sent == 1 && info->si_code == BUS_ADRERR ? 0 : 3);
          ++g_sent;
        };
        act.sa_flags = SA_SIGINFO;
        ::sigaction(SIGBUS, &act, nullptr);
        auto mapped = MappedFile::map(path, 1 << 20);
        if (!mapped) ::_exit(4);
        siginfo_t info{};
        info.si_signo = SIGBUS;
        info.si_code = SI_QUEUE;
        info.si_addr = const_cast<char*>(mapped->bytes().data());
        ::syscall(SYS_rt_tgsigqueueinfo, ::getpid(), ::gettid(), SIGBUS, &info);
        if (g_sent != 1 || mapped->bytes()[0] != 'x' || mapped->changed()) ::_exit(5);
        if (::truncate(path.c_str(), 10) != 0 || mapped->bytes()[4096] != '\0') ::_exit(6);
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        const auto* other =
            static_cast<const volatile char*>(::mmap(nullptr, 2 * 4096, PROT_READ, MAP_PRIVATE, fd, 0));
        ::_exit(other[4096] + 7);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace kestrix
