#include "stream_readers.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <new>
#include <system_error>

namespace kestrix::plugins {
namespace {

// Free room wanted before each read. Short of it the buffer at least
// doubles, so an answer of n bytes is moved O(log n) times in all and every
// read can take what a widened pipe holds.
constexpr std::size_t MIN_READ_ROOM = 64 * 1024;
// After a stop, what is already in the pipe is still taken, up to the
// largest pipe buffer Linux allows by default; a writer that keeps filling
// the pipe cannot hold the reader beyond that.
constexpr std::size_t FINAL_DRAIN_LIMIT = 1024 * 1024;

enum class Ready { Data, End, Stop };

Ready wait_ready(int fd, int stop_fd, int timeout_ms) {
  std::array<pollfd, 2> fds{{{fd, POLLIN, 0}, {stop_fd, POLLIN, 0}}};
  for (;;) {
    const int n = ::poll(fds.data(), stop_fd >= 0 ? 2 : 1, timeout_ms);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Ready::End;
    if (n == 0) return Ready::Stop;
    if (fds[1].revents != 0) return Ready::Stop;
    return Ready::Data;  // POLLIN, POLLHUP or POLLERR: read() tells which
  }
}

// Reads once, straight into the free end of `buffer`; false at end of file
// or on a read error. Growing the buffer may throw std::bad_alloc.
bool read_more(int fd, std::string& buffer, std::size_t& taken) {
  if (buffer.capacity() - buffer.size() < MIN_READ_ROOM)
    buffer.reserve(std::max(buffer.capacity() * 2, buffer.size() + MIN_READ_ROOM));
  const std::size_t held = buffer.size();
  ssize_t got = 0;
  // Sized to the capacity, so no reallocation and no zero fill; the string
  // ends up holding exactly what was read.
  buffer.resize_and_overwrite(buffer.capacity(), [&](char* data, std::size_t room) {
    do {
      got = ::read(fd, data + held, room - held);
    } while (got < 0 && errno == EINTR);
    return held + (got > 0 ? static_cast<std::size_t>(got) : 0);
  });
  if (got <= 0) return false;
  taken += static_cast<std::size_t>(got);
  return true;
}

void drain_into(int fd, int stop_fd, std::string& buffer) {
  std::size_t taken = 0;
  for (;;) {
    const Ready ready = wait_ready(fd, stop_fd, -1);
    if (ready == Ready::End) return;
    if (ready == Ready::Stop) break;
    if (!read_more(fd, buffer, taken)) return;
  }
  for (std::size_t final_taken = 0; final_taken < FINAL_DRAIN_LIMIT;)
    if (wait_ready(fd, -1, 0) != Ready::Data || !read_more(fd, buffer, final_taken)) return;
}

std::string drain(int fd, int stop_fd) {
  std::string buffer;
  drain_into(fd, stop_fd, buffer);
  // A silent stream (most standard errors) gives its room back.
  if (buffer.empty()) return std::string();
  return buffer;
}

}  // namespace

StreamReaders::~StreamReaders() {
  stop();
  for (auto& t : threads_)
    if (t.joinable()) t.join();
}

Result<void> StreamReaders::ensure_stop_signal() {
  if (stop_) return {};
  stop_.reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!stop_) return fail(os_error_text(errno));
  return {};
}

Result<void> StreamReaders::add(UniqueFd pipe) {
  if (auto ok = ensure_stop_signal(); !ok) return ok;
  try {
    // Room first, so that a started thread always finds its result a place.
    threads_.reserve(threads_.size() + 1);
    results_.reserve(results_.size() + 1);
    std::promise<Drained> promise;
    auto future = promise.get_future();
    threads_.emplace_back([fd = std::move(pipe), stop_fd = stop_.get(),
                           result = std::move(promise)]() mutable {
      try {
        result.set_value(Drained{drain(fd.get(), stop_fd), false});
      } catch (...) {
        // The buffer is gone by now; closing the pipe below stops the writer.
        result.set_value(Drained{std::string(), true});
      }
      fd.reset();
    });
    results_.push_back(std::move(future));
  } catch (const std::system_error& e) {
    return fail(os_error_text(e.code().value()));
  } catch (const std::bad_alloc&) {
    return fail(os_error_text(ENOMEM));
  }
  return {};
}

Result<void> StreamReaders::start(UniqueFd out, UniqueFd err) {
  if (auto ok = add(std::move(out)); !ok) return ok;
  return add(std::move(err));
}

bool StreamReaders::wait_until(Clock::time_point deadline) {
  for (auto& r : results_)
    if (r.wait_until(deadline) != std::future_status::ready) return false;
  return true;
}

void StreamReaders::stop() {
  if (!stop_) return;
  const std::uint64_t one = 1;
  // The counter only fails to grow when it is already huge: still readable.
  [[maybe_unused]] const ssize_t n = ::write(stop_.get(), &one, sizeof one);
}

StreamReaders::Streams StreamReaders::join() {
  std::array<std::string, 2> buffers;
  for (std::size_t i = 0; i < threads_.size(); ++i) {
    threads_[i].join();
    Drained drained = results_[i].get();
    out_of_memory_ = out_of_memory_ || drained.out_of_memory;
    if (i < buffers.size()) buffers[i] = std::move(drained.bytes);
  }
  threads_.clear();
  results_.clear();
  return Streams{std::move(buffers[0]), std::move(buffers[1])};
}

}  // namespace kestrix::plugins
