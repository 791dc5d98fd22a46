// Replays every input the fuzzer kept (its seed corpus and what it found)
// through the same agreement check, on every build.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "../../fuzz/reader_oracle.h"

namespace {

TEST(FuzzRegressions, ReaderAgreesOnEveryKeptInput) {
  int replayed = 0;
  for (const char* dir : {KESTRIX_FUZZ_DIR "/corpus", KESTRIX_FUZZ_DIR "/regressions"}) {
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
      std::ifstream in(entry.path(), std::ios::binary);
      std::stringstream bytes;
      bytes << in.rdbuf();
      const char* why = kestrix::fuzz::reader_disagreement(bytes.str());
      EXPECT_EQ(why, nullptr) << entry.path() << ": " << why;
      ++replayed;
    }
  }
  EXPECT_GT(replayed, 0);
}

}  // namespace
