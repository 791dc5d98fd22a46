// Locale-independent lower-casing of UTF-8 text.
#pragma once

#include <string>
#include <string_view>

namespace kestrix::cli {

// Lower-cases ASCII and the common cased scripts (Latin, Greek, Cyrillic,
// Armenian, Georgian, full-width forms, letterlike symbols). Bytes that are
// not valid UTF-8 are kept as they are.
std::string to_lower(std::string_view text);

}  // namespace kestrix::cli
