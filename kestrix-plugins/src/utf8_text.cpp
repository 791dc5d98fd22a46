#include "utf8_text.h"

#include <cstdint>

#include "kestrix/plugins/helper_runner.h"

namespace kestrix::plugins {
namespace {

bool is_continuation(unsigned char b) { return (b & 0xC0) == 0x80; }

// Length of the sequence led by `lead`: 0 for bytes that never lead one.
std::size_t sequence_width(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

// The second byte's range depends on the lead: it rules out overlong forms,
// surrogates and code points above U+10FFFF.
bool second_byte_fits(unsigned char lead, unsigned char b) {
  switch (lead) {
    case 0xE0: return b >= 0xA0 && b <= 0xBF;
    case 0xED: return b >= 0x80 && b <= 0x9F;
    case 0xF0: return b >= 0x90 && b <= 0xBF;
    case 0xF4: return b >= 0x80 && b <= 0x8F;
    default: return is_continuation(b);
  }
}

// Checks the sequence at `i`: its width when valid, else the fault.
std::optional<Utf8Fault> check_at(std::string_view s, std::size_t i, std::size_t& width) {
  const auto lead = static_cast<unsigned char>(s[i]);
  width = sequence_width(lead);
  if (width == 1) return std::nullopt;
  if (width == 0) return Utf8Fault{i, 1};
  for (std::size_t k = 1; k < width; ++k) {
    if (i + k >= s.size()) return Utf8Fault{i, 0};
    const auto b = static_cast<unsigned char>(s[i + k]);
    const bool fits = k == 1 ? second_byte_fits(lead, b) : is_continuation(b);
    if (!fits) return Utf8Fault{i, k};
  }
  return std::nullopt;
}

}  // namespace

std::optional<Utf8Fault> find_utf8_fault(std::string_view bytes) {
  for (std::size_t i = 0, width = 0; i < bytes.size(); i += width)
    if (auto fault = check_at(bytes, i, width)) return fault;
  return std::nullopt;
}

std::string utf8_fault_text(const Utf8Fault& fault) {
  if (fault.length == 0)
    return "incomplete utf-8 byte sequence from index " + std::to_string(fault.index);
  return "invalid utf-8 sequence of " + std::to_string(fault.length) + " bytes from index " +
         std::to_string(fault.index);
}

std::string_view excerpt(std::string_view text, std::size_t max_bytes) {
  if (text.size() <= max_bytes) return text;
  std::size_t end = max_bytes;
  // Back off to the start of the character that the cut would split; a
  // character is at most four bytes, so stray continuation bytes in
  // invalid text cannot make this walk far.
  for (int steps = 0; steps < 3 && end > 0; ++steps) {
    if (!is_continuation(static_cast<unsigned char>(text[end]))) break;
    --end;
  }
  if (is_continuation(static_cast<unsigned char>(text[end]))) end = max_bytes;
  return text.substr(0, end);
}

}  // namespace kestrix::plugins
