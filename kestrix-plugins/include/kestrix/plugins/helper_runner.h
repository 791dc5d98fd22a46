// Runs a helper program as a child process under a time limit and collects
// everything it writes on standard output and standard error.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "kestrix/error.h"
#include "kestrix/plugins/status_text.h"
#include "kestrix/utf8.h"

namespace kestrix::plugins {

inline constexpr std::chrono::milliseconds POLL_INTERVAL{50};

struct HelperOutput {
  std::string stdout_bytes;
  std::string stderr_bytes;
  int status = 0;  // raw wait status
};

enum class Stdin { Inherit, Empty };

// Starts `program` (an absolute path: no shell, no PATH search) with `args`
// after the program name, drains both pipes until end of file, and kills and
// reaps the child once `limit_secs` whole seconds have passed.
Result<HelperOutput> run_with_timeout(const std::string& program,
                                      const std::vector<std::string>& args,
                                      std::uint64_t limit_secs, Stdin input = Stdin::Inherit);

// run_with_timeout, then requires exit status 0 and UTF-8 standard output,
// which it returns unchanged.
Result<std::string> run_helper(const std::string& program, const std::vector<std::string>& args,
                               std::uint64_t limit_secs, Stdin input = Stdin::Inherit);

// Failure messages quote the helper's output and wait status with these.
using utf8::excerpt;

}  // namespace kestrix::plugins
