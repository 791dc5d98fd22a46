#include "kestrix/pages.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

namespace kestrix {

namespace {
constexpr std::uintptr_t HUGE_PAGE = std::uintptr_t{2} << 20;
constexpr std::size_t WORTH_IT = std::size_t{4} << 20;
}  // namespace

void prefer_huge_pages(void* data, std::size_t bytes) noexcept {
  if (bytes < WORTH_IT) return;
  const auto at = reinterpret_cast<std::uintptr_t>(data);
  const std::uintptr_t begin = (at + HUGE_PAGE - 1) & ~(HUGE_PAGE - 1);
  const std::uintptr_t end = (at + bytes) & ~(HUGE_PAGE - 1);
  // Refused where huge pages are off or the kernel lacks them; the buffer
  // then simply gets small pages.
  if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

void release_pages(char* data, std::size_t bytes) noexcept {
  const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
  const auto at = reinterpret_cast<std::uintptr_t>(data);
  const std::uintptr_t begin = (at + page - 1) & ~(page - 1);
  const std::uintptr_t end = (at + bytes) & ~(page - 1);
  if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_DONTNEED);
}

}  // namespace kestrix
