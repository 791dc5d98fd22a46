// Replays every input the fuzz targets keep (their seeds and their finds)
// through the same checks, on every build.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "../../fuzz/checks/checks.h"

namespace {

namespace fs = std::filesystem;

TEST(FuzzRegressions, EveryTargetHoldsOnEveryKeptInput) {
  std::set<std::string> names;
  for (const auto& target : kestrix::fuzz::targets()) {
    names.emplace(target.name);
    int replayed = 0;
    for (const char* kind : {"corpus", "regressions"}) {
      const fs::path dir = fs::path(KESTRIX_FUZZ_DIR) / kind / target.name;
      if (!fs::is_directory(dir)) continue;
      for (const auto& entry : fs::directory_iterator(dir)) {
        std::ifstream in(entry.path(), std::ios::binary);
        std::stringstream bytes;
        bytes << in.rdbuf();
        const char* why = target.check(bytes.str());
        EXPECT_EQ(why, nullptr) << entry.path() << ": " << why;
        ++replayed;
      }
    }
    EXPECT_GT(replayed, 0) << target.name << " has no seeds";
  }
  // A folder without a target would keep finds that nothing replays.
  for (const char* kind : {"corpus", "regressions"})
    for (const auto& entry : fs::directory_iterator(fs::path(KESTRIX_FUZZ_DIR) / kind))
      EXPECT_TRUE(names.contains(entry.path().filename().string())) << entry.path();
}

}  // namespace
