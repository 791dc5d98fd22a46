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

// Scans a number starting at '-' or a digit. With `convert`, also computes
// its value: an unsigned or negative integer when it has neither fraction nor
// exponent and fits 64 bits, otherwise a float.
bool Reader::scan_number(Number& n, bool convert) {
  // Locals rather than members in the loops: the compiler cannot keep
  // members in registers across the stores it sees.
  const char* const data = text_.data();
  const char* const end = data + text_.size();
  const char* p = data + pos_;
  const std::size_t start = pos_;
  auto here = [&] { pos_ = static_cast<std::size_t>(p - data); };
  auto is_digit = [&](const char* q) {
    return q < end && (CLASS[static_cast<unsigned char>(*q)] & DIGIT);
  };

  // The syntax first, exactly as JSON has it.
  const bool positive = *p != '-';
  if (!positive) ++p;
  if (p >= end) return here(), fail_here("EOF while parsing a value");
  const char* const int_digits = p;
  const char c = *p++;
  if (c == '0') {
    if (is_digit(p)) return here(), fail_peek("invalid number");
  } else if (c >= '1' && c <= '9') {
    p = detail::digit_run_end(p, end);
  } else {
    return here(), fail_here("invalid number");
  }
  const char* const int_end = p;
  const char* frac_digits = p;
  if (p < end && *p == '.') {
    frac_digits = ++p;
    p = detail::digit_run_end(p, end);
    if (p == frac_digits)
      return here(), fail_peek(p < end ? "invalid number" : "EOF while parsing a value");
  }
  const char* const frac_end = p;
  const bool has_fraction = frac_end != int_end;
  bool has_exponent = false;
  if (p < end && (*p == 'e' || *p == 'E')) {
    has_exponent = true;
    ++p;
    if (p < end && (*p == '+' || *p == '-')) ++p;
    if (p >= end) return here(), fail_here("EOF while parsing a value");
    const char e = *p++;
    if (e < '0' || e > '9') return here(), fail_here("invalid number");
    p = detail::digit_run_end(p, end);
  }
  here();
  if (!convert) return true;

  // Then the value.
  const std::size_t int_count = static_cast<std::size_t>(int_end - int_digits);
  const std::size_t frac_count =
      has_fraction ? static_cast<std::size_t>(frac_end - frac_digits) : 0;
  // Integers of up to nineteen digits always fit 64 bits; decimals are only
  // worth gathering when their digits may fit a double's 53 bits exactly.
  const std::size_t digit_count = int_count + frac_count;
  if (!has_exponent && (has_fraction ? digit_count <= 16 : digit_count <= 19)) {
    std::uint64_t significand = 0;
    for (const char* q = int_digits; q < int_end; ++q) significand = significand * 10 + (*q - '0');
    for (const char* q = frac_digits; q < frac_end; ++q) significand = significand * 10 + (*q - '0');
    if (!has_fraction) {
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
    } else if (significand <= (std::uint64_t{1} << 53)) {
      // Both the digits and the power of ten are exact doubles: one
      // correctly rounded division.
      static constexpr double POW10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,
                                          1e7,  1e8,  1e9,  1e10, 1e11, 1e12, 1e13,
                                          1e14, 1e15, 1e16, 1e17, 1e18, 1e19};
      double magnitude = static_cast<double>(significand) / POW10[frac_count];
      n.kind = Number::F64;
      n.f = positive ? magnitude : -magnitude;
      return true;
    }
  } else if (!has_exponent && !has_fraction && int_count == 20) {
    // Twenty digits may still be an unsigned 64-bit integer.
    std::uint64_t value = 0;
    bool fits = true;
    for (const char* q = int_digits; q < int_end && fits; ++q) {
      std::uint64_t digit = static_cast<std::uint64_t>(*q - '0');
      fits = value <= (UINT64_MAX - digit) / 10;
      value = value * 10 + digit;
    }
    if (fits && positive) {
      n.kind = Number::U64;
      n.u = value;
      return true;
    }
    if (fits && value <= (std::uint64_t{1} << 63)) {
      n.kind = Number::I64;
      n.i = static_cast<std::int64_t>(0 - value);
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

}  // namespace kestrix::json
