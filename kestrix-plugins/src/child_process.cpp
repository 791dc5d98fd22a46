#include "child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <utility>

extern char** environ;

namespace kestrix::plugins {
namespace {

using Clock = std::chrono::steady_clock;

// Moves a descriptor that landed on 0-2 (when the tool itself runs with a
// standard stream closed) to 3 or above.
bool lift_above_std(UniqueFd& fd) {
  if (fd.get() > 2) return true;
  const int lifted = ::fcntl(fd.get(), F_DUPFD_CLOEXEC, 3);
  if (lifted < 0) return false;
  fd.reset(lifted);
  return true;
}

class FileActions {
 public:
  FileActions() { ok_ = ::posix_spawn_file_actions_init(&actions_) == 0; }
  ~FileActions() {
    if (ok_) ::posix_spawn_file_actions_destroy(&actions_);
  }
  FileActions(const FileActions&) = delete;
  FileActions& operator=(const FileActions&) = delete;
  posix_spawn_file_actions_t* get() { return &actions_; }
  bool ok() const { return ok_; }

 private:
  posix_spawn_file_actions_t actions_;
  bool ok_ = false;
};

// glibc 2.36 declares pidfd_open without C linkage, so its wrapper does not
// link from C++; the system call is the same. Returns -1 on old kernels.
int open_pidfd(pid_t pid) { return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)); }

}  // namespace

Result<Pipe> make_pipe() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return fail(os_error_text(errno));
  Pipe p{UniqueFd(fds[0]), UniqueFd(fds[1])};
  if (!lift_above_std(p.read_end) || !lift_above_std(p.write_end))
    return fail(os_error_text(errno));
  return p;
}

Result<ChildProcess> ChildProcess::spawn(const std::string& program,
                                         const std::vector<std::string>& args, Stdin input,
                                         int stdout_fd, int stderr_fd) {
  FileActions actions;
  if (!actions.ok()) return fail(os_error_text(ENOMEM));
  int rc = 0;
  if (input == Stdin::Empty)
    rc = ::posix_spawn_file_actions_addopen(actions.get(), 0, "/dev/null", O_RDONLY, 0);
  if (rc == 0) rc = ::posix_spawn_file_actions_adddup2(actions.get(), stdout_fd, 1);
  if (rc == 0) rc = ::posix_spawn_file_actions_adddup2(actions.get(), stderr_fd, 2);
  // Descriptors that some library opened without close-on-exec stay with us.
  if (rc == 0) rc = ::posix_spawn_file_actions_addclosefrom_np(actions.get(), 3);
  if (rc != 0) return fail(os_error_text(rc));

  std::vector<char*> argv;
  argv.reserve(args.size() + 2);
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  pid_t pid = -1;
  rc = ::posix_spawn(&pid, program.c_str(), actions.get(), nullptr, argv.data(), environ);
  if (rc != 0) return fail(os_error_text(rc));
  // The child is ours and unreaped, so its pid cannot be reused meanwhile.
  return ChildProcess(pid, UniqueFd(open_pidfd(pid)));
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)),
      reaped_(std::exchange(other.reaped_, true)),
      pidfd_(std::move(other.pidfd_)) {}

ChildProcess::~ChildProcess() { kill_and_reap(); }

void ChildProcess::kill_and_reap() {
  if (reaped_ || pid_ < 0) return;
  ::kill(pid_, SIGKILL);
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  reaped_ = true;
  pidfd_.reset();
}

void ChildProcess::sleep_until_exit_or(std::int64_t max_ms) {
  const auto until = Clock::now() + std::chrono::milliseconds(max_ms);
  for (;;) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now()).count();
    if (left <= 0) return;
    if (pidfd_) {
      pollfd p{pidfd_.get(), POLLIN, 0};
      const int n = ::poll(&p, 1, static_cast<int>(left));
      if (n < 0 && errno == EINTR) continue;  // a signal: sleep out the rest
      if (n != 0) return;  // exited, or poll unusable: look now
      continue;
    }
    const timespec ts{static_cast<time_t>(left / 1000), static_cast<long>(left % 1000) * 1000000};
    ::nanosleep(&ts, nullptr);  // cut short by a signal: the loop sleeps the rest
  }
}

Result<int> ChildProcess::wait_with_limit(const std::string& program, std::uint64_t limit_secs) {
  const auto start = Clock::now();
  for (;;) {
    int status = 0;
    const pid_t got = ::waitpid(pid_, &status, WNOHANG);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      const int err = errno;
      kill_and_reap();
      return fail("failed to wait for helper: " + os_error_text(err));
    }
    if (got == pid_) {
      reaped_ = true;
      pidfd_.reset();
      return status;
    }
    const auto elapsed = Clock::now() - start;
    const auto whole_secs =
        static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::seconds>(elapsed).count());
    if (whole_secs >= limit_secs) {
      kill_and_reap();
      return fail(program + " timed out after " + std::to_string(limit_secs) + "s");
    }
    // Never sleep past the moment the limit is reached.
    std::int64_t nap = POLL_INTERVAL.count();
    if (limit_secs - whole_secs == 1) {
      const auto to_limit = std::chrono::seconds(limit_secs) - elapsed;
      nap = std::clamp<std::int64_t>(
          std::chrono::ceil<std::chrono::milliseconds>(to_limit).count(), 1, nap);
    }
    sleep_until_exit_or(nap);
  }
}

}  // namespace kestrix::plugins
