// Whole-file reads for the files the tool consults.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace kestrix {

// Configuration, pid file, login.defs: a few kilobytes in practice.
inline constexpr std::size_t kSmallFileLimit = std::size_t{16} << 20;
// The JSON data files other programs write; a snapshot of a million rows
// takes about 430 MB.
inline constexpr std::size_t kDataFileLimit = std::size_t{2} << 30;

// The bytes of a regular file, or nothing when it is not one, cannot be
// opened or read, holds more than `max_bytes`, or does not fit in memory.
// The size the file claims is only a hint: procfs reports 0, and a file
// being rewritten may grow or shrink while it is read.
std::optional<std::string> read_file(const std::string& path,
                                     std::size_t max_bytes = kSmallFileLimit);

// The file's text, or nothing when it cannot be read (as above) or is not
// UTF-8.
std::optional<std::string> read_text_file(const std::string& path,
                                          std::size_t max_bytes = kSmallFileLimit);

// Strict UTF-8: no overlong forms, surrogates or code points past U+10FFFF.
bool is_utf8(std::string_view bytes);

}  // namespace kestrix
