#include "kestrix/core/kro_check.h"

#include <gtest/gtest.h>

#include "kestrix/testing/scratch_dir.h"

namespace kestrix::core {
namespace {

TEST(KroSupported, OnlyATrimmedTrueAnswerCounts) {
  testing::ScratchDir dir;
  const struct {
    const char* body;
    bool supported;
  } cases[] = {
      {"echo true", true},
      {"printf ' true \\t'", true},
      {"[ \"$*\" = 'panel-feature KRO' ] && echo true", true},
      {"echo TRUE", false},
      {"echo false", false},
      {"echo '\"true\"'", false},
      {"echo true; exit 1", false},
      {"true", false},
      {"printf 'true\\377'", false},
  };
  int n = 0;
  for (const auto& c : cases)
    EXPECT_EQ(kro_supported(dir.script("helper" + std::to_string(n++), c.body)), c.supported)
        << c.body;
  EXPECT_EQ(kro_supported(dir.path("absent")), false);
}

}  // namespace
}  // namespace kestrix::core
