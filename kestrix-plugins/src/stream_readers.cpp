#include "stream_readers.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>
#include <string_view>
#include <system_error>
#include <utility>

namespace kestrix::plugins {
namespace {

// A stream is read into pieces of this size, each a mapping of its own.
// A string that doubles as it fills peaks at three times what it held, and
// a panel's answer may be tens of megabytes: the pieces are joined into
// one string at the end, each unmapped as soon as it is copied, so the
// peak is the stream and one piece. A read takes up to a widened pipe's
// worth, the room left in the piece.
constexpr std::size_t PIECE_BYTES = 1024 * 1024;
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

}  // namespace

std::size_t PipeSource::read(char* at, std::size_t room) {
  if (ended_ || room == 0) return 0;
  if (!stopped_) {
    const Ready ready = wait_ready(fd_, stop_fd_, -1);
    if (ready == Ready::Data) return take(at, room);
    if (ready == Ready::End) return end();
    stopped_ = true;
  }
  if (final_taken_ >= FINAL_DRAIN_LIMIT || wait_ready(fd_, -1, 0) != Ready::Data) return end();
  const std::size_t got = take(at, room);
  final_taken_ += got;
  return got;
}

std::size_t PipeSource::take(char* at, std::size_t room) {
  ssize_t got = 0;
  do {
    got = ::read(fd_, at, room);
  } while (got < 0 && errno == EINTR);
  if (got <= 0) return end();
  return static_cast<std::size_t>(got);
}

namespace {

// One anonymous mapping of PIECE_BYTES; only the pages written to cost
// memory. Throws std::bad_alloc when none can be had.
class Piece {
 public:
  Piece() {
    void* at = ::mmap(nullptr, PIECE_BYTES, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS,
                      -1, 0);
    if (at == MAP_FAILED) throw std::bad_alloc();
    data_ = static_cast<char*>(at);
  }
  Piece(Piece&& other) noexcept : data_(std::exchange(other.data_, nullptr)), used_(other.used_) {}
  Piece& operator=(Piece&&) = delete;
  ~Piece() { release(); }

  void release() {
    if (data_ != nullptr) ::munmap(data_, PIECE_BYTES);
    data_ = nullptr;
  }
  char* free_end() { return data_ + used_; }
  std::size_t room() const { return PIECE_BYTES - used_; }
  void add(std::size_t bytes) { used_ += bytes; }
  std::string_view bytes() const { return {data_, used_}; }

 private:
  char* data_ = nullptr;
  std::size_t used_ = 0;
};

class Pieces {
 public:
  // Reads once into the free end of the last piece; false at the end.
  bool read_more(ByteSource& source) {
    if (pieces_.empty() || pieces_.back().room() == 0) {
      pieces_.reserve(pieces_.size() + 1);
      pieces_.emplace_back();
    }
    Piece& last = pieces_.back();
    const std::size_t got = source.read(last.free_end(), last.room());
    if (got == 0) return false;
    last.add(got);
    total_ += got;
    return true;
  }

  // Everything read, in one string; the pieces are gone afterwards.
  std::string join() {
    std::string out;
    out.resize_and_overwrite(total_, [this](char* data, std::size_t) {
      std::size_t at = 0;
      for (Piece& piece : pieces_) {
        const std::string_view bytes = piece.bytes();
        std::memcpy(data + at, bytes.data(), bytes.size());
        at += bytes.size();
        piece.release();
      }
      return at;
    });
    pieces_.clear();
    return out;
  }

 private:
  std::vector<Piece> pieces_;
  std::size_t total_ = 0;
};

std::string drain(int fd, int stop_fd) {
  Pieces pieces;
  PipeSource source(fd, stop_fd);
  while (pieces.read_more(source)) {
  }
  return pieces.join();
}

}  // namespace

StreamReaders::~StreamReaders() {
  stop();
  for (auto& t : threads_)
    if (t.joinable()) t.join();
}

Started<void> StreamReaders::ensure_stop_signal() {
  if (stop_) return {};
  stop_.reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!stop_) return std::unexpected(errno);
  return {};
}

Started<void> StreamReaders::add(UniqueFd pipe, std::function<void(ByteSource&)> read_out) {
  if (auto ok = ensure_stop_signal(); !ok) return ok;
  try {
    // Room first, so that a started thread always finds its result a place.
    threads_.reserve(threads_.size() + 1);
    results_.reserve(results_.size() + 1);
    std::promise<Drained> promise;
    auto future = promise.get_future();
    threads_.emplace_back([fd = std::move(pipe), stop_fd = stop_.get(),
                           read_out = std::move(read_out),
                           result = std::move(promise)]() mutable {
      try {
        if (read_out) {
          PipeSource source(fd.get(), stop_fd);
          read_out(source);
          result.set_value(Drained{});
        } else {
          result.set_value(Drained{drain(fd.get(), stop_fd), false});
        }
      } catch (...) {
        // The buffer is gone by now; closing the pipe below stops the writer.
        result.set_value(Drained{std::string(), true});
      }
      fd.reset();
    });
    results_.push_back(std::move(future));
  } catch (const std::system_error& e) {
    return std::unexpected(e.code().value());
  } catch (const std::bad_alloc&) {
    return std::unexpected(ENOMEM);
  }
  return {};
}

Started<void> StreamReaders::start(UniqueFd out, UniqueFd err,
                                  std::function<void(ByteSource&)> read_out) {
  if (auto ok = add(std::move(out), std::move(read_out)); !ok) return ok;
  return add(std::move(err), {});
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
