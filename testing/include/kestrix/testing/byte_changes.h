// Texts one byte away from a given one, for tests that hold two ways of
// reading a text to the same outcome whatever the text.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kestrix::testing {

// `text` with each of its bytes changed into each of `bytes` it is not.
template <class Check>
void for_each_changed_byte(std::string_view text, std::string_view bytes, Check&& check) {
  for (std::size_t at = 0; at < text.size(); ++at)
    for (const char b : bytes) {
      if (text[at] == b) continue;
      std::string changed(text);
      changed[at] = b;
      check(changed);
    }
}

// `text` with each of its bytes dropped, doubled, or with a blank before it.
template <class Check>
void for_each_dropped_or_added_byte(std::string_view text, Check&& check) {
  const std::string whole(text);
  for (std::size_t at = 0; at < whole.size(); ++at) {
    check(whole.substr(0, at) + whole.substr(at + 1));
    check(whole.substr(0, at + 1) + whole.substr(at));
    check(whole.substr(0, at) + " " + whole.substr(at));
  }
}

}  // namespace kestrix::testing
