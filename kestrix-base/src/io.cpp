#include "kestrix/io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <new>
#include <stdexcept>

#include "kestrix/unique_fd.h"

namespace kestrix {

namespace {

constexpr std::size_t CHUNK = 64 * 1024;

// Reads to the end, or to one byte past `max_bytes`; the errno of a failed
// read, else 0. With the size fstat gives as `hint`, a regular file arrives
// in one read and its end shows in the next, into a buffer one byte larger
// than the file. A file that claims nothing (procfs) or grows meanwhile
// gets a buffer that doubles as it fills.
int read_all(int fd, std::size_t hint, std::size_t max_bytes, std::string& data) {
  const std::size_t limit = max_bytes + 1;  // one more byte proves the file too large
  std::size_t capacity = std::min(limit, hint > 0 ? hint + 1 : CHUNK);
  for (;;) {
    const std::size_t old = data.size();
    ssize_t n = 0;
    data.resize_and_overwrite(capacity, [&](char* p, std::size_t) {
      n = ::read(fd, p + old, capacity - old);
      return old + (n > 0 ? static_cast<std::size_t>(n) : 0);
    });
    if (n == 0 || data.size() == limit) return 0;
    if (n < 0 && errno != EINTR) return errno;
    if (data.size() == capacity) capacity = std::min(limit, std::max(capacity * 2, capacity + CHUNK));
  }
}

std::unexpected<Error> too_large(std::size_t max_bytes) {
  return fail("larger than " + std::to_string(max_bytes) + " bytes");
}

}  // namespace

Result<std::string> load_file(const std::string& path, std::size_t max_bytes) {
  // Without blocking, and only regular files: a FIFO or device planted at
  // one of our paths must neither stall nor flood the run.
  const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (!fd) return fail(os_error_text(errno));
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return fail(os_error_text(errno));
  if (!S_ISREG(st.st_mode)) return fail("not a regular file");
  const std::size_t hint = st.st_size > 0 ? static_cast<std::size_t>(st.st_size) : 0;
  if (hint > max_bytes) return too_large(max_bytes);
  std::string data;
  try {
    if (const int err = read_all(fd.get(), hint, max_bytes, data); err != 0)
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
