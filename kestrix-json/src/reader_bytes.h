// Byte classes and message helpers shared by the reader's source files.
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace kestrix::json::detail {

// One table lookup per byte in the scanning loops.
enum : unsigned char { WS = 1, DIGIT = 2, STRING_STOP = 4 };
inline constexpr std::array<unsigned char, 256> CLASS = [] {
  std::array<unsigned char, 256> t{};
  for (unsigned char c : {' ', '\n', '\t', '\r'}) t[c] |= WS;
  for (int c = '0'; c <= '9'; ++c) t[static_cast<unsigned char>(c)] |= DIGIT;
  for (int c = 0; c < 0x20; ++c) t[static_cast<unsigned char>(c)] |= STRING_STOP;
  t['"'] |= STRING_STOP;
  t['\\'] |= STRING_STOP;
  return t;
}();

inline bool is_ws(unsigned char c) { return CLASS[c] & WS; }
inline bool stops_string(unsigned char c) { return CLASS[c] & STRING_STOP; }
// A string the way a Rust-style debug formatter quotes it in messages.
std::string quote_debug(std::string_view s);

}  // namespace kestrix::json::detail
