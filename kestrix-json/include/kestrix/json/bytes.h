// Byte classes and word-wise scans of JSON text, shared by the reader and
// by the fast paths that take records of a known layout (skim.h).
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

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
// The first byte at or after `i` that stops a plain run of string text, or
// `size`; with `Ascii`, a byte above 0x7F stops it too. Eight bytes at a
// time: keys and values are mostly short, and a loop that tests every byte
// mispredicts its exit once per string. In each byte-wise test a borrow
// only runs upward from a byte that matched, so the lowest flagged byte is
// exact.
enum class Run { Any, Ascii };
template <Run kind = Run::Any>
inline std::size_t string_run_end(const char* data, std::size_t i, std::size_t size) {
  constexpr bool ascii = kind == Run::Ascii;
  if constexpr (std::endian::native == std::endian::little) {
    constexpr std::uint64_t ONES = 0x0101010101010101;
    constexpr std::uint64_t HIGH = 0x8080808080808080;
    for (; size - i >= 8; i += 8) {
      std::uint64_t w;
      std::memcpy(&w, data + i, 8);
      const std::uint64_t quote = w ^ (ONES * '"');
      const std::uint64_t backslash = w ^ (ONES * '\\');
      const std::uint64_t hits = (((quote - ONES) & ~quote) | ((backslash - ONES) & ~backslash) |
                                  ((w - ONES * 0x20) & ~w) | (ascii ? w : 0)) &
                                 HIGH;
      if (hits != 0) return i + static_cast<std::size_t>(std::countr_zero(hits) / 8);
    }
  }
  for (; i < size; ++i) {
    const auto c = static_cast<unsigned char>(data[i]);
    if (stops_string(c) || (ascii && c > 0x7F)) break;
  }
  return i;
}

// The first byte at or after `p` that is not an ASCII digit, or `end`; the
// same eight-byte scan. Each byte, less '0', is flagged when it is 10 or more.
inline const char* digit_run_end(const char* p, const char* end) {
  if constexpr (std::endian::native == std::endian::little) {
    constexpr std::uint64_t ONES = 0x0101010101010101;
    constexpr std::uint64_t HIGH = 0x8080808080808080;
    for (; end - p >= 8; p += 8) {
      std::uint64_t w;
      std::memcpy(&w, p, 8);
      const std::uint64_t x = w ^ (ONES * '0');
      const std::uint64_t hits = ((x + ONES * (0x80 - 10)) | x) & HIGH;
      if (hits != 0) return p + std::countr_zero(hits) / 8;
    }
  }
  while (p < end && (CLASS[static_cast<unsigned char>(*p)] & DIGIT)) ++p;
  return p;
}

}  // namespace kestrix::json::detail
