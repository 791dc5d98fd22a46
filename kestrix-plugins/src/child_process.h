// One started helper process: spawning it without a shell, waiting for it
// under a time limit, and making sure it is reaped whatever happens, even
// when the program itself is ended by a signal.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "kestrix/plugins/helper_runner.h"
#include "kestrix/unique_fd.h"
#include "started.h"

namespace kestrix::plugins {

struct Pipe {
  UniqueFd read_end;
  UniqueFd write_end;
};

// A close-on-exec pipe whose ends avoid descriptors 0 to 2, so that wiring
// them onto the child's standard streams cannot overwrite one another.
Started<Pipe> make_pipe();

// Asks for a pipe of HELPER_PIPE_BYTES, so that a large answer crosses in
// few reads and the helper waits less on a full pipe. A refusal (the user's
// pipe quota, a lower system maximum) keeps the default size.
inline constexpr int HELPER_PIPE_BYTES = 1024 * 1024;
void widen_pipe(const UniqueFd& end);

class ChildProcess {
 public:
  // Starts `program` with `args` after its name.
  static Started<ChildProcess> spawn(const std::string& program, const ArgList& args,
                                    Stdin input, int stdout_fd, int stderr_fd);

  ChildProcess(ChildProcess&& other) noexcept;
  ChildProcess& operator=(ChildProcess&&) = delete;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  // Kills and reaps a child that is still unreaped.
  ~ChildProcess();

  // Polls the child at most POLL_INTERVAL apart, waking as soon as it
  // exits. Returns its wait status, or kills and reaps it once `limit_secs`
  // whole seconds have passed (TimedOut), or fails with Wait.
  HelperResult<int> wait_with_limit(const std::string& program, std::uint64_t limit_secs);

  // SIGKILL unless already reaped, then a blocking reap; errors ignored.
  void kill_and_reap();

 private:
  explicit ChildProcess(pid_t pid) : pid_(pid) {}
  void sleep_until_exit_or(std::int64_t max_ms);
  // Once the child has exited: its wait status. A child the termination
  // handler has taken over is its to reap; this thread then waits for the
  // end of the process.
  int reap();

  pid_t pid_ = -1;
  bool reaped_ = false;
  UniqueFd pidfd_;  // readable once the child has exited; absent on old kernels
};

}  // namespace kestrix::plugins
