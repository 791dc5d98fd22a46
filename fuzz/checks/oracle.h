// Reference pieces the fuzz checks judge the readers by. They are written
// from the file formats' rules, apart from the product code, and kept plain
// rather than fast: they only ever see small inputs.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace kestrix::fuzz {

// Text helpers; all expect valid UTF-8.
bool unicode_white_space(char32_t c);
std::string_view ref_trim(std::string_view s);
std::vector<std::string_view> ref_lines(std::string_view s);
std::vector<std::string_view> ref_fields(std::string_view s);

// Strict decimal: optional "+" ("-" too when `is_signed`), one or more ASCII
// digits, within [min, max]; judged by strtoll/strtoull.
std::optional<std::int64_t> ref_signed(std::string_view s, std::int64_t min, std::int64_t max);
std::optional<std::uint64_t> ref_unsigned(std::string_view s, std::uint64_t max);

// The decimal floating-point syntax (sign, digits, fraction, exponent, or
// inf/infinity/nan in any case), judged by strtod when it matches.
std::optional<double> ref_float(std::string_view s);

bool same_double(double a, double b);  // NaN equals NaN

// True when `message` ends in " at line L column C" and that position lies
// inside `text` (L counts lines from 1, C the bytes before it on line L).
bool position_inside(std::string_view message, std::string_view text);

// A JSON text the reference parser can judge: strict UTF-8, no NUL, no BOM.
bool json_judgeable(std::string_view text);

// The reference parser's value, when it parses the text and no object in it
// repeats a key (repeated keys mean different things at different places).
std::optional<nlohmann::json> json_without_repeats(std::string_view text);

// Deepest nesting of arrays and objects.
int json_depth(const nlohmann::json& j);

bool json_is_i64(const nlohmann::json& j);

}  // namespace kestrix::fuzz
