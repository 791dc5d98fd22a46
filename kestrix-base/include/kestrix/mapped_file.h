// A large regular file read in place: its pages are mapped from the
// system's cache, not copied into memory of our own. That saves the copy and
// the fresh pages a read into a buffer costs, which for a file of many
// megabytes is most of the reading.
//
// A mapping shows the file as it is, not as it was: whoever writes the file
// meanwhile changes what the mapping holds, and pages a writer cuts off by
// shrinking the file would end the process with SIGBUS. Here such pages read
// as zeros instead, and changed() tells the owner that the file is no longer
// what it mapped, so that the owner can read it again.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <string>
#include <string_view>

#include "kestrix/error.h"
#include "kestrix/unique_fd.h"

namespace kestrix {

class MappedFile {
 public:
  // The whole file at `path`, or why not: it cannot be opened, it is not a
  // regular file, it is empty or larger than `max_bytes`, or the system will
  // not map it. Every one of these leaves the caller to read it (load_file),
  // which says why in its own words where that fails too. Opened without
  // blocking, like load_file.
  static Result<MappedFile> map(const std::string& path, std::size_t max_bytes);

  MappedFile(MappedFile&& other) noexcept;
  MappedFile& operator=(MappedFile&& other) noexcept;
  ~MappedFile();

  std::string_view bytes() const { return {data_, size_}; }
  // Whether the file has been written since it was mapped, as far as its
  // size, times and identity show, or has lost pages the mapping held.
  bool changed() const;

 private:
  MappedFile(UniqueFd fd, char* data, std::size_t size, const struct stat& st, int slot)
      : fd_(std::move(fd)), data_(data), size_(size), mapped_(st), slot_(slot) {}
  void unmap() noexcept;

  UniqueFd fd_;
  char* data_;
  std::size_t size_;
  struct stat mapped_;  // the file as it was when mapped
  int slot_;            // its place among the mappings the SIGBUS handler knows
};

}  // namespace kestrix
