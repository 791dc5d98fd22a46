// Strings: escapes, surrogate pairs, and the quoting used in messages.
#include <cstdint>

#include "kestrix/json/reader.h"
#include "reader_bytes.h"

namespace kestrix::json {

namespace {

int hex_value(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void append_utf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace

namespace detail {

std::string quote_debug(std::string_view s) {
  std::string out = "\"";
  for (std::size_t i = 0; i < s.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '\0': out += "\\0"; break;
      default:
        if (c < 0x20 || c == 0x7F) {
          static const char digits[] = "0123456789abcdef";
          out += "\\u{";
          if (c >= 0x10) out += digits[c >> 4];
          out += digits[c & 0xF];
          out += '}';
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  out += '"';
  return out;
}

}  // namespace detail


// Scans a string whose opening quote has been consumed, decoding it into
// `out` when given. Input text is known to be UTF-8.
bool Reader::scan_string(std::string* out) {
  const std::size_t size = text_.size();
  const char* data = text_.data();
  for (;;) {
    const std::size_t run = pos_;
    pos_ = detail::string_run_end(data, run, size);
    if (out) out->append(data + run, pos_ - run);
    if (pos_ >= size) return fail_at(size, "EOF while parsing a string");
    unsigned char c = static_cast<unsigned char>(data[pos_]);
    if (c == '"') {
      ++pos_;
      return true;
    }
    if (c < 0x20) {
      ++pos_;
      return fail_here("control character (\\u0000-\\u001F) found while parsing a string");
    }
    ++pos_;  // the backslash
    if (pos_ >= size) return fail_at(size, "EOF while parsing a string");
    char e = data[pos_++];
    char simple = 0;
    switch (e) {
      case '"': simple = '"'; break;
      case '\\': simple = '\\'; break;
      case '/': simple = '/'; break;
      case 'b': simple = '\b'; break;
      case 'f': simple = '\f'; break;
      case 'n': simple = '\n'; break;
      case 'r': simple = '\r'; break;
      case 't': simple = '\t'; break;
      case 'u': break;
      default: return fail_here("invalid escape");
    }
    if (simple) {
      if (out) *out += simple;
      continue;
    }
    auto hex4 = [&](std::uint32_t& v) {
      if (size - pos_ < 4) {
        pos_ = size;
        return fail_here("EOF while parsing a string");
      }
      v = 0;
      for (int k = 0; k < 4; ++k) {
        int h = hex_value(static_cast<unsigned char>(data[pos_ + k]));
        if (h < 0) {
          pos_ += 4;
          return fail_here("invalid escape");
        }
        v = v * 16 + static_cast<std::uint32_t>(h);
      }
      pos_ += 4;
      return true;
    };
    std::uint32_t cp = 0;
    if (!hex4(cp)) return false;
    if (cp >= 0xDC00 && cp <= 0xDFFF) return fail_here("lone leading surrogate in hex escape");
    if (cp >= 0xD800 && cp <= 0xDBFF) {
      for (char want : {'\\', 'u'}) {
        if (pos_ >= size) return fail_at(size, "EOF while parsing a string");
        if (data[pos_++] != want) return fail_here("unexpected end of hex escape");
      }
      std::uint32_t low = 0;
      if (!hex4(low)) return false;
      if (low < 0xDC00 || low > 0xDFFF) return fail_here("lone leading surrogate in hex escape");
      cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
    }
    if (out) append_utf8(*out, cp);
  }
}

}  // namespace kestrix::json
