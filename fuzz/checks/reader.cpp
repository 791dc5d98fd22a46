// The snapshot decoder and the generic reader against the reference parser:
// only well-formed JSON is accepted, all of it but what is refused on
// purpose (depth, out-of-range numbers), with the same values.
#include "checks.h"
#include "kestrix/io.h"
#include "kestrix/json/record.h"
#include "oracle.h"
#include "snapshot.h"

namespace kestrix::fuzz {

const char* check_reader(std::string_view text) {
  auto snapshot = cli::decode_snapshot(text);
  auto value = json::decode<nlohmann::json>(text);
  if (!snapshot && !position_inside(snapshot.error(), text)) return "snapshot error position";
  if (!value && !position_inside(value.error(), text)) return "reader error position";
  // Rows are decoded a second time from the text each entry keeps.
  if (snapshot)
    for (const cli::RowEntry& entry : snapshot->users) {
      auto row = cli::decode_row(entry.text);
      if (!row || row->id != entry.id || row->username != entry.username)
        return "a row's text does not decode to its entry";
    }

  if (!is_utf8(text)) return nullptr;  // the loaders refuse such text before decoding
  if (text.starts_with("\xEF\xBB\xBF")) return nullptr;  // the other parser skips a BOM
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
