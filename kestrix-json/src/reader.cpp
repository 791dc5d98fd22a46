#include "kestrix/json/reader.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "kestrix/json/numbers.h"

namespace kestrix::json {

namespace {

bool is_ws(unsigned char c) { return c == ' ' || c == '\n' || c == '\t' || c == '\r'; }

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

// A string the way a Rust-style debug formatter quotes it in messages.
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

}  // namespace

std::string describe(std::string_view text, const DecodeError& error) {
  std::size_t line = 1, column = 0;
  std::size_t end = error.offset < text.size() ? error.offset : text.size();
  for (std::size_t i = 0; i < end; ++i) {
    if (text[i] == '\n') {
      ++line;
      column = 0;
    } else {
      ++column;
    }
  }
  return error.description + " at line " + std::to_string(line) + " column " +
         std::to_string(column);
}

int Reader::peek_ws() {
  while (pos_ < text_.size()) {
    unsigned char c = static_cast<unsigned char>(text_[pos_]);
    if (!is_ws(c)) return c;
    ++pos_;
  }
  return -1;
}

bool Reader::fail_at(std::size_t offset, std::string description) {
  error_.description = std::move(description);
  error_.offset = offset;
  return false;
}

// Faults found on a byte that was only looked at are reported one past it.
bool Reader::fail_peek(std::string description) {
  return fail_at(pos_ + 1 < text_.size() ? pos_ + 1 : text_.size(), std::move(description));
}

bool Reader::expect_ident(std::string_view rest) {
  for (char want : rest) {
    if (pos_ >= text_.size()) return fail_here("EOF while parsing a value");
    if (text_[pos_++] != want) return fail_here("expected ident");
  }
  return true;
}

bool Reader::enter() {
  if (--remaining_depth_ == 0) return fail_peek("recursion limit exceeded");
  ++pos_;
  return true;
}

// Scans a number starting at '-' or a digit. With `convert`, also computes
// its value: an unsigned or negative integer when it has neither fraction nor
// exponent and fits 64 bits, otherwise a float.
bool Reader::scan_number(Number& n, bool convert) {
  // Locals rather than members in the digit loops: the compiler cannot keep
  // members in registers across the stores it sees.
  const char* const data = text_.data();
  const char* const end = data + text_.size();
  const char* p = data + pos_;
  const std::size_t start = pos_;
  auto here = [&] { pos_ = static_cast<std::size_t>(p - data); };
  auto is_digit = [&](const char* q) { return q < end && *q >= '0' && *q <= '9'; };

  bool positive = true;
  if (*p == '-') {
    positive = false;
    ++p;
  }
  if (p >= end) return here(), fail_here("EOF while parsing a value");
  unsigned char c = static_cast<unsigned char>(*p++);
  std::uint64_t significand = 0;
  bool overflow = false;  // the digits no longer fit 64 bits
  int significant = 0;    // digits taken into `significand`
  auto take_digit = [&](unsigned char d) {
    std::uint64_t digit = d - '0';
    // Nineteen digits always fit; only the twentieth needs the check.
    if (significant >= 19 && (overflow || significand > (UINT64_MAX - digit) / 10)) {
      overflow = true;
      return false;
    }
    significand = significand * 10 + digit;
    significant += significand != 0;
    return true;
  };
  if (c == '0') {
    if (is_digit(p)) return here(), fail_peek("invalid number");
  } else if (c >= '1' && c <= '9') {
    significand = c - '0';
    significant = 1;
    while (is_digit(p)) take_digit(static_cast<unsigned char>(*p++));
  } else {
    return here(), fail_here("invalid number");
  }
  bool is_float = false;
  int fraction_digits = 0;
  if (p < end && *p == '.') {
    is_float = true;
    const char* digits = ++p;
    while (is_digit(p))
      if (take_digit(static_cast<unsigned char>(*p++))) ++fraction_digits;
    if (p == digits) return here(), fail_peek(p < end ? "invalid number" : "EOF while parsing a value");
  }
  bool has_exponent = false;
  if (p < end && (*p == 'e' || *p == 'E')) {
    is_float = has_exponent = true;
    ++p;
    if (p < end && (*p == '+' || *p == '-')) ++p;
    if (p >= end) return here(), fail_here("EOF while parsing a value");
    c = static_cast<unsigned char>(*p++);
    if (c < '0' || c > '9') return here(), fail_here("invalid number");
    while (is_digit(p)) ++p;
  }
  here();
  if (!convert) return true;
  if (overflow) is_float = true;

  // Exact when the digits and the power of ten are both exact doubles: one
  // correctly rounded division covers the common short decimals.
  if (is_float && !overflow && !has_exponent && significand <= (std::uint64_t{1} << 53) &&
      fraction_digits <= 22) {
    static constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                        1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                        1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    double magnitude = static_cast<double>(significand) / kPow10[fraction_digits];
    n.kind = Number::F64;
    n.f = positive ? magnitude : -magnitude;
    return true;
  }

  if (!is_float) {
    if (positive) {
      n.kind = Number::U64;
      n.u = significand;
      return true;
    }
    // -0 and magnitudes beyond the signed range become floats.
    if (significand != 0 && significand <= (std::uint64_t{1} << 63)) {
      n.kind = Number::I64;
      n.i = static_cast<std::int64_t>(0 - significand);
      return true;
    }
  }
  n.kind = Number::F64;
  const char* first = text_.data() + start;
  const char* last = text_.data() + pos_;
  auto [ptr, ec] = std::from_chars(first, last, n.f);
  if (ec == std::errc::result_out_of_range) {
    // from_chars says the same for overflow and underflow; only overflow is an error.
    std::string copy(first, last);
    n.f = std::strtod(copy.c_str(), nullptr);
    if (std::isinf(n.f)) return fail_here("number out of range");
  }
  return true;
}

// Scans a string whose opening quote has been consumed, decoding it into
// `out` when given. Input text is known to be UTF-8.
bool Reader::scan_string(std::string* out) {
  const std::size_t size = text_.size();
  const char* data = text_.data();
  for (;;) {
    std::size_t run = pos_;
    while (pos_ < size) {
      unsigned char c = static_cast<unsigned char>(data[pos_]);
      if (c == '"' || c == '\\' || c < 0x20) break;
      ++pos_;
    }
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

// Consumes the value that is not what the caller wanted and records
// "invalid type: <found>, expected <...>". Containers are not consumed.
bool Reader::invalid_type(std::string_view expected_prefix, std::string_view expected_name) {
  std::string found;
  int c = peek_ws();
  switch (c) {
    case -1: return fail_peek("EOF while parsing a value");
    case 'n':
      ++pos_;
      if (!expect_ident("ull")) return false;
      found = "null";
      break;
    case 't':
      ++pos_;
      if (!expect_ident("rue")) return false;
      found = "boolean `true`";
      break;
    case 'f':
      ++pos_;
      if (!expect_ident("alse")) return false;
      found = "boolean `false`";
      break;
    case '"': {
      ++pos_;
      std::string s;
      if (!scan_string(&s)) return false;
      found = "string " + quote_debug(s);
      break;
    }
    case '[': found = "sequence"; break;
    case '{': found = "map"; break;
    default:
      if (c == '-' || (c >= '0' && c <= '9')) {
        Number n;
        if (!scan_number(n, true)) return false;
        if (n.kind == Number::U64) found = "integer `" + std::to_string(n.u) + "`";
        else if (n.kind == Number::I64) found = "integer `" + std::to_string(n.i) + "`";
        else found = "floating point `" + format_f64_display(n.f) + "`";
        break;
      }
      return fail_peek("expected value");
  }
  std::string message = "invalid type: " + found + ", expected ";
  message += expected_prefix;
  message += expected_name;
  return fail_here(std::move(message));
}

bool Reader::read_number(Number& n, std::string_view expected) {
  int c = peek_ws();
  if (c == -1) return fail_peek("EOF while parsing a value");
  if (c == '-' || (c >= '0' && c <= '9')) return scan_number(n, true);
  return invalid_type(expected, "");
}

bool Reader::read_f64(double& out) {
  Number n;
  if (!read_number(n, "f64")) return false;
  out = n.kind == Number::U64   ? static_cast<double>(n.u)
        : n.kind == Number::I64 ? static_cast<double>(n.i)
                                : n.f;
  return true;
}

bool Reader::read_u32(std::uint32_t& out) {
  Number n;
  if (!read_number(n, "u32")) return false;
  if (n.kind == Number::U64 && n.u <= UINT32_MAX) {
    out = static_cast<std::uint32_t>(n.u);
    return true;
  }
  if (n.kind == Number::U64)
    return fail_here("invalid value: integer `" + std::to_string(n.u) + "`, expected u32");
  if (n.kind == Number::I64)
    return fail_here("invalid value: integer `" + std::to_string(n.i) + "`, expected u32");
  return fail_here("invalid type: floating point `" + format_f64_display(n.f) +
                   "`, expected u32");
}

bool Reader::read_i64(std::int64_t& out) {
  Number n;
  if (!read_number(n, "i64")) return false;
  if (n.kind == Number::I64) {
    out = n.i;
    return true;
  }
  if (n.kind == Number::U64 && n.u <= static_cast<std::uint64_t>(INT64_MAX)) {
    out = static_cast<std::int64_t>(n.u);
    return true;
  }
  if (n.kind == Number::U64)
    return fail_here("invalid value: integer `" + std::to_string(n.u) + "`, expected i64");
  return fail_here("invalid type: floating point `" + format_f64_display(n.f) +
                   "`, expected i64");
}

bool Reader::read_bool(bool& out) {
  int c = peek_ws();
  if (c == -1) return fail_peek("EOF while parsing a value");
  if (c == 't') {
    ++pos_;
    out = true;
    return expect_ident("rue");
  }
  if (c == 'f') {
    ++pos_;
    out = false;
    return expect_ident("alse");
  }
  return invalid_type("a boolean", "");
}

bool Reader::read_string(std::string& out) {
  int c = peek_ws();
  if (c == -1) return fail_peek("EOF while parsing a value");
  if (c != '"') return invalid_type("a string", "");
  ++pos_;
  out.clear();
  return scan_string(&out);
}

bool Reader::take_null(bool& was_null) {
  was_null = false;
  if (peek_ws() != 'n') return true;
  ++pos_;
  if (!expect_ident("ull")) return false;
  was_null = true;
  return true;
}

bool Reader::read_value(nlohmann::json& out) {
  int c = peek_ws();
  switch (c) {
    case -1: return fail_peek("EOF while parsing a value");
    case 'n':
      ++pos_;
      out = nullptr;
      return expect_ident("ull");
    case 't':
      ++pos_;
      out = true;
      return expect_ident("rue");
    case 'f':
      ++pos_;
      out = false;
      return expect_ident("alse");
    case '"': {
      ++pos_;
      std::string s;
      if (!scan_string(&s)) return false;
      out = std::move(s);
      return true;
    }
    case '[': {
      if (!enter()) return false;
      out = nlohmann::json::array();
      bool first = true, more = false;
      for (;;) {
        if (!next_element(first, more)) return false;
        if (!more) break;
        nlohmann::json element;
        if (!read_value(element)) return false;
        out.push_back(std::move(element));
      }
      return close_array();
    }
    case '{': {
      if (!enter()) return false;
      out = nlohmann::json::object();
      bool first = true, more = false;
      std::string_view key;
      for (;;) {
        if (!next_key(first, more, key)) return false;
        if (!more) break;
        std::string owned(key);
        nlohmann::json value;
        if (!colon() || !read_value(value)) return false;
        out[std::move(owned)] = std::move(value);
      }
      return close_object();
    }
    default:
      if (c == '-' || (c >= '0' && c <= '9')) {
        Number n;
        if (!scan_number(n, true)) return false;
        if (n.kind == Number::U64) out = n.u;
        else if (n.kind == Number::I64) out = n.i;
        else out = n.f;
        return true;
      }
      return fail_peek("expected value");
  }
}

// Unknown members are validated like any value but never built.
bool Reader::skip_value() {
  int c = peek_ws();
  switch (c) {
    case -1: return fail_peek("EOF while parsing a value");
    case 'n': ++pos_; return expect_ident("ull");
    case 't': ++pos_; return expect_ident("rue");
    case 'f': ++pos_; return expect_ident("alse");
    case '"': ++pos_; return scan_string(nullptr);
    case '[': {
      if (!enter()) return false;
      if (peek_ws() == ']') {
        ++pos_;
        ++remaining_depth_;
        return true;
      }
      for (;;) {
        if (!skip_value()) return false;
        c = peek_ws();
        if (c == ',') {
          ++pos_;
          continue;
        }
        if (c == ']') {
          ++pos_;
          ++remaining_depth_;
          return true;
        }
        return fail_peek(c == -1 ? "EOF while parsing a list" : "expected `,` or `]`");
      }
    }
    case '{': {
      if (!enter()) return false;
      if (peek_ws() == '}') {
        ++pos_;
        ++remaining_depth_;
        return true;
      }
      for (;;) {
        c = peek_ws();
        if (c != '"')
          return fail_peek(c == -1 ? "EOF while parsing an object" : "key must be a string");
        ++pos_;
        if (!scan_string(nullptr)) return false;
        c = peek_ws();
        if (c != ':') return fail_peek(c == -1 ? "EOF while parsing an object" : "expected `:`");
        ++pos_;
        if (!skip_value()) return false;
        c = peek_ws();
        if (c == ',') {
          ++pos_;
          continue;
        }
        if (c == '}') {
          ++pos_;
          ++remaining_depth_;
          return true;
        }
        return fail_peek(c == -1 ? "EOF while parsing an object" : "expected `,` or `}`");
      }
    }
    default:
      if (c == '-' || (c >= '0' && c <= '9')) {
        Number n;
        return scan_number(n, false);
      }
      return fail_peek("expected value");
  }
}

bool Reader::finish() {
  if (peek_ws() != -1) return fail_peek("trailing characters");
  return true;
}

bool Reader::open(std::string_view expected_prefix, std::string_view expected_name, bool arrays,
                  bool objects, Open& kind) {
  int c = peek_ws();
  if (c == -1) return fail_peek("EOF while parsing a value");
  if (c == '[' && arrays) {
    kind = Open::Array;
    return enter();
  }
  if (c == '{' && objects) {
    kind = Open::Object;
    return enter();
  }
  return invalid_type(expected_prefix, expected_name);
}

// Arrays and objects separate their members alike. Leaves the first byte
// of the next member in `c` when there is one.
bool Reader::next_member(bool& first, bool& more, int& c, char close, const char* eof,
                         const char* expected) {
  c = peek_ws();
  if (c == close) {
    more = false;
    return true;
  }
  if (c == ',' && !first) {
    ++pos_;
    c = peek_ws();
  } else if (c == -1) {
    return fail_peek(eof);
  } else if (!first) {
    return fail_peek(expected);
  }
  first = false;
  if (c == close) return fail_peek("trailing comma");
  if (c == -1) return fail_peek("EOF while parsing a value");
  more = true;
  return true;
}

bool Reader::next_element(bool& first, bool& more) {
  int c;
  return next_member(first, more, c, ']', "EOF while parsing a list", "expected `,` or `]`");
}

bool Reader::next_key(bool& first, bool& more, std::string_view& key) {
  int c;
  if (!next_member(first, more, c, '}', "EOF while parsing an object", "expected `,` or `}`"))
    return false;
  if (!more) return true;
  if (c != '"') return fail_peek("key must be a string");
  ++pos_;
  // Keys without escapes are handed out in place.
  const std::size_t start = pos_;
  const char* data = text_.data();
  while (pos_ < text_.size()) {
    unsigned char b = static_cast<unsigned char>(data[pos_]);
    if (b == '"') {
      key = text_.substr(start, pos_ - start);
      ++pos_;
      more = true;
      return true;
    }
    if (b == '\\' || b < 0x20) break;
    ++pos_;
  }
  pos_ = start;
  scratch_.clear();
  if (!scan_string(&scratch_)) return false;
  key = scratch_;
  more = true;
  return true;
}

bool Reader::colon() {
  int c = peek_ws();
  if (c == ':') {
    ++pos_;
    return true;
  }
  return fail_peek(c == -1 ? "EOF while parsing an object" : "expected `:`");
}

bool Reader::end_seq() {
  int c = peek_ws();
  if (c == ']') {
    ++pos_;
    ++remaining_depth_;
    return true;
  }
  if (c == ',') {
    ++pos_;
    return fail_peek(peek_ws() == ']' ? "trailing comma" : "trailing characters");
  }
  return fail_peek(c == -1 ? "EOF while parsing a list" : "trailing characters");
}

bool Reader::end_map() {
  int c = peek_ws();
  if (c == '}') {
    ++pos_;
    ++remaining_depth_;
    return true;
  }
  if (c == ',') return fail_peek("trailing comma");
  return fail_peek(c == -1 ? "EOF while parsing an object" : "trailing characters");
}

bool Reader::close_array(const std::string* pending) {
  if (!pending) return end_seq();
  end_seq();
  return fail_here(*pending);
}

bool Reader::close_object(const std::string* pending) {
  if (!pending) return end_map();
  end_map();
  return fail_here(*pending);
}

}  // namespace kestrix::json
