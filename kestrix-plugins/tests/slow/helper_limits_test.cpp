// The real helpers' time limits, which take 15 and 30 seconds to reach.
#include <chrono>
#include <string>

#include <gtest/gtest.h>

#include "kestrix/testing/scratch_dir.h"
#include "kestrix/plugins/pnx.h"
#include "kestrix/plugins/ward_helper.h"

namespace kestrix::plugins {
namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

TEST(HelperLimits, WardenHelperIsKilledAfter15Seconds) {
  testing::ScratchDir dir;
  const auto prog = dir.script("ward", "exec sleep 60");
  const auto start = Clock::now();
  auto m = ward_limits({"alice"}, prog);
  const double took = seconds_since(start);
  ASSERT_FALSE(m);
  EXPECT_EQ(m.error().message, prog + " timed out after 15s");
  EXPECT_GE(took, 15.0);
  EXPECT_LT(took, 15.5);
}

TEST(HelperLimits, PanelHelperIsKilledAfter30Seconds) {
  testing::ScratchDir dir;
  const auto prog = dir.script("pnx", "exec sleep 60");
  const auto start = Clock::now();
  auto r = user_info_sys({1000}, prog);
  const double took = seconds_since(start);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().message, prog + " timed out after 30s");
  EXPECT_GE(took, 30.0);
  EXPECT_LT(took, 30.5);
}

}  // namespace
}  // namespace kestrix::plugins
