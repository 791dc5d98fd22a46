// The reader's walk: white space, literals, containers, whole values, and
// where errors are placed.
#include "kestrix/json/reader.h"

#include <algorithm>
#include <cstring>

#include "kestrix/json/numbers.h"
#include "reader_bytes.h"

namespace kestrix::json {

using detail::is_ws;
using detail::quote_debug;
using detail::string_run_end;

namespace {
LinePosition advance(std::string_view text, LinePosition at, std::size_t offset) {
  const char* p = text.data() + at.offset;
  const char* const end = text.data() + offset;
  while (p < end) {
    const void* newline = std::memchr(p, '\n', static_cast<std::size_t>(end - p));
    if (newline == nullptr) break;
    p = static_cast<const char*>(newline) + 1;
    ++at.line;
    at.line_start = static_cast<std::size_t>(p - text.data());
  }
  at.offset = offset;
  return at;
}
}  // namespace

std::string describe(std::string_view text, const DecodeError& error, LinePosition from) {
  const std::size_t end = std::max(from.offset, std::min(error.offset, text.size()));
  const LinePosition at = advance(text, from, end);
  return error.description + " at line " + std::to_string(at.line) + " column " +
         std::to_string(end - at.line_start);
}

void Reader::count_lines_to(std::size_t offset) {
  if (offset > counted_.offset && offset <= pos_) counted_ = advance(text_, counted_, offset);
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

bool Reader::literal(int c) {
  const std::string_view rest = c == 'n' ? "ull" : c == 't' ? "rue" : "alse";
  ++pos_;
  for (char want : rest) {
    if (pos_ >= text_.size()) return fail_here("EOF while parsing a value");
    if (text_[pos_++] != want) return fail_here("expected ident");
  }
  return true;
}

bool Reader::enter() {
  if (--remaining_depth_ == 0) return fail_peek("recursion limit exceeded");
  ++pos_;
  first_ = true;
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
    case 't':
    case 'f':
      if (!literal(c)) return false;
      found = c == 'n' ? "null" : c == 't' ? "boolean `true`" : "boolean `false`";
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
  if (c == 't' || c == 'f') {
    out = c == 't';
    return literal(c);
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
  was_null = peek_ws() == 'n';
  return !was_null || literal('n');
}

bool Reader::read_value(nlohmann::json& out) { return walk(&out); }

// Unknown members are validated like any value but never built.
bool Reader::skip_value() { return walk(nullptr); }

bool Reader::walk(nlohmann::json* out) {
  const bool skipping = out == nullptr;
  const int c = peek_ws();
  switch (c) {
    case -1: return fail_peek("EOF while parsing a value");
    case 'n':
    case 't':
    case 'f':
      if (!literal(c)) return false;
      if (out) *out = c == 'n' ? nlohmann::json() : nlohmann::json(c == 't');
      return true;
    case '"': {
      ++pos_;
      if (skipping) return scan_string(nullptr);
      std::string s;
      if (!scan_string(&s)) return false;
      *out = std::move(s);
      return true;
    }
    case '[': {
      if (!enter()) return false;
      if (out) *out = nlohmann::json::array();
      Step next;
      while ((next = step(']', skipping)) == Step::More) {
        if (skipping) {
          if (!walk(nullptr)) return false;
          continue;
        }
        nlohmann::json element;
        if (!walk(&element)) return false;
        out->push_back(std::move(element));
      }
      return next == Step::End && leave();
    }
    case '{': {
      if (!enter()) return false;
      if (out) *out = nlohmann::json::object();
      std::string_view key;
      Step next;
      while ((next = step_key(key, skipping)) == Step::More) {
        if (skipping) {
          if (!colon() || !walk(nullptr)) return false;
          continue;
        }
        // The key lives in scratch space that the value may reuse.
        std::string owned(key);
        nlohmann::json value;
        if (!colon() || !walk(&value)) return false;
        (*out)[std::move(owned)] = std::move(value);
      }
      return next == Step::End && leave();
    }
    default:
      if (c == '-' || (c >= '0' && c <= '9')) {
        Number n;
        if (!scan_number(n, !skipping)) return false;
        if (skipping) return true;
        if (n.kind == Number::U64) *out = n.u;
        else if (n.kind == Number::I64) *out = n.i;
        else *out = n.f;
        return true;
      }
      return fail_peek("expected value");
  }
}

bool Reader::finish() {
  if (peek_ws() != -1) return fail_peek("trailing characters");
  return true;
}

Reader::Container Reader::open(Accept accept, std::string_view expected_prefix,
                                std::string_view expected_name) {
  int c = peek_ws();
  if (c == -1) {
    fail_peek("EOF while parsing a value");
    return Container::None;
  }
  if (c == '[' && accept != Accept::Object) return enter() ? Container::Array : Container::None;
  if (c == '{' && accept != Accept::Array) return enter() ? Container::Object : Container::None;
  invalid_type(expected_prefix, expected_name);
  return Container::None;
}

Reader::Step Reader::step(char close, bool skipping) {
  const char* const eof = close == ']' ? "EOF while parsing a list" : "EOF while parsing an object";
  int c = peek_ws();
  if (c == close) return Step::End;
  if (first_) {
    if (c == -1 && !skipping) return failed(eof);
    first_ = false;
    return Step::More;
  }
  if (c != ',') {
    if (c == -1) return failed(eof);
    return failed(close == ']' ? "expected `,` or `]`" : "expected `,` or `}`");
  }
  ++pos_;
  if (skipping) return Step::More;
  c = peek_ws();
  if (c == close) return failed("trailing comma");
  if (c == -1) return failed("EOF while parsing a value");
  return Step::More;
}

Reader::Step Reader::step_key(std::string_view& key, bool skipping) {
  // The common shape, `"plain key"` after '{' or ',', is taken in one pass
  // over locals; anything else goes the long way, which reports faults.
  const char* const data = text_.data();
  const std::size_t size = text_.size();
  std::size_t i = pos_;
  while (i < size && is_ws(static_cast<unsigned char>(data[i]))) ++i;
  if (i < size && !first_ && data[i] == ',') {
    ++i;
    while (i < size && is_ws(static_cast<unsigned char>(data[i]))) ++i;
  } else if (!(i < size && first_)) {
    i = size;  // not the common shape
  }
  if (i < size && data[i] == '"') {
    const std::size_t start = ++i;
    i = string_run_end(data, i, size);
    if (i < size && data[i] == '"') {
      key = text_.substr(start, i - start);
      pos_ = i + 1;
      first_ = false;
      return Step::More;
    }
  }

  const Step next = step('}', skipping);
  if (next != Step::More) return next;
  const int c = peek_ws();
  if (c != '"') return failed(c == -1 ? "EOF while parsing an object" : "key must be a string");
  ++pos_;
  scratch_.clear();
  if (!scan_string(&scratch_)) return Step::Failed;
  key = scratch_;
  return Step::More;
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
