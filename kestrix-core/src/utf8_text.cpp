#include "utf8_text.h"

#include <cstddef>
#include <cstdint>

namespace kestrix::core {
namespace {

// Length of the well-formed sequence at `i`, or 0 with `bad` set to the
// length of the maximal invalid subpart (at least 1).
std::size_t sequence_at(std::string_view s, std::size_t i, std::size_t& bad) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  if (b0 < 0x80) return 1;
  std::size_t need = 0;
  unsigned char lo = 0x80, hi = 0xBF;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    need = 1;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    need = 2;
    if (b0 == 0xE0) lo = 0xA0;
    if (b0 == 0xED) hi = 0x9F;  // no surrogates
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    need = 3;
    if (b0 == 0xF0) lo = 0x90;
    if (b0 == 0xF4) hi = 0x8F;
  } else {
    bad = 1;
    return 0;
  }
  std::size_t n = 1;
  for (; n <= need; ++n) {
    if (i + n >= s.size()) break;
    const auto b = static_cast<unsigned char>(s[i + n]);
    const unsigned char min = n == 1 ? lo : 0x80, max = n == 1 ? hi : 0xBF;
    if (b < min || b > max) break;
  }
  if (n == need + 1) return n;
  bad = n;
  return 0;
}

std::uint32_t code_point(std::string_view s, std::size_t i, std::size_t len) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  if (len == 1) return b0;
  std::uint32_t cp = b0 & (0x7Fu >> len);
  for (std::size_t k = 1; k < len; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3Fu);
  return cp;
}

bool is_white_space(std::uint32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
         c == 0x205F || c == 0x3000;
}

bool space_at(std::string_view s, std::size_t i, std::size_t& len) {
  std::size_t bad = 0;
  len = sequence_at(s, i, bad);
  if (len == 0) {
    len = bad;
    return false;
  }
  return is_white_space(code_point(s, i, len));
}

}  // namespace

std::string decode_lossy(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size();) {
    std::size_t bad = 0;
    if (const std::size_t n = sequence_at(bytes, i, bad)) {
      out.append(bytes.substr(i, n));
      i += n;
    } else {
      out.append("\xEF\xBF\xBD");
      i += bad;
    }
  }
  return out;
}

bool is_utf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    std::size_t bad = 0;
    const std::size_t n = sequence_at(text, i, bad);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

std::string_view trim_space(std::string_view text) {
  std::size_t begin = 0, len = 0;
  while (begin < text.size() && space_at(text, begin, len)) begin += len;
  std::size_t end = text.size();
  while (end > begin) {
    std::size_t start = end - 1;
    while (start > begin && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) --start;
    if (!space_at(text, start, len) || start + len != end) break;
    end = start;
  }
  return text.substr(begin, end - begin);
}

std::vector<std::string_view> split_space(std::string_view text) {
  std::vector<std::string_view> fields;
  std::size_t i = 0, len = 0;
  while (i < text.size()) {
    while (i < text.size() && space_at(text, i, len)) i += len;
    const std::size_t start = i;
    while (i < text.size() && !space_at(text, i, len)) i += len;
    if (i > start) fields.push_back(text.substr(start, i - start));
  }
  return fields;
}

}  // namespace kestrix::core
