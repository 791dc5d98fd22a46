// Work started ahead of the moment its result is wanted.
#pragma once

#include <future>
#include <system_error>
#include <utility>

namespace kestrix::cli {

// Runs `work` on a thread of its own when one can be had (and is worth
// having), else when its result is wanted: either way it starts only once
// what it reads is ready, and ends before get() returns. A helper call
// started so runs side by side with the others, and the thread that started
// the helper lives until the helper is reaped, as its parent-death signal
// requires. Leaving the scope waits for work still running.
template <class Work>
auto meanwhile(Work work, bool worth_a_thread = true) {
  if (worth_a_thread) {
    try {
      return std::async(std::launch::async, work);
    } catch (const std::system_error&) {
    }
  }
  return std::async(std::launch::deferred, std::move(work));
}

}  // namespace kestrix::cli
