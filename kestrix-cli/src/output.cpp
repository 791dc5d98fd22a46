#include "output.h"

#include <unistd.h>

#include <cerrno>
#include <ctime>

namespace kestrix::cli {

void FdSink::write(std::string_view text) {
  while (!text.empty() && error_ == 0) {
    ssize_t n = ::write(fd_, text.data(), text.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      error_ = errno;
      return;
    }
    text.remove_prefix(static_cast<std::size_t>(n));
  }
}

bool print_stdout(std::string_view text) {
  FdSink out(STDOUT_FILENO);
  out.write(text);
  if (out.error() != 0) {
    report_write_failure(out.error());
    return false;
  }
  return true;
}

void print_stderr(std::string_view text) {
  FdSink err(STDERR_FILENO);
  err.write(text);
}

std::string error_report(const Error& error) {
  std::string text = "Error: " + error.message + "\n";
  if (error.cause) text += "\nCaused by:\n    " + error.cause->message + "\n";
  return text;
}

void report_write_failure(int errnum) {
  print_stderr(error_report(Error("failed to write to standard output: " + os_error_text(errnum))));
}

double whole_seconds_now() { return static_cast<double>(std::time(nullptr)); }

}  // namespace kestrix::cli
