// What the termination handler knows about the running helper, and the
// signal masking that keeps that knowledge true.
#pragma once

#include <signal.h>
#include <sys/types.h>

namespace kestrix::plugins {

// Blocks the guarded signals in the calling thread for its lifetime. Starting
// a child and recording its pid, and reaping it and forgetting its pid, each
// happen inside one such block, so the handler only ever sees the pid of a
// child that is still unreaped (its pid cannot belong to anyone else) or no
// pid at all.
class GuardedSignalsBlocked {
 public:
  GuardedSignalsBlocked();
  ~GuardedSignalsBlocked();
  GuardedSignalsBlocked(const GuardedSignalsBlocked&) = delete;
  GuardedSignalsBlocked& operator=(const GuardedSignalsBlocked&) = delete;
  // The mask the thread had before: what a child must run with.
  const sigset_t& previous() const { return previous_; }

 private:
  sigset_t previous_;
};

// One helper runs at a time; both must be called inside GuardedSignalsBlocked.
void track_child(pid_t pid);
void forget_child();

// In a freshly started child, before exec: our handlers go back to the
// default action and the mask to `mask`. Async-signal-safe, and it writes
// nothing but the child's own handler table and mask, since the child may
// share our memory.
void restore_signals_in_child(const sigset_t& mask);

}  // namespace kestrix::plugins
