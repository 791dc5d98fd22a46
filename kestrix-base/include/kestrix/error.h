// The error value every library returns: one English message, optionally
// the error that caused it.
#pragma once

#include <expected>
#include <memory>
#include <string>

namespace kestrix {

struct Error {
  std::string message;
  std::shared_ptr<const Error> cause;

  explicit Error(std::string msg) : message(std::move(msg)) {}
  Error(std::string msg, Error because)
      : message(std::move(msg)), cause(std::make_shared<const Error>(std::move(because))) {}
};

template <class T>
using Result = std::expected<T, Error>;

inline std::unexpected<Error> fail(std::string message) {
  return std::unexpected<Error>(Error(std::move(message)));
}

// The operating system's description of `errnum` followed by " (os error N)".
std::string os_error_text(int errnum);

}  // namespace kestrix
