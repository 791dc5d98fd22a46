#include "kestrix/pages.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <string_view>
#include <vector>

namespace kestrix {
namespace {

const std::size_t PAGE = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));

bool all(const char* at, std::size_t bytes, char c) {
  return std::string_view(at, bytes).find_first_not_of(c) == std::string_view::npos;
}

TEST(Pages, OnlyWholePagesAreReleasedOrMovedAndTheirPlaceReadsAsZeros) {
  auto space = ReservedBytes::reserve(64 * PAGE);
  ASSERT_TRUE(space);
  char* data = space->data();
  for (std::size_t i = 0; i < 8; ++i) std::fill_n(data + i * PAGE, PAGE, static_cast<char>('a' + i));

  // From the middle of page 0 to the middle of page 3: pages 1 and 2 go.
  release_pages(data + PAGE / 2, 3 * PAGE);
  EXPECT_TRUE(all(data, PAGE, 'a'));
  EXPECT_TRUE(all(data + PAGE, 2 * PAGE, '\0'));
  EXPECT_TRUE(all(data + 3 * PAGE, PAGE, 'd'));

  // Pages 4 and 5 move on to 32 and 33, whatever the partial pages around.
  ASSERT_EQ(move_pages(data + 4 * PAGE - 1, 2 * PAGE + 2, data + 32 * PAGE), 2 * PAGE);
  EXPECT_TRUE(all(data + 32 * PAGE, PAGE, 'e'));
  EXPECT_TRUE(all(data + 33 * PAGE, PAGE, 'f'));
  EXPECT_TRUE(all(data + 4 * PAGE, 2 * PAGE, '\0'));
  EXPECT_TRUE(all(data + 3 * PAGE, PAGE, 'd'));
  EXPECT_TRUE(all(data + 6 * PAGE, PAGE, 'g'));
  // The place they left is still the buffer's, and takes writes again.
  data[4 * PAGE] = 'x';
  EXPECT_EQ(data[4 * PAGE], 'x');
  EXPECT_EQ(move_pages(data + 1, PAGE - 2, data + 40 * PAGE), 0u);
}

// Pages made ready are had at once and keep what they hold.
TEST(Pages, PreparedPagesArePresentAndUnchanged) {
  auto space = ReservedBytes::reserve(16 * PAGE);
  ASSERT_TRUE(space);
  char* data = space->data();
  std::fill_n(data + PAGE, PAGE, 'b');
  prepare_pages(data + PAGE / 2, 4 * PAGE);
  std::vector<unsigned char> present(16);
  ASSERT_EQ(::mincore(data, 16 * PAGE, present.data()), 0);
  EXPECT_FALSE(present[0] & 1);  // only partly in the range
  for (std::size_t page = 1; page <= 3; ++page) EXPECT_TRUE(present[page] & 1) << page;
  EXPECT_FALSE(present[4] & 1);
  EXPECT_TRUE(all(data + PAGE, PAGE, 'b'));
  EXPECT_TRUE(all(data + 2 * PAGE, 2 * PAGE, '\0'));
}

}  // namespace
}  // namespace kestrix
