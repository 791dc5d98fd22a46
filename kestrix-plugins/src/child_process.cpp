#include "child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <linux/close_range.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <utility>

#include "child_guard.h"
#include "kestrix/sanitizers.h"

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

[[noreturn]] void give_up(int report_fd, int err) {
  [[maybe_unused]] const ssize_t n = ::write(report_fd, &err, sizeof err);
  ::_exit(127);
}

// Everything the child does before its exec: async-signal-safe calls only,
// since it may share our memory. Any failure goes to `report_fd` as an
// errno value and ends the child.
[[noreturn]] void exec_child(const char* path, char* const* argv, Stdin input, int stdout_fd,
                             int stderr_fd, int report_fd, pid_t parent, const sigset_t& mask) {
  // The kernel sends this when the thread that started us ends, whatever
  // killed it; that thread waits for us until we are reaped. A parent
  // already gone before the call would never send it.
  if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0) give_up(report_fd, errno);
  if (::getppid() != parent) ::_exit(127);
  restore_signals_in_child(mask);

  if (input == Stdin::Empty) {
    const int null_fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (null_fd < 0) give_up(report_fd, errno);
    // dup2 onto itself would keep the close-on-exec flag.
    if (null_fd == 0 ? ::fcntl(0, F_SETFD, 0) != 0 : ::dup2(null_fd, 0) < 0) give_up(report_fd, errno);
  }
  if (::dup2(stdout_fd, 1) < 0 || ::dup2(stderr_fd, 2) < 0) give_up(report_fd, errno);
  // Descriptors that some library opened without close-on-exec stay with us;
  // marking rather than closing keeps the report pipe until the exec.
  if (::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC) != 0) {
    rlimit lim{};
    const rlim_t top = ::getrlimit(RLIMIT_NOFILE, &lim) == 0 ? lim.rlim_cur : 1024;
    for (rlim_t fd = 3; fd < std::min<rlim_t>(top, 1u << 20); ++fd)
      if (static_cast<int>(fd) != report_fd) ::close(static_cast<int>(fd));
  }
  ::execve(path, argv, environ);
  give_up(report_fd, errno);
}

struct ChildStart {
  const char* path;
  char* const* argv;
  Stdin input;
  int stdout_fd;
  int stderr_fd;
  int report_fd;
  pid_t parent;
  const sigset_t* mask;
};

int child_main(void* arg) {
  const ChildStart& c = *static_cast<const ChildStart*>(arg);
  exec_child(c.path, c.argv, c.input, c.stdout_fd, c.stderr_fd, c.report_fd, c.parent, *c.mask);
}

#if KESTRIX_SANITIZED
// The sanitizers keep state per thread and per stack that a child sharing
// our memory would corrupt; their builds pay for a copied address space.
pid_t start_child(ChildStart& start) {
  const pid_t pid = ::fork();
  if (pid == 0) child_main(&start);
  return pid;
}
#else
// The child shares our memory until its exec (we are suspended meanwhile),
// so the page tables of a run holding a large snapshot are neither copied
// for it nor torn down by its exec, and nothing needs copying on write
// afterwards. It runs only system calls, on a stack of its own with a guard
// page below.
pid_t start_child(ChildStart& start) {
  constexpr std::size_t GUARD = 4096;
  constexpr std::size_t STACK = 64 * 1024;
  void* map = ::mmap(nullptr, GUARD + STACK, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
  if (map == MAP_FAILED) return -1;
  pid_t pid = -1;
  if (::mprotect(map, GUARD, PROT_NONE) == 0)
    pid = ::clone(child_main, static_cast<char*>(map) + GUARD + STACK,
                  CLONE_VM | CLONE_VFORK | SIGCHLD, &start);
  const int err = errno;
  ::munmap(map, GUARD + STACK);
  errno = err;
  return pid;
}
#endif

// glibc 2.36 declares pidfd_open without C linkage, so its wrapper does not
// link from C++; the system call is the same. Returns -1 on old kernels.
int open_pidfd(pid_t pid) { return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)); }

// Waits for the child's end without reaping it: its pid stays ours until
// the reap. A failure leaves it to the reap to find out.
void wait_for_exit(pid_t pid) {
  siginfo_t info{};
  while (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) != 0 && errno == EINTR) {
  }
}

}  // namespace

Started<Pipe> make_pipe() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return std::unexpected(errno);
  Pipe p{UniqueFd(fds[0]), UniqueFd(fds[1])};
  if (!lift_above_std(p.read_end) || !lift_above_std(p.write_end)) return std::unexpected(errno);
  return p;
}

void widen_pipe(const UniqueFd& end) {
  [[maybe_unused]] const int size = ::fcntl(end.get(), F_SETPIPE_SZ, HELPER_PIPE_BYTES);
}

Started<ChildProcess> ChildProcess::spawn(const std::string& program, const ArgList& args,
                                          Stdin input, int stdout_fd, int stderr_fd) {
  std::vector<char*> argv;
  argv.reserve(args.size() + 2);
  argv.push_back(const_cast<char*>(program.c_str()));
  for (std::size_t i = 0; i < args.size(); ++i) argv.push_back(const_cast<char*>(args.c_str(i)));
  argv.push_back(nullptr);

  // Closed by the exec, or carrying the errno of whatever failed before it.
  auto report = make_pipe();
  if (!report) return std::unexpected(report.error());
  const pid_t parent = ::getpid();
  pid_t pid = -1;
  {
    GuardedSignalsBlocked blocked;
    ChildStart start{program.c_str(), argv.data(), input, stdout_fd, stderr_fd,
                     report->write_end.get(), parent, &blocked.previous()};
    pid = start_child(start);
    if (pid < 0) return std::unexpected(errno);
    track_child(pid);
  }
  // From here on a termination signal kills and reaps the child.
  ChildProcess child(pid);
  // The child is ours and unreaped, so its pid cannot be reused meanwhile.
  child.pidfd_.reset(open_pidfd(pid));
  report->write_end.reset();
  int exec_errno = 0;
  ssize_t got = 0;
  do {
    got = ::read(report->read_end.get(), &exec_errno, sizeof exec_errno);
  } while (got < 0 && errno == EINTR);
  if (got == static_cast<ssize_t>(sizeof exec_errno)) return std::unexpected(exec_errno);
  return child;
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)),
      reaped_(std::exchange(other.reaped_, true)),
      pidfd_(std::move(other.pidfd_)) {}

ChildProcess::~ChildProcess() { kill_and_reap(); }

void ChildProcess::kill_and_reap() {
  if (reaped_ || pid_ < 0) return;
  // Through the pidfd when there is one: should the termination handler
  // have reaped the child meanwhile, the signal cannot reach another
  // process that got its pid.
  if (pidfd_)
    ::syscall(SYS_pidfd_send_signal, pidfd_.get(), SIGKILL, nullptr, 0);
  else
    ::kill(pid_, SIGKILL);
  wait_for_exit(pid_);
  reap();
}

int ChildProcess::reap() {
  GuardedSignalsBlocked blocked;
  if (!untrack_child(pid_)) park_until_terminated();
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  reaped_ = true;
  pidfd_.reset();
  return status;
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

HelperResult<int> ChildProcess::wait_with_limit(const std::string& program, std::uint64_t limit_secs) {
  const auto start = Clock::now();
  for (;;) {
    siginfo_t info{};
    if (::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) != 0) {
      const int err = errno;
      if (err == EINTR) continue;
      kill_and_reap();
      return std::unexpected(HelperError{HelperError::Kind::Wait, program, os_error_text(err)});
    }
    if (info.si_pid == pid_) return reap();
    const auto elapsed = Clock::now() - start;
    const auto whole_secs =
        static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::seconds>(elapsed).count());
    if (whole_secs >= limit_secs) {
      kill_and_reap();
      return std::unexpected(
          HelperError{HelperError::Kind::TimedOut, program, std::to_string(limit_secs)});
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
