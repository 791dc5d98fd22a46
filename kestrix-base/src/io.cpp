#include "kestrix/io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>
#include <stdexcept>

namespace kestrix {

namespace {

constexpr std::size_t kChunk = 64 * 1024;

struct FdCloser {
  int fd;
  ~FdCloser() { ::close(fd); }
};

// Reads to the end, or to one byte past `max_bytes`; the errno of a failed
// read, else 0.
int read_all(int fd, std::size_t hint, std::size_t max_bytes, std::string& data) {
  const std::size_t limit = max_bytes + 1;  // one more byte proves the file too large
  data.reserve(std::min(hint, max_bytes) + 1);
  while (data.size() < limit) {
    if (data.capacity() == data.size())
      data.reserve(std::min(limit, std::max(data.capacity() * 2, data.size() + kChunk)));
    const std::size_t old = data.size();
    const std::size_t want = std::min(data.capacity(), limit) - old;
    ssize_t n = 0;
    data.resize_and_overwrite(old + want, [&](char* p, std::size_t) {
      n = ::read(fd, p + old, want);
      return old + (n > 0 ? static_cast<std::size_t>(n) : 0);
    });
    if (n == 0) return 0;
    if (n < 0 && errno != EINTR) return errno;
  }
  return 0;
}

std::unexpected<Error> too_large(std::size_t max_bytes) {
  return fail("larger than " + std::to_string(max_bytes) + " bytes");
}

}  // namespace

Result<std::string> load_file(const std::string& path, std::size_t max_bytes) {
  // Without blocking, and only regular files: a FIFO or device planted at
  // one of our paths must neither stall nor flood the run.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return fail(os_error_text(errno));
  FdCloser closer{fd};
  struct stat st {};
  if (::fstat(fd, &st) != 0) return fail(os_error_text(errno));
  if (!S_ISREG(st.st_mode)) return fail("not a regular file");
  const std::size_t hint = st.st_size > 0 ? static_cast<std::size_t>(st.st_size) : 0;
  if (hint > max_bytes) return too_large(max_bytes);
  std::string data;
  try {
    if (const int err = read_all(fd, hint, max_bytes, data); err != 0)
      return fail(os_error_text(err));
  } catch (const std::bad_alloc&) {
    return fail("too large for memory");  // as unreadable as a missing file
  } catch (const std::length_error&) {
    return fail("too large for memory");
  }
  if (data.size() > max_bytes) return too_large(max_bytes);
  return data;
}

Result<std::string> load_text_file(const std::string& path, std::size_t max_bytes) {
  auto data = load_file(path, max_bytes);
  if (data && !is_utf8(*data)) return fail("not valid UTF-8");
  return data;
}

std::optional<std::string> read_file(const std::string& path, std::size_t max_bytes) {
  auto data = load_file(path, max_bytes);
  if (!data) return std::nullopt;
  return std::move(*data);
}

std::optional<std::string> read_text_file(const std::string& path, std::size_t max_bytes) {
  auto data = load_text_file(path, max_bytes);
  if (!data) return std::nullopt;
  return std::move(*data);
}

}  // namespace kestrix
