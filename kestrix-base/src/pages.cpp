#include "kestrix/pages.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <utility>

namespace kestrix {

void release_pages(char* data, std::size_t bytes) noexcept {
  const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
  const auto at = reinterpret_cast<std::uintptr_t>(data);
  const std::uintptr_t begin = (at + page - 1) & ~(page - 1);
  const std::uintptr_t end = (at + bytes) & ~(page - 1);
  if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_DONTNEED);
}

std::optional<ReservedBytes> ReservedBytes::reserve(std::size_t capacity) noexcept {
  // Kept out of the commit charge, so only written pages count. A system
  // that charges everything (strict overcommit) refuses a reservation this
  // large, and the caller does without.
  void* at = ::mmap(nullptr, capacity, PROT_READ | PROT_WRITE,
                    MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (at == MAP_FAILED) return std::nullopt;
  return ReservedBytes(static_cast<char*>(at), capacity);
}

ReservedBytes::ReservedBytes(ReservedBytes&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), capacity_(std::exchange(other.capacity_, 0)) {}

ReservedBytes::~ReservedBytes() {
  if (data_ != nullptr) ::munmap(data_, capacity_);
}

}  // namespace kestrix
