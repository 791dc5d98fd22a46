// Large buffers whose memory is had, and given back, page by page.
#pragma once

#include <cstddef>
#include <optional>

namespace kestrix {

// Gives the whole pages within a buffer's range back to the system, for a
// buffer whose owner has read that part and will not look at it again: they
// read as zeros afterwards. The bytes of partly covered pages stay.
void release_pages(char* data, std::size_t bytes) noexcept;

// Has the system provide the whole pages within a buffer's range at once,
// for a buffer about to be written there: cheaper than a fault for each.
// Only a hint; where the system does not take it, the writes fault as ever.
void prepare_pages(char* data, std::size_t bytes) noexcept;

// Moves the whole pages within a buffer's range, contents and all, to `to`
// (page-aligned, in the same buffer, over pages never written): the range
// left behind reads as zeros, as after release_pages. A buffer that gives
// back what it has read and fills on ahead so reuses its pages instead of
// having the system clear new ones. Gives the bytes moved: none when the
// system cannot move them.
std::size_t move_pages(char* data, std::size_t bytes, char* to) noexcept;

// Address space for a buffer that fills to a size nobody knows beforehand
// without ever moving, so that views into what it holds stay valid while it
// fills. Only the pages written to cost memory; release_pages gives them
// back.
class ReservedBytes {
 public:
  // Nothing when the system will not reserve `capacity` bytes.
  static std::optional<ReservedBytes> reserve(std::size_t capacity) noexcept;
  ReservedBytes(ReservedBytes&& other) noexcept;
  ReservedBytes& operator=(ReservedBytes&&) = delete;
  ~ReservedBytes();

  char* data() const { return data_; }
  std::size_t capacity() const { return capacity_; }

 private:
  ReservedBytes(char* data, std::size_t capacity) : data_(data), capacity_(capacity) {}
  char* data_;
  std::size_t capacity_;
};

}  // namespace kestrix
