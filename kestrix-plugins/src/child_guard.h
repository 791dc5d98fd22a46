// What the termination handler knows about the running helpers, the bound
// on how many run at once, and the signal masking that makes starting one
// and recording it a single step.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>

namespace kestrix::plugins {

// A run makes a handful of calls side by side; a request split over several
// runs of a helper makes them one after another, in one place.
inline constexpr std::size_t MAX_RUNNING_CHILDREN = 8;

// Blocks the guarded signals in the calling thread for its lifetime. Starting
// a child and recording its pid happen inside one such block, so that the
// handler, when it runs on this thread, never misses a child it started.
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

// A place among the calls that run a child, held from before the child's
// pipes are made until its descriptors and threads are gone. Taking one
// waits while MAX_RUNNING_CHILDREN are held.
class ChildSlot {
 public:
  ChildSlot();
  ~ChildSlot();
  ChildSlot(const ChildSlot&) = delete;
  ChildSlot& operator=(const ChildSlot&) = delete;

  // After a start failed for want of descriptors, processes or memory:
  // true once another call has let go of its place (since this one was
  // taken or last waited), false at once when every other holder is itself
  // waiting, or there is none. A call that fails then lets go, which wakes
  // the others to try again.
  bool wait_for_another_to_end();

 private:
  std::uint64_t seen_;  // the count of places let go when we last looked
};

// The pids of the started, unreaped children. track_child inside
// GuardedSignalsBlocked, right after the start. Before reaping, a child is
// untracked: false when the termination handler has taken it over, which
// then kills and reaps it and ends the process, so the caller must leave it
// alone (park_until_terminated).
void track_child(pid_t pid);
bool untrack_child(pid_t pid);
[[noreturn]] void park_until_terminated();

// In a freshly started child, before exec: our handlers go back to the
// default action and the mask to `mask`. Async-signal-safe, and it writes
// nothing but the child's own handler table and mask, since the child may
// share our memory.
void restore_signals_in_child(const sigset_t& mask);

}  // namespace kestrix::plugins
