#include "child_guard.h"

#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <mutex>

#include "kestrix/plugins/child_guard.h"

namespace kestrix::plugins {
namespace {

// SIGQUIT too: its default action (a core dump) ends the run just the same.
constexpr std::array<int, 4> GUARDED{SIGTERM, SIGINT, SIGHUP, SIGQUIT};

// The state a handler may touch, which is why it is global: the pids of
// the running children (0 for a free entry), and which signals got our
// handler. An entry is emptied by exactly one party, the call that reaps
// its child or the handler, so a pid is never signalled once reaped.
std::array<std::atomic<pid_t>, MAX_RUNNING_CHILDREN> g_children{};
std::array<std::atomic<bool>, GUARDED.size()> g_handled{};
static_assert(std::atomic<pid_t>::is_always_lock_free && std::atomic<bool>::is_always_lock_free);

sigset_t guarded_set() {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : GUARDED) sigaddset(&set, sig);
  return set;
}

void set_default(int sig) {
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  sigemptyset(&dfl.sa_mask);
  ::sigaction(sig, &dfl, nullptr);
}

// Runs on whichever thread the signal finds: any thread of ours may reap
// any of our children.
void on_termination(int sig) {
  const int saved_errno = errno;
  std::array<pid_t, MAX_RUNNING_CHILDREN> taken{};
  std::size_t count = 0;
  for (auto& entry : g_children) {
    const pid_t child = entry.exchange(0);
    if (child <= 0) continue;
    ::kill(child, SIGKILL);
    taken[count++] = child;
  }
  for (std::size_t i = 0; i < count; ++i) {
    int status = 0;
    while (::waitpid(taken[i], &status, 0) < 0 && errno == EINTR) {
    }
  }
  set_default(sig);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, sig);
  ::pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
  ::raise(sig);
  errno = saved_errno;
}

// The places of ChildSlot. Holders that wait for another to end are
// counted apart: when all holders wait, none of them may. Waiting is on an
// atomic count of changes rather than a condition variable, whose wait
// needs a newer libstdc++ than the systems the program is built for.
struct Places {
  std::mutex lock;
  std::atomic<std::uint32_t> changes{0};  // bumped under `lock`
  std::size_t held = 0;
  std::size_t waiting = 0;
  std::uint64_t let_go = 0;

  void changed() {
    changes.fetch_add(1);
    changes.notify_all();
  }
  // With `hold` on `lock`: until `done` holds. A change made after the
  // count was read, before the wait, ends the wait at once.
  template <class Done>
  void wait(std::unique_lock<std::mutex>& hold, Done done) {
    while (!done()) {
      const std::uint32_t seen = changes.load();
      hold.unlock();
      changes.wait(seen);
      hold.lock();
    }
  }
};

Places& places() {
  static Places p;
  return p;
}

}  // namespace

void guard_children_against_termination() {
  for (std::size_t i = 0; i < GUARDED.size(); ++i) {
    struct sigaction old {};
    if (::sigaction(GUARDED[i], nullptr, &old) != 0 || old.sa_handler != SIG_DFL) continue;
    struct sigaction act {};
    act.sa_handler = on_termination;
    act.sa_mask = guarded_set();
    act.sa_flags = SA_RESTART;
    g_handled[i].store(true);
    if (::sigaction(GUARDED[i], &act, nullptr) != 0) g_handled[i].store(false);
  }
}

GuardedSignalsBlocked::GuardedSignalsBlocked() {
  const sigset_t set = guarded_set();
  ::pthread_sigmask(SIG_BLOCK, &set, &previous_);
}

GuardedSignalsBlocked::~GuardedSignalsBlocked() {
  ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

ChildSlot::ChildSlot() {
  Places& p = places();
  std::unique_lock hold(p.lock);
  p.wait(hold, [&p] { return p.held < MAX_RUNNING_CHILDREN; });
  ++p.held;
  seen_ = p.let_go;
}

ChildSlot::~ChildSlot() {
  Places& p = places();
  std::lock_guard hold(p.lock);
  --p.held;
  ++p.let_go;
  p.changed();
}

bool ChildSlot::wait_for_another_to_end() {
  Places& p = places();
  std::unique_lock hold(p.lock);
  ++p.waiting;
  // Every holder but the waiting ones has a child or is starting one; a
  // holder that joins the waiting may leave us the last to wait, which
  // wakes us to give up.
  p.changed();
  p.wait(hold, [&] { return p.let_go != seen_ || p.held == p.waiting; });
  --p.waiting;
  const bool another_ended = p.let_go != seen_;
  seen_ = p.let_go;
  return another_ended;
}

void track_child(pid_t pid) {
  for (auto& entry : g_children) {
    pid_t free = 0;
    if (entry.compare_exchange_strong(free, pid)) return;
  }
  // Never more children than places; were there, the parent-death signal
  // would still take this one with us.
}

bool untrack_child(pid_t pid) {
  for (auto& entry : g_children) {
    pid_t mine = pid;
    if (entry.compare_exchange_strong(mine, 0)) return true;
  }
  return false;
}

void park_until_terminated() {
  for (;;) ::pause();
}

void restore_signals_in_child(const sigset_t& mask) {
  for (std::size_t i = 0; i < GUARDED.size(); ++i)
    if (g_handled[i].load()) set_default(GUARDED[i]);
  ::sigprocmask(SIG_SETMASK, &mask, nullptr);
}

}  // namespace kestrix::plugins
