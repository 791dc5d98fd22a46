// Message helpers shared by the reader's source files, beside the byte scans.
#pragma once

#include <string>
#include <string_view>

#include "kestrix/json/bytes.h"

namespace kestrix::json::detail {

// A string the way a Rust-style debug formatter quotes it in messages.
std::string quote_debug(std::string_view s);

}  // namespace kestrix::json::detail
