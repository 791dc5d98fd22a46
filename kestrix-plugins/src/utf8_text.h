// UTF-8 checks and conversions with the wording our messages use.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace kestrix::plugins {

struct Utf8Fault {
  std::size_t index = 0;  // start of the offending sequence
  std::size_t length = 0; // bytes of the invalid sequence; 0 when the text ends inside it
};

// The first fault of `bytes`, or nothing when they are valid UTF-8.
std::optional<Utf8Fault> find_utf8_fault(std::string_view bytes);

// "invalid utf-8 sequence of N bytes from index I" or
// "incomplete utf-8 byte sequence from index I".
std::string utf8_fault_text(const Utf8Fault& fault);

}  // namespace kestrix::plugins
