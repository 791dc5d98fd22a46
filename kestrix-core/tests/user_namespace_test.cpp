#include "kestrix/core/user_namespace.h"

#include <dirent.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

namespace kestrix::core {
namespace {

struct MapCase {
  const char* name;
  std::string text;
  bool initial;
};

class UidMapText : public testing::TestWithParam<MapCase> {};

TEST_P(UidMapText, OnlyTheWholeRangeMappedOntoItselfIsInitial) {
  EXPECT_EQ(uid_map_is_initial(GetParam().text), GetParam().initial);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, UidMapText,
    testing::Values(
        MapCase{"KernelLayout", "         0          0 4294967295\n", true},
        MapCase{"SingleSpaces", "0 0 4294967295", true},
        MapCase{"TabsAndCrLf", "0\t0\t\t4294967295\r\n", true},
        MapCase{"BlankLinesAround", "\n  \n0 0 4294967295\n\t\n\n", true},
        MapCase{"Empty", "", false},
        MapCase{"OnlyBlank", " \n\t\n", false},
        MapCase{"ContainerRoot", "0 100000 65536\n", false},
        MapCase{"PartialRange", "0 0 4294967294\n", false},
        MapCase{"TwoRanges", "0 0 1000\n1000 1000 4294966295\n", false},
        MapCase{"SecondLineAfterBlank", "0 0 4294967295\n\n0 0 4294967295\n", false},
        MapCase{"FourFields", "0 0 4294967295 0\n", false},
        MapCase{"TwoFields", "0 4294967295\n", false},
        MapCase{"LeadingZero", "00 0 4294967295\n", false},
        MapCase{"Signed", "+0 0 4294967295\n", false},
        MapCase{"GluedToText", "0 0 4294967295x\n", false},
        MapCase{"NulInside", std::string("0 0 4294967295\0", 15), false}),
    [](const testing::TestParamInfo<MapCase>& p) { return std::string(p.param.name); });

int open_descriptors() {
  int count = 0;
  DIR* d = ::opendir("/proc/self/fd");
  if (d == nullptr) return -1;
  while (const dirent* e = ::readdir(d)) {
    if (e->d_name[0] != '.') ++count;
  }
  ::closedir(d);
  return count;
}

// The test machines and CI run as root in the initial user namespace.
TEST(CheckInitialUserNamespace, TrueOnTheHostAndLeavesNoDescriptorOpen) {
  int before = open_descriptors();
  ASSERT_GE(before, 0);
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(check_initial_user_namespace());
  EXPECT_EQ(open_descriptors(), before);
}

TEST(CheckInitialUserNamespace, DoesNotDependOnTheWorkingDirectory) {
  char old[4096];
  ASSERT_NE(::getcwd(old, sizeof old), nullptr);
  ASSERT_EQ(::chdir("/proc/self"), 0);
  bool result = check_initial_user_namespace();
  ASSERT_EQ(::chdir(old), 0);
  EXPECT_TRUE(result);
}

}  // namespace
}  // namespace kestrix::core
