#include "kestrix/pages.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <utility>

namespace kestrix {

namespace {

struct PageRange {
  std::uintptr_t begin;
  std::uintptr_t end;
};

PageRange whole_pages(char* data, std::size_t bytes) {
  const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
  const auto at = reinterpret_cast<std::uintptr_t>(data);
  return {(at + page - 1) & ~(page - 1), (at + bytes) & ~(page - 1)};
}

}  // namespace

void release_pages(char* data, std::size_t bytes) noexcept {
  const auto [begin, end] = whole_pages(data, bytes);
  if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_DONTNEED);
}

void prepare_pages(char* data, std::size_t bytes) noexcept {
  const auto [begin, end] = whole_pages(data, bytes);
  if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE);
}

std::size_t move_pages(char* data, std::size_t bytes, char* to) noexcept {
  const auto [begin, end] = whole_pages(data, bytes);
  if (end <= begin) return 0;
  // Without DONTUNMAP the range left behind would be a hole in the buffer,
  // free for any other mapping to land in.
  void* moved = ::mremap(reinterpret_cast<void*>(begin), end - begin, end - begin,
                         MREMAP_MAYMOVE | MREMAP_FIXED | MREMAP_DONTUNMAP, to);
  return moved == MAP_FAILED ? 0 : end - begin;
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
