// Threads that drain a child's output pipes while the caller waits for the
// child, so that a full pipe never holds the child up.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "kestrix/unique_fd.h"
#include "started.h"

namespace kestrix::plugins {

// Bytes that arrive a read at a time; a read that gives nothing is the end.
class ByteSource {
 public:
  virtual std::size_t read(char* at, std::size_t room) = 0;

 protected:
  ~ByteSource() = default;
};

// A child's pipe, read until end of file. Once the readers are told to
// stop, only what the pipe already holds is still taken, up to a limit: a
// writer that keeps filling it cannot hold the reader up.
class PipeSource final : public ByteSource {
 public:
  PipeSource(int fd, int stop_fd) : fd_(fd), stop_fd_(stop_fd) {}
  std::size_t read(char* at, std::size_t room) override;

 private:
  std::size_t take(char* at, std::size_t room);
  std::size_t end() {
    ended_ = true;
    return 0;
  }
  int fd_;
  int stop_fd_;
  bool stopped_ = false;
  bool ended_ = false;
  std::size_t final_taken_ = 0;
};

class StreamReaders {
 public:
  using Clock = std::chrono::steady_clock;

  StreamReaders() = default;
  StreamReaders(const StreamReaders&) = delete;
  StreamReaders& operator=(const StreamReaders&) = delete;
  // Stops and joins whatever is still running: no thread outlives the call
  // that started it, whichever way that call ends.
  ~StreamReaders();

  // Starts one reader for each of the child's standard output and standard
  // error, owning its pipe until it finishes. Fails with the system's errno
  // when no thread can be created. With `read_out`, standard output is
  // handed to it on its reader's thread as it arrives, rather than kept; it
  // must read to the end.
  Started<void> start(UniqueFd out, UniqueFd err, std::function<void(ByteSource&)> read_out = {});
  // True when every reader reached end of file (or a read error) before
  // `deadline`.
  bool wait_until(Clock::time_point deadline);
  // Tells the readers to finish now, after taking what is already buffered
  // in their pipes.
  void stop();
  struct Streams {
    std::string out;
    std::string err;
  };
  // Joins the readers, standard output first, and hands over their
  // buffers; a reader that failed contributes an empty buffer.
  Streams join();
  // After join(): some stream held more than memory could take, so its
  // buffer is empty and the output is incomplete.
  bool out_of_memory() const { return out_of_memory_; }

 private:
  struct Drained {
    std::string bytes;
    bool out_of_memory = false;
  };
  Started<void> ensure_stop_signal();
  Started<void> add(UniqueFd pipe, std::function<void(ByteSource&)> read_out);

  UniqueFd stop_;  // eventfd: readable once stop() has been called
  std::vector<std::thread> threads_;
  std::vector<std::future<Drained>> results_;
  bool out_of_memory_ = false;
};

}  // namespace kestrix::plugins
