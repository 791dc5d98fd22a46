#include "kestrix/json/numbers.h"

#include <charconv>
#include <cmath>

namespace kestrix::json {

namespace {

// Shortest round-trip digits of a finite, non-zero |value| and the decimal
// exponent `point` such that |value| = 0.DIGITS * 10^point.
struct Digits {
  char buf[32];
  int count = 0;
  int point = 0;
};

Digits shortest_digits(double magnitude) {
  char sci[40];
  auto res = std::to_chars(sci, sci + sizeof sci, magnitude, std::chars_format::scientific);
  Digits d;
  const char* p = sci;
  for (; p < res.ptr && *p != 'e'; ++p)
    if (*p != '.') d.buf[d.count++] = *p;
  if (p < res.ptr && p[1] == '+') ++p;  // from_chars takes no '+'
  int exponent = 0;
  std::from_chars(p + 1, res.ptr, exponent);
  d.point = exponent + 1;
  return d;
}

void append_plain(std::string& out, const Digits& d) {
  if (d.point <= 0) {
    out += "0.";
    out.append(static_cast<std::size_t>(-d.point), '0');
    out.append(d.buf, static_cast<std::size_t>(d.count));
  } else if (d.point >= d.count) {
    out.append(d.buf, static_cast<std::size_t>(d.count));
    out.append(static_cast<std::size_t>(d.point - d.count), '0');
    out += ".0";
  } else {
    out.append(d.buf, static_cast<std::size_t>(d.point));
    out += '.';
    out.append(d.buf + d.point, static_cast<std::size_t>(d.count - d.point));
  }
}

}  // namespace

void append_f64(std::string& out, double value) {
  if (std::signbit(value)) out += '-';
  double magnitude = std::fabs(value);
  if (magnitude == 0) {
    out += "0.0";
    return;
  }
  Digits d = shortest_digits(magnitude);
  if (d.point > -5 && d.point <= 16) {
    append_plain(out, d);
    return;
  }
  out += d.buf[0];
  if (d.count > 1) {
    out += '.';
    out.append(d.buf + 1, static_cast<std::size_t>(d.count - 1));
  }
  out += 'e';
  char exp[8];
  auto res = std::to_chars(exp, exp + sizeof exp, d.point - 1);
  out.append(exp, res.ptr);
}

std::string format_f64_display(double value) {
  if (std::isnan(value)) return "NaN";
  std::string out;
  if (std::signbit(value)) out += '-';
  double magnitude = std::fabs(value);
  if (std::isinf(magnitude)) return out + "inf";
  if (magnitude == 0) return out + "0.0";
  append_plain(out, shortest_digits(magnitude));
  return out;
}

}  // namespace kestrix::json
