// Text helpers shared by the readers of small system files and tool
// output: Unicode-aware trimming, lines, fields and the strict decimal syntax.
#pragma once

#include <concepts>
#include <cstddef>
#include <expected>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrix::text {

// `bytes` with every maximal invalid UTF-8 subpart replaced by U+FFFD, for
// the output of outside tools, which promise nothing about encoding.
std::string decode_lossy(std::string_view bytes);

// Unicode White_Space, not just ASCII: the files are edited by hand and a
// stray no-break space must not turn a number into garbage.
bool is_white_space(char32_t c);
std::string_view trim(std::string_view s);

// Lines split at "\n" with a "\r" before it dropped; a final "\n" gives no
// extra empty line.
std::vector<std::string_view> lines(std::string_view s);

// Fields separated by runs of white space.
std::vector<std::string_view> fields(std::string_view s);

// The first `n` Unicode scalar values of `s` (never splits a sequence).
std::string_view first_chars(std::string_view s, std::size_t n);

// Full Unicode case mapping, but only where the result is ASCII: every
// word we compare against is ASCII, so a value with any other character
// can never match and gives nothing.
std::optional<std::string> ascii_upper(std::string_view s);
std::optional<std::string> ascii_lower(std::string_view s);

// Why a text is not a decimal number, in the words the command line and
// the tools' own messages use.
enum class DecimalFault { Empty, InvalidDigit, TooLarge, TooSmall };
std::string_view reason(DecimalFault fault);

// An optional "+" ("-" too for signed types), then one or more ASCII digits,
// nothing else, within the range of T.
template <std::integral T>
std::expected<T, DecimalFault> parse_decimal(std::string_view s) {
  if (s.empty()) return std::unexpected(DecimalFault::Empty);
  bool negative = false;
  if (s.front() == '+' || (std::signed_integral<T> && s.front() == '-')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  if (s.empty()) return std::unexpected(DecimalFault::InvalidDigit);
  T value = 0;
  for (char ch : s) {
    if (ch < '0' || ch > '9') return std::unexpected(DecimalFault::InvalidDigit);
    const T digit = static_cast<T>(ch - '0');
    // Accumulate towards the sign so that the minimum of a signed type fits.
    if (negative) {
      if (value < (std::numeric_limits<T>::min() + digit) / 10)
        return std::unexpected(DecimalFault::TooSmall);
      value = static_cast<T>(value * 10 - digit);
    } else {
      if (value > (std::numeric_limits<T>::max() - digit) / 10)
        return std::unexpected(DecimalFault::TooLarge);
      value = static_cast<T>(value * 10 + digit);
    }
  }
  return value;
}

}  // namespace kestrix::text
