// Standard output and standard error for the driver.
#pragma once

#include <string>
#include <string_view>

#include "kestrix/error.h"
#include "kestrix/json/writer.h"

namespace kestrix::cli {

// Writes straight to a descriptor; remembers the first failure. A closed
// pipe ends the process through SIGPIPE before a failure is seen.
class FdSink final : public json::Sink {
 public:
  explicit FdSink(int fd) : fd_(fd) {}
  void write(std::string_view text) override;
  // 0 when every write succeeded, else the first errno.
  int error() const { return error_; }

 private:
  int fd_;
  int error_ = 0;
};

// Prints `text` on standard output; false (after a message on standard
// error) when it could not be written whole.
bool print_stdout(std::string_view text);
void print_stderr(std::string_view text);

// "Error: <message>", then for a cause a blank line, "Caused by:" and the
// cause indented by four spaces.
std::string error_report(const Error& error);

// Reports a failed write to standard output.
void report_write_failure(int errnum);

// The current time as whole seconds since the epoch.
double whole_seconds_now();

}  // namespace kestrix::cli
