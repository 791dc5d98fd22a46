#include "arg_batches.h"

#include <unistd.h>

#include <algorithm>

extern char** environ;

namespace kestrix::plugins {
namespace {

// The kernel never grants arguments and environment more than three
// quarters of the default 8 MiB stack limit, whatever RLIMIT_STACK says,
// and always at least 128 KiB.
constexpr std::size_t KERNEL_CAP = 6 * 1024 * 1024;
constexpr std::size_t KERNEL_FLOOR = 128 * 1024;
// Longest single argument the kernel takes, its NUL included.
constexpr std::size_t MAX_ARG_STRLEN = 128 * 1024;
// Slack for what our count leaves out (the argument vector's terminating
// pointer, alignment, kernels that count slightly differently).
constexpr std::size_t SAFETY_MARGIN = 8 * 1024;

std::size_t system_arg_limit() {
  const long sys = ::sysconf(_SC_ARG_MAX);
  const std::size_t limit = sys > 0 ? static_cast<std::size_t>(sys) : KERNEL_FLOOR;
  return std::clamp(limit, KERNEL_FLOOR, KERNEL_CAP);
}

}  // namespace

std::vector<Batch> split_batches(const ArgList& items, std::size_t room) {
  std::vector<Batch> batches;
  std::size_t begin = 0;
  std::size_t used = 0;
  bool batch_closed = false;  // the open batch holds an oversized item
  for (std::size_t i = 0; i < items.size(); ++i) {
    const std::size_t cost = arg_cost(items[i]);
    const bool alone = items[i].size() + 1 > MAX_ARG_STRLEN;
    if (i > begin && (used + cost > room || alone || batch_closed)) {
      batches.push_back({begin, i - begin});
      begin = i;
      used = 0;
    }
    used += cost;
    batch_closed = alone;
  }
  if (begin < items.size()) batches.push_back({begin, items.size() - begin});
  return batches;
}

std::size_t argument_room(const std::string& program, const ArgList& fixed) {
  // The kernel copies the path of the program besides argv[0].
  std::size_t used = program.size() + 1 + arg_cost(program) + SAFETY_MARGIN;
  for (std::size_t i = 0; i < fixed.size(); ++i) used += arg_cost(fixed[i]);
  for (char** e = environ; e != nullptr && *e != nullptr; ++e) used += arg_cost(*e);
  const std::size_t limit = system_arg_limit();
  return used < limit ? limit - used : 0;
}

}  // namespace kestrix::plugins
