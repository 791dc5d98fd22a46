// Runs a helper program as a child process under a time limit and collects
// everything it writes on standard output and standard error.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <vector>

#include "kestrix/error.h"
#include "kestrix/plugins/arg_list.h"
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

// Why a helper gave no answer. Callers that care about one case look at
// `kind` and `detail`; everyone else passes message() on.
struct HelperError {
  enum class Kind {
    Spawn,           // the program did not start; detail: the system's text
    Thread,          // no reader could be started; detail: the system's text
    Wait,            // asking after the child failed; detail: the system's text
    TimedOut,        // killed at the limit; detail: the limit in seconds
    OutputTooLarge,  // its output did not fit into memory
    OutOfMemory,     // the run itself ran out of memory
    Exited,          // a wait status other than 0; detail: excerpt of its stderr
    NotUtf8,         // standard output is not UTF-8; detail: the fault
  };

  Kind kind;
  std::string program;
  std::string detail;
  int status = 0;    // the wait status, for Exited
  int os_error = 0;  // the errno, for Spawn and Thread

  // Our own process lacked descriptors, processes or memory: a fault of
  // the moment, which says nothing about the helper.
  bool short_of_resources() const;

  // "failed to spawn <program>: <detail>", "<program> timed out after
  // <detail>s", "<program> exited with <status text>: <detail>" and so on.
  std::string message() const;
  Error to_error() const { return Error(message()); }
};

template <class T>
using HelperResult = std::expected<T, HelperError>;

// Starts `program` (an absolute path: no shell, no PATH search) with `args`
// after the program name, drains both pipes until end of file, and kills and
// reaps the child once `limit_secs` whole seconds have passed.
HelperResult<HelperOutput> run_with_timeout(const std::string& program, const ArgList& args,
                                            std::uint64_t limit_secs,
                                            Stdin input = Stdin::Inherit);

// run_with_timeout, then requires exit status 0 and UTF-8 standard output,
// which it returns unchanged.
HelperResult<std::string> run_helper(const std::string& program, const ArgList& args,
                                     std::uint64_t limit_secs, Stdin input = Stdin::Inherit);

// Failure messages quote the helper's output and wait status with these.
using utf8::excerpt;

}  // namespace kestrix::plugins
