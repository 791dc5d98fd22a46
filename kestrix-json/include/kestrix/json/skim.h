// A fast path for records in the one layout their writer uses: object
// members in declaration order, strings without escapes, scalars where any
// value is allowed. Such a record is checked and its wanted fields taken in
// one pass, without building the record.
//
// A step either matches or gives up; it never judges the text. Whatever it
// gives up on (an escape, another order, an unknown member, an array form,
// an exponent, a fault) the caller reads again from the record's start with
// Reader, which accepts all of JSON and words the faults. So a record the
// skim takes is one Reader would accept with the same values, and only
// Reader's messages are ever seen.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "kestrix/json/bytes.h"
#include "kestrix/json/reader.h"

namespace kestrix::json {

class Skim {
 public:
  Skim(std::string_view text, std::size_t offset)
      : begin_(text.data()), p_(text.data() + offset), end_(text.data() + text.size()) {}

  std::size_t offset() const { return static_cast<std::size_t>(p_ - begin_); }

  // '{' and '}' of a record.
  bool open() {
    if (!token('{')) return false;
    first_ = true;
    return true;
  }
  bool close() {
    if (!token('}')) return false;
    first_ = false;
    return true;
  }

  // The member `name` and its colon, behind a comma unless it comes first.
  bool key(std::string_view name) {
    const char* const at = p_;
    const bool first = first_;
    if (member(name)) return true;
    p_ = at;
    first_ = first;
    return false;
  }

  // A string without escapes, its bytes left in the text.
  bool string(std::string_view& out) {
    ws();
    if (p_ == end_ || *p_ != '"') return false;
    const std::size_t start = offset() + 1;
    const std::size_t stop = detail::string_run_end(begin_, start, text_size());
    if (stop == text_size() || begin_[stop] != '"') return false;
    out = {begin_ + start, stop - start};
    p_ = begin_ + stop + 1;
    return true;
  }
  bool string() {
    std::string_view ignored;
    return string(ignored);
  }

  bool boolean() { return word("true") || word("false"); }
  // Takes `null` when it comes next; otherwise takes nothing.
  bool null() { return word("null"); }

  // A float field: any number without an exponent. With `out`, its value
  // as Reader gives it.
  bool f64(double* out = nullptr) {
    ws();
    const char* const start = p_;
    if (!number()) return false;
    if (out == nullptr) return true;
    return f64_of({start, static_cast<std::size_t>(p_ - start)}, *out);
  }

  // An integer field: digits only, within the type's range.
  bool u32(std::uint32_t& out) {
    ws();
    std::uint64_t value = 0;
    if (!digits(10, value) || value > UINT32_MAX) return false;
    out = static_cast<std::uint32_t>(value);
    return true;
  }
  // Eighteen digits always fit; -0 is a float to Reader.
  bool i64(std::int64_t* out = nullptr) {
    ws();
    const bool negative = p_ != end_ && *p_ == '-';
    if (negative && (++p_ == end_ || *p_ == '0')) return false;
    std::uint64_t value = 0;
    if (!digits(18, value)) return false;
    if (out != nullptr) {
      const auto magnitude = static_cast<std::int64_t>(value);
      *out = negative ? -magnitude : magnitude;
    }
    return true;
  }

  // Any value that is not a container: a number, a plain string, a literal.
  bool scalar() {
    ws();
    if (p_ == end_) return false;
    switch (*p_) {
      case '"': return string();
      case 't': return word("true");
      case 'f': return word("false");
      case 'n': return word("null");
      default: return number();
    }
  }

 private:
  std::size_t text_size() const { return static_cast<std::size_t>(end_ - begin_); }

  void ws() {
    while (p_ != end_ && detail::is_ws(static_cast<unsigned char>(*p_))) ++p_;
  }

  bool token(char c) {
    ws();
    if (p_ == end_ || *p_ != c) return false;
    ++p_;
    return true;
  }

  bool word(std::string_view w) {
    ws();
    if (static_cast<std::size_t>(end_ - p_) < w.size() || std::memcmp(p_, w.data(), w.size()) != 0)
      return false;
    p_ += w.size();
    return true;
  }

  bool member(std::string_view name) {
    if (!first_ && !token(',')) return false;
    ws();
    if (static_cast<std::size_t>(end_ - p_) < name.size() + 2 || p_[0] != '"' ||
        std::memcmp(p_ + 1, name.data(), name.size()) != 0 || p_[name.size() + 1] != '"')
      return false;
    p_ += name.size() + 2;
    first_ = false;
    return token(':');
  }

  // JSON's number syntax. Exponents are left to Reader, which refuses the
  // values a double cannot hold, and so are runs of digits long enough to
  // overflow one.
  bool number() {
    ws();
    const char* q = p_;
    if (q != end_ && *q == '-') ++q;
    if (q == end_) return false;
    if (*q == '0') {
      if (++q != end_ && *q >= '0' && *q <= '9') return false;
    } else if (*q >= '1' && *q <= '9') {
      q = detail::digit_run_end(q + 1, end_);
    } else {
      return false;
    }
    if (q != end_ && *q == '.') {
      const char* const fraction = ++q;
      q = detail::digit_run_end(q, end_);
      if (q == fraction) return false;
    }
    if (q != end_ && (*q == 'e' || *q == 'E')) return false;
    if (q - p_ > MAX_NUMBER_BYTES) return false;
    p_ = q;
    return true;
  }

  // An unsigned integer of at most `max_digits` digits, without a leading
  // zero, fraction or exponent, right here.
  bool digits(std::size_t max_digits, std::uint64_t& value) {
    const char* const start = p_;
    if (start == end_ || *start < '0' || *start > '9') return false;
    const char* const stop = detail::digit_run_end(start + 1, end_);
    if (*start == '0' && stop != start + 1) return false;
    if (static_cast<std::size_t>(stop - start) > max_digits) return false;
    if (stop != end_ && (*stop == '.' || *stop == 'e' || *stop == 'E')) return false;
    for (const char* q = start; q < stop; ++q) value = value * 10 + static_cast<unsigned>(*q - '0');
    p_ = stop;
    return true;
  }

  // Well short of the 309 digits a double overflows at.
  static constexpr std::ptrdiff_t MAX_NUMBER_BYTES = 256;

  const char* begin_;
  const char* p_;
  const char* end_;
  bool first_ = false;
};

}  // namespace kestrix::json
