#include "oracle.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <set>

#include "kestrix/io.h"

namespace kestrix::fuzz {
namespace {

// The scalar value at `i` of valid UTF-8, advancing `i`.
char32_t next_char(std::string_view s, std::size_t& i) {
  const auto b = static_cast<unsigned char>(s[i]);
  std::size_t len = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
  char32_t c = len == 1 ? b : b & (0x7F >> len);
  for (std::size_t k = 1; k < len && i + k < s.size(); ++k)
    c = (c << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
  i += len;
  return c;
}

bool is_digits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

bool equal_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char c = a[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
    if (c != b[i]) return false;
  }
  return true;
}

}  // namespace

bool unicode_white_space(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
         c == 0x205F || c == 0x3000;
}

std::string_view ref_trim(std::string_view s) {
  // Walk forward once, remembering where the last non-blank character ends.
  std::size_t i = 0, start = s.size(), end = 0;
  while (i < s.size()) {
    const std::size_t at = i;
    if (!unicode_white_space(next_char(s, i))) {
      if (start == s.size()) start = at;
      end = i;
    }
  }
  return start == s.size() ? std::string_view() : s.substr(start, end - start);
}

std::vector<std::string_view> ref_lines(std::string_view s) {
  std::vector<std::string_view> out;
  while (!s.empty()) {
    const std::size_t nl = s.find('\n');
    std::string_view line = s.substr(0, nl);
    if (nl != std::string_view::npos && line.ends_with('\r')) line.remove_suffix(1);
    out.push_back(line);
    s = nl == std::string_view::npos ? std::string_view() : s.substr(nl + 1);
  }
  return out;
}

std::vector<std::string_view> ref_fields(std::string_view s) {
  std::vector<std::string_view> out;
  std::size_t i = 0, start = std::string_view::npos;
  while (i < s.size()) {
    const std::size_t at = i;
    const bool blank = unicode_white_space(next_char(s, i));
    if (blank && start != std::string_view::npos) {
      out.push_back(s.substr(start, at - start));
      start = std::string_view::npos;
    } else if (!blank && start == std::string_view::npos) {
      start = at;
    }
  }
  if (start != std::string_view::npos) out.push_back(s.substr(start));
  return out;
}

std::optional<std::int64_t> ref_signed(std::string_view s, std::int64_t min, std::int64_t max) {
  std::string_view digits = s;
  if (!digits.empty() && (digits[0] == '+' || digits[0] == '-')) digits.remove_prefix(1);
  if (!is_digits(digits)) return std::nullopt;
  // strtoll knows the minus; a plus must go.
  const std::string text(s[0] == '+' ? s.substr(1) : s);
  errno = 0;
  const long long v = std::strtoll(text.c_str(), nullptr, 10);
  if (errno == ERANGE || v < min || v > max) return std::nullopt;
  return v;
}

std::optional<std::uint64_t> ref_unsigned(std::string_view s, std::uint64_t max) {
  std::string_view digits = s;
  if (!digits.empty() && digits[0] == '+') digits.remove_prefix(1);
  if (!is_digits(digits)) return std::nullopt;
  const std::string text(digits);
  errno = 0;
  const unsigned long long v = std::strtoull(text.c_str(), nullptr, 10);
  if (errno == ERANGE || v > max) return std::nullopt;
  return v;
}

std::optional<double> ref_float(std::string_view s) {
  std::string_view body = s;
  if (!body.empty() && (body[0] == '+' || body[0] == '-')) body.remove_prefix(1);
  const bool word = equal_ignoring_case(body, "inf") || equal_ignoring_case(body, "infinity") ||
                    equal_ignoring_case(body, "nan");
  if (!word) {
    std::string_view mantissa = body;
    if (const auto e = body.find_first_of("eE"); e != std::string_view::npos) {
      mantissa = body.substr(0, e);
      std::string_view exponent = body.substr(e + 1);
      if (!exponent.empty() && (exponent[0] == '+' || exponent[0] == '-'))
        exponent.remove_prefix(1);
      if (!is_digits(exponent)) return std::nullopt;
    }
    const auto point = mantissa.find('.');
    const std::string_view whole = mantissa.substr(0, point);
    const std::string_view fraction =
        point == std::string_view::npos ? std::string_view() : mantissa.substr(point + 1);
    if (whole.empty() && fraction.empty()) return std::nullopt;
    if ((!whole.empty() && !is_digits(whole)) || (!fraction.empty() && !is_digits(fraction)))
      return std::nullopt;
  }
  const std::string text(s);
  return std::strtod(text.c_str(), nullptr);
}

bool same_double(double a, double b) { return (std::isnan(a) && std::isnan(b)) || a == b; }

bool position_inside(std::string_view message, std::string_view text) {
  const std::size_t at = message.rfind(" at line ");
  if (at == std::string_view::npos) return false;
  std::string_view rest = message.substr(at + 9);
  const std::size_t col = rest.find(" column ");
  if (col == std::string_view::npos) return false;
  const auto line = ref_unsigned(rest.substr(0, col), std::numeric_limits<std::uint64_t>::max());
  const auto column =
      ref_unsigned(rest.substr(col + 8), std::numeric_limits<std::uint64_t>::max());
  if (!line || !column || rest[col + 8] == '+' || rest[0] == '+' || *line == 0) return false;
  std::uint64_t n = 1;
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size() && n < *line; ++i) {
    if (text[i] == '\n') {
      ++n;
      start = i + 1;
    }
  }
  if (n != *line) return false;
  const std::size_t end = text.find('\n', start);
  const std::size_t length = (end == std::string_view::npos ? text.size() : end) - start;
  return *column <= length;
}

bool json_judgeable(std::string_view text) {
  return is_utf8(text) && text.find('\0') == std::string_view::npos &&
         !text.starts_with("\xEF\xBB\xBF");
}

std::optional<nlohmann::json> json_without_repeats(std::string_view text) {
  std::vector<std::set<std::string>> keys;  // one set per open object
  bool repeated = false;
  using Event = nlohmann::json::parse_event_t;
  auto value = nlohmann::json::parse(
      text,
      [&](int, Event event, nlohmann::json& parsed) {
        if (event == Event::object_start) keys.emplace_back();
        if (event == Event::object_end && !keys.empty()) keys.pop_back();
        if (event == Event::key && !keys.empty() &&
            !keys.back().insert(parsed.get<std::string>()).second)
          repeated = true;
        return true;
      },
      false);
  if (value.is_discarded() || repeated) return std::nullopt;
  return value;
}

int json_depth(const nlohmann::json& j) {
  if (!j.is_structured()) return 0;
  int deepest = 0;
  for (const auto& element : j) deepest = std::max(deepest, json_depth(element));
  return deepest + 1;
}

bool json_is_i64(const nlohmann::json& j) {
  if (j.is_number_unsigned())
    return j.get<std::uint64_t>() <=
           static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  return j.is_number_integer();
}

}  // namespace kestrix::fuzz
