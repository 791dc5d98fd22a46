// Whole-file reads for the small files the tool consults.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "kestrix/error.h"

namespace kestrix {

// The bytes of a regular file, or why not: the system's error text, "not a
// regular file" or (for the text) "not valid UTF-8".
Result<std::string> load_file(const std::string& path);
Result<std::string> load_text_file(const std::string& path);

// The bytes of a regular file, or nothing when it is not one or cannot be
// opened or read.
std::optional<std::string> read_file(const std::string& path);

// The file's text, or nothing when it cannot be read or is not UTF-8.
std::optional<std::string> read_text_file(const std::string& path);

// Strict UTF-8: no overlong forms, surrogates or code points past U+10FFFF.
bool is_utf8(std::string_view bytes);

}  // namespace kestrix
