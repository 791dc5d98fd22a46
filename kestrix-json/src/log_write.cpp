#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "kestrix/log.h"

namespace kestrix::log {

void write_line(int fd, std::string_view line) noexcept {
  const int saved_errno = errno;
  // The driver lets SIGPIPE end the process when standard output goes away;
  // a diagnostic line to a closed standard error must not. Blocked, the
  // signal stays pending on this thread and is taken back below.
  sigset_t pipe_only, old_mask;
  sigemptyset(&pipe_only);
  sigaddset(&pipe_only, SIGPIPE);
  if (::pthread_sigmask(SIG_BLOCK, &pipe_only, &old_mask) != 0) {
    errno = saved_errno;
    return;
  }
  sigset_t pending;
  sigemptyset(&pending);
  // A SIGPIPE pending before the write is someone else's: leave it be.
  const bool was_pending = ::sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;

  ssize_t written;
  do {
    written = ::write(fd, line.data(), line.size());
  } while (written < 0 && errno == EINTR);

  if (written < 0 && errno == EPIPE && !was_pending) {
    const timespec no_wait{0, 0};
    while (::sigtimedwait(&pipe_only, nullptr, &no_wait) < 0 && errno == EINTR) {
    }
  }
  ::pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);
  errno = saved_errno;
}

}  // namespace kestrix::log
