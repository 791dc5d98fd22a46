#include "kestrix/utf8.h"

#include <cstdint>
#include <cstring>

namespace kestrix::utf8 {

std::size_t width(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

std::optional<Fault> first_fault(std::string_view bytes) {
  const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t n = bytes.size();
  std::size_t i = 0;
  constexpr std::uint64_t HIGH = 0x8080808080808080ULL;
  while (i < n) {
    // ASCII a block of 32 bytes at a time, then eight: JSON, configuration
    // and tool output are mostly ASCII, and snapshots and panel answers
    // run to tens of megabytes.
    while (n - i >= 32) {
      std::uint64_t words[4];
      std::memcpy(words, s + i, 32);
      if (((words[0] | words[1] | words[2] | words[3]) & HIGH) != 0) break;
      i += 32;
    }
    if (i == n) break;
    if (n - i >= 8) {
      std::uint64_t word;
      std::memcpy(&word, s + i, 8);
      if ((word & HIGH) == 0) {
        i += 8;
        continue;
      }
    }
    const unsigned char lead = s[i];
    const std::size_t w = width(lead);
    if (w == 1) {
      ++i;
      continue;
    }
    if (w == 0) return Fault{i, 1};
    // The second byte's range depends on the lead: it is what rules out
    // overlong forms, surrogates and code points above U+10FFFF.
    unsigned char lo = 0x80, hi = 0xBF;
    if (lead == 0xE0) lo = 0xA0;
    if (lead == 0xED) hi = 0x9F;
    if (lead == 0xF0) lo = 0x90;
    if (lead == 0xF4) hi = 0x8F;
    for (std::size_t k = 1; k < w; ++k) {
      if (i + k >= n) return Fault{i, std::nullopt};
      const unsigned char b = s[i + k];
      if (b < lo || b > hi) return Fault{i, k};
      lo = 0x80;
      hi = 0xBF;
    }
    i += w;
  }
  return std::nullopt;
}

std::string fault_text(const Fault& fault) {
  if (!fault.error_len)
    return "incomplete utf-8 byte sequence from index " + std::to_string(fault.valid_up_to);
  return "invalid utf-8 sequence of " + std::to_string(*fault.error_len) + " bytes from index " +
         std::to_string(fault.valid_up_to);
}

std::string_view excerpt(std::string_view text, std::size_t max_bytes) {
  if (text.size() <= max_bytes) return text;
  // The cut splits a character when the one to three bytes before it start
  // a sequence that they do not finish; it then falls before that start.
  for (std::size_t back = 1; back <= 3 && back <= max_bytes; ++back) {
    const auto fault = first_fault(text.substr(max_bytes - back, back));
    if (fault && fault->valid_up_to == 0 && !fault->error_len)
      return text.substr(0, max_bytes - back);
  }
  return text.substr(0, max_bytes);
}

}  // namespace kestrix::utf8
