// Text handling for the output of outside tools, which promise nothing
// about encoding: lossy decoding and Unicode-aware white space.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kestrix::core {

// `bytes` with every maximal invalid UTF-8 subpart replaced by U+FFFD.
std::string decode_lossy(std::string_view bytes);

// True when `text` is well-formed UTF-8.
bool is_utf8(std::string_view text);

// Drops Unicode White_Space from both ends of valid UTF-8 text.
std::string_view trim_space(std::string_view text);

// Fields of valid UTF-8 text separated by runs of Unicode White_Space.
std::vector<std::string_view> split_space(std::string_view text);

}  // namespace kestrix::core
