#include "kestrix/plugins/arg_list.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace kestrix::plugins {
namespace {

TEST(ArgList, HoldsEachArgumentAsGivenAndAsTheHelperGetsIt) {
  ArgList list{"limits", "", "two words"};
  list.push_back(std::string("a\0b", 3));
  ASSERT_EQ(list.size(), 4u);
  EXPECT_EQ(list[0], "limits");
  EXPECT_EQ(list[1], "");
  EXPECT_EQ(list[2], "two words");
  EXPECT_EQ(list[3], std::string_view("a\0b", 3));
  // What the kernel copies ends at the first NUL.
  EXPECT_STREQ(list.c_str(2), "two words");
  EXPECT_STREQ(list.c_str(3), "a");
  EXPECT_TRUE(ArgList().empty());
}

TEST(ArgList, AppendsARunOfAnotherList) {
  const ArgList items{"1000", "", "1002", "1003"};
  ArgList args{"user-info-sys"};
  args.append(items, 1, 2);
  EXPECT_EQ(args, (ArgList{"user-info-sys", "", "1002"}));
  args.append(items, 3, 1);
  args.append(items, 0, 0);
  EXPECT_EQ(args, (ArgList{"user-info-sys", "", "1002", "1003"}));
  EXPECT_STREQ(args.c_str(3), "1003");
  ArgList front{"limits", "-x"};
  ArgList names{"a", "bc"};
  names.prepend(front);
  EXPECT_EQ(names, (ArgList{"limits", "-x", "a", "bc"}));
  EXPECT_STREQ(names.c_str(3), "bc");
  ArgList none;
  none.prepend(front);
  EXPECT_EQ(none, front);
}

}  // namespace
}  // namespace kestrix::plugins
