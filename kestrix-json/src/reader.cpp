// The reader's walk: white space, literals, containers, whole values, and
// where errors are placed.
#include "kestrix/json/reader.h"

#include "kestrix/json/numbers.h"
#include "reader_bytes.h"

namespace kestrix::json {

using detail::is_ws;
using detail::quote_debug;
using detail::stops_string;

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
  const char* const data = text_.data();
  const std::size_t size = text_.size();
  std::size_t i = pos_;
  while (i < size && is_ws(static_cast<unsigned char>(data[i]))) ++i;
  pos_ = i;
  return i < size ? static_cast<unsigned char>(data[i]) : -1;
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
      if (peek_ws() == ']') return leave();
      for (;;) {
        if (!skip_value()) return false;
        c = peek_ws();
        if (c == ',') {
          ++pos_;
          continue;
        }
        if (c == ']') return leave();
        return fail_peek(c == -1 ? "EOF while parsing a list" : "expected `,` or `]`");
      }
    }
    case '{': {
      if (!enter()) return false;
      if (peek_ws() == '}') return leave();
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
        if (c == '}') return leave();
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
  // The common shape, `"plain key"` after '{' or ',', is taken in one pass
  // over locals; anything else goes the long way, which reports faults.
  const char* const data = text_.data();
  const std::size_t size = text_.size();
  std::size_t i = pos_;
  while (i < size && is_ws(static_cast<unsigned char>(data[i]))) ++i;
  if (i < size && !first && data[i] == ',') {
    ++i;
    while (i < size && is_ws(static_cast<unsigned char>(data[i]))) ++i;
  } else if (!(i < size && first)) {
    i = size;  // not the common shape
  }
  if (i < size && data[i] == '"') {
    const std::size_t start = ++i;
    while (i < size) {
      unsigned char b = static_cast<unsigned char>(data[i]);
      if (stops_string(b)) break;
      ++i;
    }
    if (i < size && data[i] == '"') {
      key = text_.substr(start, i - start);
      pos_ = i + 1;
      first = false;
      more = true;
      return true;
    }
  }

  int c;
  if (!next_member(first, more, c, '}', "EOF while parsing an object", "expected `,` or `}`"))
    return false;
  if (!more) return true;
  if (c != '"') return fail_peek("key must be a string");
  ++pos_;
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
  if (c == ']') return leave();
  if (c == ',') {
    ++pos_;
    return fail_peek(peek_ws() == ']' ? "trailing comma" : "trailing characters");
  }
  return fail_peek(c == -1 ? "EOF while parsing a list" : "trailing characters");
}

bool Reader::end_map() {
  int c = peek_ws();
  if (c == '}') return leave();
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
