// The buffer rule of the reentrant password-database calls: 4096 bytes,
// doubled on ERANGE, never beyond 1 MiB.
#pragma once

#include <cerrno>
#include <cstddef>
#include <vector>

namespace kestrix::core {

inline constexpr std::size_t PASSWD_BUFFER_FIRST = 4096;
inline constexpr std::size_t PASSWD_BUFFER_LAST = 1024 * 1024;

// Calls `call(data, size)` until it returns something other than ERANGE or
// the buffer is already at its largest; returns the last result. `buffer`
// keeps its grown size, so an enumeration pays for a large entry once.
template <class Call>
int call_with_growing_buffer(std::vector<char>& buffer, Call call) {
  if (buffer.size() < PASSWD_BUFFER_FIRST) buffer.resize(PASSWD_BUFFER_FIRST);
  for (;;) {
    const int rc = call(buffer.data(), buffer.size());
    if (rc != ERANGE || buffer.size() >= PASSWD_BUFFER_LAST) return rc;
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace kestrix::core
