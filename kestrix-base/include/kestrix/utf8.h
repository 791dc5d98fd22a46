// The one place that decides what valid UTF-8 is: strict, with no overlong
// forms, surrogates or code points past U+10FFFF. Every check, the lossy
// decoding and the character-boundary cuts are built on first_fault.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace kestrix {

namespace utf8 {

struct Fault {
  std::size_t valid_up_to = 0;  // bytes before the offending sequence, all valid
  // Bytes of the maximal invalid subpart there (1 to 3); nothing when the
  // text ends inside a sequence that could still be finished.
  std::optional<std::size_t> error_len;
};

// The first fault of `bytes`, or nothing when all of them are valid.
std::optional<Fault> first_fault(std::string_view bytes);

// "invalid utf-8 sequence of N bytes from index I" or
// "incomplete utf-8 byte sequence from index I".
std::string fault_text(const Fault& fault);

// Bytes in the sequence that `lead` starts: 0 for bytes that start none.
std::size_t width(unsigned char lead);

constexpr bool is_continuation(unsigned char b) { return (b & 0xC0) == 0x80; }

// At most `max_bytes` of `text`, never ending inside a character.
std::string_view excerpt(std::string_view text, std::size_t max_bytes);

}  // namespace utf8

inline bool is_utf8(std::string_view bytes) { return !utf8::first_fault(bytes); }

}  // namespace kestrix
