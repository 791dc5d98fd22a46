#include "kestrix/text.h"

#include "kestrix/utf8.h"

namespace kestrix::text {
namespace {

unsigned char byte(std::string_view s, std::size_t i) { return static_cast<unsigned char>(s[i]); }

// Decodes the scalar value at `pos`; nothing when the bytes there are not
// one well-formed sequence.
std::optional<char32_t> decode_at(std::string_view s, std::size_t pos, std::size_t* length) {
  const unsigned char lead = byte(s, pos);
  const std::size_t len = utf8::width(lead);
  if (len == 0 || pos + len > s.size() || utf8::first_fault(s.substr(pos, len)))
    return std::nullopt;
  char32_t c = len == 1 ? lead : lead & (0xFF >> (len + 1));
  for (std::size_t i = 1; i < len; ++i) c = (c << 6) | (byte(s, pos + i) & 0x3F);
  *length = len;
  return c;
}

// The scalar value that ends just before `end`, with its length.
std::optional<char32_t> decode_before(std::string_view s, std::size_t end, std::size_t* length) {
  std::size_t start = end - 1;
  while (start > 0 && end - start < 4 && utf8::is_continuation(byte(s, start))) --start;
  std::size_t len = 0;
  auto c = decode_at(s, start, &len);
  if (!c || start + len != end) return std::nullopt;
  *length = len;
  return c;
}

// Characters whose full Unicode upper-case (lower-case) mapping is all
// ASCII; every other non-ASCII character maps outside ASCII.
std::optional<std::string_view> upper_ascii_of(char32_t c) {
  switch (c) {
    case 0x00DF: return "SS";
    case 0x0131: return "I";
    case 0x017F: return "S";
    case 0xFB00: return "FF";
    case 0xFB01: return "FI";
    case 0xFB02: return "FL";
    case 0xFB03: return "FFI";
    case 0xFB04: return "FFL";
    case 0xFB05:
    case 0xFB06: return "ST";
    default: return std::nullopt;
  }
}

std::optional<std::string_view> lower_ascii_of(char32_t c) {
  if (c == 0x212A) return "k";  // KELVIN SIGN
  return std::nullopt;
}

template <class Map>
std::optional<std::string> map_to_ascii(std::string_view s, bool upper, Map non_ascii) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t pos = 0; pos < s.size();) {
    const unsigned char b = byte(s, pos);
    if (b < 0x80) {
      char ch = static_cast<char>(b);
      if (upper && ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
      if (!upper && ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
      out += ch;
      ++pos;
      continue;
    }
    std::size_t len = 0;
    auto c = decode_at(s, pos, &len);
    if (!c) return std::nullopt;
    auto mapped = non_ascii(*c);
    if (!mapped) return std::nullopt;
    out += *mapped;
    pos += len;
  }
  return out;
}

}  // namespace

bool is_white_space(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
         c == 0x205F || c == 0x3000;
}

std::string_view trim(std::string_view s) {
  std::size_t begin = 0;
  std::size_t end = s.size();
  std::size_t len = 0;
  while (begin < end) {
    auto c = decode_at(s, begin, &len);
    if (!c || !is_white_space(*c)) break;
    begin += len;
  }
  while (end > begin) {
    auto c = decode_before(s, end, &len);
    if (!c || !is_white_space(*c) || end - len < begin) break;
    end -= len;
  }
  return s.substr(begin, end - begin);
}

std::vector<std::string_view> lines(std::string_view s) {
  std::vector<std::string_view> out;
  while (!s.empty()) {
    const std::size_t nl = s.find('\n');
    std::string_view line = s.substr(0, nl);
    if (nl != std::string_view::npos && line.ends_with('\r')) line.remove_suffix(1);
    out.push_back(line);
    if (nl == std::string_view::npos) break;
    s.remove_prefix(nl + 1);
  }
  return out;
}

std::vector<std::string_view> fields(std::string_view s) {
  std::vector<std::string_view> out;
  std::size_t pos = 0;
  std::size_t start = std::string_view::npos;
  while (pos < s.size()) {
    std::size_t len = 1;
    auto c = decode_at(s, pos, &len);
    if (!c) len = 1;
    const bool space = c && is_white_space(*c);
    if (space && start != std::string_view::npos) {
      out.push_back(s.substr(start, pos - start));
      start = std::string_view::npos;
    } else if (!space && start == std::string_view::npos) {
      start = pos;
    }
    pos += len;
  }
  if (start != std::string_view::npos) out.push_back(s.substr(start));
  return out;
}

std::string_view first_chars(std::string_view s, std::size_t n) {
  std::size_t count = 0;
  for (std::size_t pos = 0; pos < s.size(); ++pos) {
    if (utf8::is_continuation(byte(s, pos))) continue;
    if (count == n) return s.substr(0, pos);
    ++count;
  }
  return s;
}

std::optional<std::string> ascii_upper(std::string_view s) {
  return map_to_ascii(s, true, upper_ascii_of);
}

std::optional<std::string> ascii_lower(std::string_view s) {
  return map_to_ascii(s, false, lower_ascii_of);
}

std::string decode_lossy(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  // Each maximal invalid subpart, and an unfinished sequence at the end,
  // becomes one U+FFFD.
  while (const auto fault = utf8::first_fault(bytes)) {
    out.append(bytes.substr(0, fault->valid_up_to));
    out.append("\xEF\xBF\xBD");
    bytes.remove_prefix(fault->valid_up_to +
                        fault->error_len.value_or(bytes.size() - fault->valid_up_to));
  }
  out.append(bytes);
  return out;
}

std::string_view reason(DecimalFault fault) {
  switch (fault) {
    case DecimalFault::Empty: return "cannot parse integer from empty string";
    case DecimalFault::InvalidDigit: return "invalid digit found in string";
    case DecimalFault::TooLarge: return "number too large to fit in target type";
    case DecimalFault::TooSmall: return "number too small to fit in target type";
  }
  return "invalid digit found in string";
}

}  // namespace kestrix::text
