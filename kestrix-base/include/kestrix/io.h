// Whole-file reads for the files the tool consults.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "kestrix/error.h"
#include "kestrix/utf8.h"  // is_utf8, the check that text files pass

namespace kestrix {

// Configuration, pid file, login.defs: a few kilobytes in practice.
inline constexpr std::size_t SMALL_FILE_LIMIT = std::size_t{16} << 20;
// The JSON data files other programs write; a snapshot of a million rows
// takes about 430 MB.
inline constexpr std::size_t DATA_FILE_LIMIT = std::size_t{2} << 30;

// The bytes of a regular file, or why not: the system's error text, "not a
// regular file", "larger than N bytes", "too large for memory" or (for the
// text) "not valid UTF-8". The size the file claims is only a hint: procfs
// reports 0, and a file being rewritten may grow or shrink while it is read.
Result<std::string> load_file(const std::string& path, std::size_t max_bytes = SMALL_FILE_LIMIT);
Result<std::string> load_text_file(const std::string& path,
                                   std::size_t max_bytes = SMALL_FILE_LIMIT);

// The same, for callers that need no reason.
std::optional<std::string> read_file(const std::string& path,
                                     std::size_t max_bytes = SMALL_FILE_LIMIT);
std::optional<std::string> read_text_file(const std::string& path,
                                          std::size_t max_bytes = SMALL_FILE_LIMIT);

}  // namespace kestrix
