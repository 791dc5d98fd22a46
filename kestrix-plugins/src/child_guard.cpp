#include "child_guard.h"

#include <pthread.h>
#include <sys/wait.h>

#include <array>
#include <atomic>
#include <cerrno>

#include "kestrix/plugins/child_guard.h"

namespace kestrix::plugins {
namespace {

// SIGQUIT too: its default action (a core dump) ends the run just the same.
constexpr std::array<int, 4> GUARDED{SIGTERM, SIGINT, SIGHUP, SIGQUIT};

// The state a handler may touch, which is why it is global: the pid of the
// running child (-1 for none), which signals got our handler, and the thread
// that reaps children.
std::atomic<pid_t> g_child{-1};
std::array<std::atomic<bool>, GUARDED.size()> g_handled{};
std::atomic<bool> g_have_main{false};
pthread_t g_main_thread;
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

void on_termination(int sig) {
  const int saved_errno = errno;
  // Only the main thread reaps; a reader thread that caught the signal hands
  // it on (the main thread may have it blocked for a moment: it stays pending).
  if (g_have_main.load() && !pthread_equal(pthread_self(), g_main_thread)) {
    ::pthread_kill(g_main_thread, sig);
    errno = saved_errno;
    return;
  }
  const pid_t child = g_child.load();
  if (child > 0) {
    ::kill(child, SIGKILL);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
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

}  // namespace

void guard_children_against_termination() {
  g_main_thread = pthread_self();
  g_have_main.store(true);
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

GuardedSignalsBlocked::~GuardedSignalsBlocked() { ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }

void track_child(pid_t pid) { g_child.store(pid); }
void forget_child() { g_child.store(-1); }

void restore_signals_in_child(const sigset_t& mask) {
  for (std::size_t i = 0; i < GUARDED.size(); ++i)
    if (g_handled[i].load()) set_default(GUARDED[i]);
  ::sigprocmask(SIG_SETMASK, &mask, nullptr);
}

}  // namespace kestrix::plugins
