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
//
// A record is described by its punctuation and member names, in pieces as
// long as the values between them allow: `{"id":`, then the id, then
// `,"username":`. Each piece is first compared whole, as the writer puts it;
// only when that fails is it taken token by token with white space between.
// The steps are forced inline, so that a record's description compiles to
// one function with the text's position in a register.
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
  // With `Run::Ascii`, strings are taken only when all their bytes are
  // ASCII: then every byte of a record the skim takes has been looked at
  // and is ASCII, and the record needs no UTF-8 check.
  Skim(std::string_view text, std::size_t offset, detail::Run strings = detail::Run::Any)
      : begin_(text.data()),
        p_(text.data() + offset),
        end_(text.data() + text.size()),
        ascii_(strings == detail::Run::Ascii) {}

  [[gnu::always_inline]] std::size_t offset() const {
    return static_cast<std::size_t>(p_ - begin_);
  }

  // A piece of a record's punctuation and quoted member names, such as
  // `},"io":{"all":`. Takes nothing when it does not come next.
  template <std::size_t N>
  [[gnu::always_inline]] bool piece(const char (&text)[N]) {
    constexpr std::size_t n = N - 1;
    if (static_cast<std::size_t>(end_ - p_) >= n && same(p_, text)) {
      p_ += n;
      return true;
    }
    // Mostly a member that is absent, known by the first byte.
    if (p_ == end_ || (*p_ != text[0] && !detail::is_ws(static_cast<unsigned char>(*p_))))
      return false;
    return spaced_piece({text, n});
  }

  // A string without escapes, its bytes left in the text.
  [[gnu::always_inline]] bool string(std::string_view& out) {
    ws();
    if (p_ == end_ || *p_ != '"') return false;
    const std::size_t start = offset() + 1;
    const std::size_t size = static_cast<std::size_t>(end_ - begin_);
    const std::size_t stop = ascii_
                                 ? detail::string_run_end<detail::Run::Ascii>(begin_, start, size)
                                 : detail::string_run_end(begin_, start, size);
    if (stop == size || begin_[stop] != '"') return false;
    out = {begin_ + start, stop - start};
    p_ = begin_ + stop + 1;
    return true;
  }
  [[gnu::always_inline]] bool string() {
    std::string_view ignored;
    return string(ignored);
  }

  [[gnu::always_inline]] bool boolean() { return word("true") || word("false"); }
  // Takes `null` when it comes next; otherwise takes nothing.
  [[gnu::always_inline]] bool null() { return word("null"); }

  // A float field: any number without an exponent. With `out`, its value
  // as Reader gives it.
  [[gnu::always_inline]] bool f64(double* out = nullptr) {
    ws();
    const char* const start = p_;
    if (!number()) return false;
    if (out == nullptr) return true;
    return f64_of({start, static_cast<std::size_t>(p_ - start)}, *out);
  }

  // An integer field: digits only, within the type's range.
  [[gnu::always_inline]] bool u32(std::uint32_t& out) {
    ws();
    std::uint64_t value = 0;
    if (!digits(10, value) || value > UINT32_MAX) return false;
    out = static_cast<std::uint32_t>(value);
    return true;
  }
  // Eighteen digits always fit; -0 is a float to Reader.
  [[gnu::always_inline]] bool i64(std::int64_t* out = nullptr) {
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
  [[gnu::always_inline]] bool scalar() {
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
  [[gnu::always_inline]] void ws() {
    while (p_ != end_ && detail::is_ws(static_cast<unsigned char>(*p_))) ++p_;
  }

  // Whether `p` starts with the literal, compared a word at a time: the
  // literal's words become constants once the step is inlined.
  template <std::size_t N>
  [[gnu::always_inline]] static bool same(const char* p, const char (&text)[N]) {
    constexpr std::size_t n = N - 1;
    if constexpr (n >= 8) {
      std::uint64_t d = differ<std::uint64_t>(p, text, n - 8);
      for (std::size_t at = 0; at + 8 < n; at += 8) d |= differ<std::uint64_t>(p, text, at);
      return d == 0;
    } else if constexpr (n >= 4) {
      return (differ<std::uint32_t>(p, text, 0) | differ<std::uint32_t>(p, text, n - 4)) == 0;
    } else {
      unsigned d = 0;
      for (std::size_t at = 0; at < n; ++at) d |= differ<unsigned char>(p, text, at);
      return d == 0;
    }
  }
  template <class Word>
  [[gnu::always_inline]] static Word differ(const char* p, const char* text, std::size_t at) {
    Word a;
    Word b;
    std::memcpy(&a, p + at, sizeof a);
    std::memcpy(&b, text + at, sizeof b);
    return static_cast<Word>(a ^ b);
  }

  // The piece's tokens with white space before each; none inside a name.
  // Out of line: the writer's own layout seldom comes here.
  [[gnu::noinline]] bool spaced_piece(std::string_view text) {
    const char* const at = p_;
    bool in_name = false;
    for (const char c : text) {
      if (!in_name) ws();
      if (p_ == end_ || *p_ != c) {
        p_ = at;
        return false;
      }
      ++p_;
      if (c == '"') in_name = !in_name;
    }
    return true;
  }

  [[gnu::always_inline]] bool word(std::string_view w) {
    ws();
    if (static_cast<std::size_t>(end_ - p_) < w.size() || std::memcmp(p_, w.data(), w.size()) != 0)
      return false;
    p_ += w.size();
    return true;
  }

  [[gnu::always_inline]] static const char* digits_end(const char* p, const char* end) {
    while (p != end && static_cast<unsigned char>(*p - '0') < 10) ++p;
    return p;
  }

  // JSON's number syntax, right here. Exponents are left to Reader, which refuses the
  // values a double cannot hold, and so are runs of digits long enough to
  // overflow one. Numbers here are short: a plain loop over their digits
  // beats a word-wise scan.
  [[gnu::always_inline]] bool number() {
    const char* q = p_;
    if (q != end_ && *q == '-') ++q;
    if (q == end_) return false;
    if (*q == '0') {
      if (++q != end_ && *q >= '0' && *q <= '9') return false;
    } else if (*q >= '1' && *q <= '9') {
      q = digits_end(q + 1, end_);
    } else {
      return false;
    }
    if (q != end_ && *q == '.') {
      const char* const fraction = ++q;
      q = digits_end(q, end_);
      if (q == fraction) return false;
    }
    if (q != end_ && (*q == 'e' || *q == 'E')) return false;
    if (q - p_ > MAX_NUMBER_BYTES) return false;
    p_ = q;
    return true;
  }

  // An unsigned integer of at most `max_digits` digits, without a leading
  // zero, fraction or exponent, right here.
  [[gnu::always_inline]] bool digits(std::size_t max_digits, std::uint64_t& value) {
    const char* const start = p_;
    if (start == end_ || *start < '0' || *start > '9') return false;
    const char* const stop = digits_end(start + 1, end_);
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
  bool ascii_;
};

}  // namespace kestrix::json
