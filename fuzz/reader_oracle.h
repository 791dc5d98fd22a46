// What the reader must agree on with an independent JSON parser, for any
// input: it accepts only well-formed JSON, accepts all of it but what it
// refuses on purpose (depth, out-of-range numbers), and reads the same
// values. Used by the fuzz target and by the test that replays its finds.
#pragma once

#include <string_view>

#include <nlohmann/json.hpp>

#include "kestrix/io.h"
#include "kestrix/json/record.h"
#include "snapshot.h"

namespace kestrix::fuzz {

// Returns the first disagreement, or nullptr.
inline const char* reader_disagreement(std::string_view text) {
  if (!is_utf8(text)) return nullptr;  // the loaders refuse such text before decoding
  if (text.starts_with("\xEF\xBB\xBF")) return nullptr;  // the other parser skips a BOM
  auto snapshot = cli::decode_snapshot(text);
  auto value = json::decode<nlohmann::json>(text);
  // The other parser stops at a NUL byte as if the text ended there; JSON
  // has no place for a raw one.
  if (text.find('\0') != std::string_view::npos)
    return snapshot || value ? "accepted a NUL byte" : nullptr;

  const bool well_formed = nlohmann::json::accept(text);
  // Skipped members are checked for syntax only, so a number too large for
  // a double may pass there while the other parser refuses the text.
  const bool out_of_range = !value && value.error().starts_with("number out of range");
  if (snapshot && !well_formed && !out_of_range) return "snapshot decoded from malformed JSON";

  if (value) {
    if (!well_formed) return "value decoded from malformed JSON";
    if (*value != nlohmann::json::parse(text)) return "values differ";
  } else if (well_formed) {
    const std::string& why = value.error();
    if (!why.starts_with("recursion limit exceeded") && !why.starts_with("number out of range"))
      return "well-formed JSON refused";
  }
  return nullptr;
}

}  // namespace kestrix::fuzz
