// Numbers: JSON's syntax, the three kinds, and the integer ranges fields want.
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "kestrix/json/numbers.h"
#include "kestrix/json/reader.h"
#include "reader_bytes.h"

namespace kestrix::json {

using detail::CLASS;
using detail::DIGIT;

namespace {

// Where the parts of a number lie, in text whose syntax has been checked.
struct NumberParts {
  const char* first;  // the sign or the first digit
  const char* last;   // one past the number
  bool positive;
  const char* int_digits;
  const char* int_end;
  const char* frac_digits;  // both equal to int_end when there is no fraction
  const char* frac_end;
  bool has_exponent;
};

// The value of a number: an unsigned or negative integer when it has
// neither fraction nor exponent and fits 64 bits, otherwise a float. False
// when it is too large for a double.
bool value_of(const NumberParts& s, Reader::Number& n) {
  const std::size_t int_count = static_cast<std::size_t>(s.int_end - s.int_digits);
  const bool has_fraction = s.frac_end != s.int_end;
  const std::size_t frac_count =
      has_fraction ? static_cast<std::size_t>(s.frac_end - s.frac_digits) : 0;
  // Integers of up to nineteen digits always fit 64 bits; decimals are only
  // worth gathering when their digits may fit a double's 53 bits exactly.
  const std::size_t digit_count = int_count + frac_count;
  if (!s.has_exponent && (has_fraction ? digit_count <= 16 : digit_count <= 19)) {
    std::uint64_t significand = 0;
    for (const char* q = s.int_digits; q < s.int_end; ++q) significand = significand * 10 + (*q - '0');
    for (const char* q = s.frac_digits; q < s.frac_end; ++q)
      significand = significand * 10 + (*q - '0');
    if (!has_fraction) {
      if (s.positive) {
        n.kind = Reader::Number::U64;
        n.u = significand;
        return true;
      }
      // -0 and magnitudes beyond the signed range become floats.
      if (significand != 0 && significand <= (std::uint64_t{1} << 63)) {
        n.kind = Reader::Number::I64;
        n.i = static_cast<std::int64_t>(0 - significand);
        return true;
      }
    } else if (significand <= (std::uint64_t{1} << 53)) {
      // Both the digits and the power of ten are exact doubles: one
      // correctly rounded division.
      static constexpr double POW10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,
                                          1e7,  1e8,  1e9,  1e10, 1e11, 1e12, 1e13,
                                          1e14, 1e15, 1e16, 1e17, 1e18, 1e19};
      double magnitude = static_cast<double>(significand) / POW10[frac_count];
      n.kind = Reader::Number::F64;
      n.f = s.positive ? magnitude : -magnitude;
      return true;
    }
  } else if (!s.has_exponent && !has_fraction && int_count == 20) {
    // Twenty digits may still be an unsigned 64-bit integer.
    std::uint64_t value = 0;
    bool fits = true;
    for (const char* q = s.int_digits; q < s.int_end && fits; ++q) {
      std::uint64_t digit = static_cast<std::uint64_t>(*q - '0');
      fits = value <= (UINT64_MAX - digit) / 10;
      value = value * 10 + digit;
    }
    if (fits && s.positive) {
      n.kind = Reader::Number::U64;
      n.u = value;
      return true;
    }
    if (fits && value <= (std::uint64_t{1} << 63)) {
      n.kind = Reader::Number::I64;
      n.i = static_cast<std::int64_t>(0 - value);
      return true;
    }
  }
  n.kind = Reader::Number::F64;
  auto [ptr, ec] = std::from_chars(s.first, s.last, n.f);
  if (ec == std::errc::result_out_of_range) {
    // from_chars says the same for overflow and underflow; only overflow is an error.
    std::string copy(s.first, s.last);
    n.f = std::strtod(copy.c_str(), nullptr);
    if (std::isinf(n.f)) return false;
  }
  return true;
}

double as_f64(const Reader::Number& n) {
  return n.kind == Reader::Number::U64   ? static_cast<double>(n.u)
         : n.kind == Reader::Number::I64 ? static_cast<double>(n.i)
                                         : n.f;
}

}  // namespace

// Scans a number starting at '-' or a digit. With `convert`, also computes
// its value (value_of).
bool Reader::scan_number(Number& n, bool convert) {
  // Locals rather than members in the loops: the compiler cannot keep
  // members in registers across the stores it sees.
  const char* const data = text_.data();
  const char* const end = data + text_.size();
  const char* p = data + pos_;
  auto here = [&] { pos_ = static_cast<std::size_t>(p - data); };
  auto is_digit = [&](const char* q) {
    return q < end && (CLASS[static_cast<unsigned char>(*q)] & DIGIT);
  };

  NumberParts parts{};
  parts.first = p;
  parts.positive = *p != '-';
  if (!parts.positive) ++p;
  if (p >= end) return here(), fail_here("EOF while parsing a value");
  parts.int_digits = p;
  const char c = *p++;
  if (c == '0') {
    if (is_digit(p)) return here(), fail_peek("invalid number");
  } else if (c >= '1' && c <= '9') {
    p = detail::digit_run_end(p, end);
  } else {
    return here(), fail_here("invalid number");
  }
  parts.int_end = parts.frac_digits = p;
  if (p < end && *p == '.') {
    parts.frac_digits = ++p;
    p = detail::digit_run_end(p, end);
    if (p == parts.frac_digits)
      return here(), fail_peek(p < end ? "invalid number" : "EOF while parsing a value");
  }
  parts.frac_end = p;
  if (p < end && (*p == 'e' || *p == 'E')) {
    parts.has_exponent = true;
    ++p;
    if (p < end && (*p == '+' || *p == '-')) ++p;
    if (p >= end) return here(), fail_here("EOF while parsing a value");
    const char e = *p++;
    if (e < '0' || e > '9') return here(), fail_here("invalid number");
    p = detail::digit_run_end(p, end);
  }
  here();
  parts.last = p;
  if (!convert) return true;
  return value_of(parts, n) || fail_here("number out of range");
}

bool f64_of(std::string_view number, double& out) {
  const char* p = number.data();
  const char* const end = p + number.size();
  NumberParts parts{};
  parts.first = p;
  parts.last = end;
  parts.positive = p == end || *p != '-';
  if (!parts.positive) ++p;
  parts.int_digits = p;
  p = detail::digit_run_end(p, end);
  parts.int_end = parts.frac_digits = parts.frac_end = p;
  if (p < end && *p == '.') {
    parts.frac_digits = ++p;
    parts.frac_end = p = detail::digit_run_end(p, end);
  }
  parts.has_exponent = p < end;
  Reader::Number n;
  if (!value_of(parts, n)) return false;
  out = as_f64(n);
  return true;
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
  out = as_f64(n);
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

}  // namespace kestrix::json
