#include <malloc.h>
#include <unistd.h>

#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "driver.h"

namespace {

// Memory is gone: the report is written from static text, allocating nothing.
int out_of_memory() {
  constexpr std::string_view report = "Error: out of memory\n";
  [[maybe_unused]] const ssize_t n = ::write(STDERR_FILENO, report.data(), report.size());
  return 1;
}

}  // namespace

// The libraries turn exhaustion into their documented outcomes where they
// can; whatever still runs out of memory ends here, never in an abort.
int main(int argc, char** argv) {
  // A large helper answer is decoded on the thread that reads it. With one
  // arena for every thread, that decode reuses what the main thread has
  // freed, such as the argument list, instead of growing an arena beside it.
  ::mallopt(M_ARENA_MAX, 1);
  // Large blocks are mapped on their own and given back whole when freed.
  // By default the bound rises as such blocks are freed, after which the
  // run's large blocks (rows, argument lists) land in the heap, where what
  // is freed stays counted against us to the end.
  ::mallopt(M_MMAP_THRESHOLD, 128 * 1024);
  try {
    return kestrix::cli::run(std::vector<std::string>(argv, argv + argc));
  } catch (const std::bad_alloc&) {
    return out_of_memory();
  } catch (const std::length_error&) {
    return out_of_memory();
  }
}
