// Work started ahead of the moment its result is wanted.
#pragma once

#include <future>
#include <system_error>
#include <utility>

namespace kestrix::cli {

// Runs `work` on a thread of its own when one can be had (and is worth
// having), else when its result is wanted. What it does must not show
// before that moment: it logs nothing and runs no helper.
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
