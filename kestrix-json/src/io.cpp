#include "kestrix/io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace kestrix {

Result<std::string> load_file(const std::string& path) {
  // Without blocking, and only regular files: a FIFO or device planted at
  // one of our paths must neither stall nor flood the run.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return fail(os_error_text(errno));
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    const int why = errno;
    ::close(fd);
    return fail(os_error_text(why));
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    return fail("not a regular file");
  }
  std::string data;
  if (st.st_size > 0) data.reserve(static_cast<std::size_t>(st.st_size) + 1);
  char chunk[65536];
  for (;;) {
    // Read straight into the string's spare capacity when there is room.
    std::size_t spare = data.capacity() - data.size();
    ssize_t n;
    if (spare >= sizeof chunk) {
      std::size_t old = data.size();
      data.resize(data.capacity());
      n = ::read(fd, data.data() + old, spare);
      data.resize(old + (n > 0 ? static_cast<std::size_t>(n) : 0));
    } else {
      n = ::read(fd, chunk, sizeof chunk);
      if (n > 0) data.append(chunk, static_cast<std::size_t>(n));
    }
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      const int why = errno;
      ::close(fd);
      return fail(os_error_text(why));
    }
  }
  ::close(fd);
  return data;
}

Result<std::string> load_text_file(const std::string& path) {
  auto data = load_file(path);
  if (data && !is_utf8(*data)) return fail("not valid UTF-8");
  return data;
}

std::optional<std::string> read_file(const std::string& path) {
  auto data = load_file(path);
  if (!data) return std::nullopt;
  return std::move(*data);
}

std::optional<std::string> read_text_file(const std::string& path) {
  auto data = load_text_file(path);
  if (!data) return std::nullopt;
  return std::move(*data);
}

bool is_utf8(std::string_view bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const auto* end = p + bytes.size();
  while (p < end) {
    // Eight ASCII bytes at a time: the common case in JSON and config text.
    if (end - p >= 8) {
      std::uint64_t word;
      std::memcpy(&word, p, 8);
      if ((word & 0x8080808080808080ULL) == 0) {
        p += 8;
        continue;
      }
    }
    unsigned char c = *p;
    if (c < 0x80) {
      ++p;
      continue;
    }
    std::size_t need;
    unsigned char lo = 0x80, hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
      need = 1;
    } else if (c >= 0xE0 && c <= 0xEF) {
      need = 2;
      if (c == 0xE0) lo = 0xA0;
      if (c == 0xED) hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      need = 3;
      if (c == 0xF0) lo = 0x90;
      if (c == 0xF4) hi = 0x8F;
    } else {
      return false;
    }
    if (static_cast<std::size_t>(end - p) <= need) return false;
    if (p[1] < lo || p[1] > hi) return false;
    for (std::size_t k = 2; k <= need; ++k)
      if (p[k] < 0x80 || p[k] > 0xBF) return false;
    p += need + 1;
  }
  return true;
}

}  // namespace kestrix
