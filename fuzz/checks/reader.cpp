// The snapshot decoder and the generic reader against the reference parser:
// only well-formed JSON is accepted, all of it but what is refused on
// purpose (depth, out-of-range numbers), with the same values; and the fast
// path for rows against the full decoder.
#include <cmath>

#include "checks.h"
#include "kestrix/io.h"
#include "kestrix/json/record.h"
#include "oracle.h"
#include "snapshot.h"

namespace kestrix::fuzz {

namespace {
bool same_entries(const cli::SavedTopData& a, const cli::SavedTopData& b) {
  if (a.users.size() != b.users.size() || !same_double(a.timestamp, b.timestamp)) return false;
  for (std::size_t i = 0; i < a.users.size(); ++i) {
    const cli::RowEntry& x = a.users[i];
    const cli::RowEntry& y = b.users[i];
    if (x.text.data() != y.text.data() || x.text.size() != y.text.size() || x.id != y.id ||
        x.username != y.username || !same_double(x.key, y.key) ||
        std::signbit(x.key) != std::signbit(y.key))
      return false;
  }
  return true;
}

// The fast path for rows in the daemon's layout gives what the full
// decoder gives, for every figure an entry may keep; and so does reading
// the rows in two halves, however short the text.
const char* check_fast_path(std::string_view text) {
  for (cli::UsageKey key : {cli::UsageKey::Cpu, cli::UsageKey::Io, cli::UsageKey::Pno}) {
    auto fast = cli::decode_snapshot(text, key, cli::RowDecoding::Fast);
    auto full = cli::decode_snapshot(text, key, cli::RowDecoding::Full);
    if (fast.has_value() != full.has_value()) return "the fast path judged a row otherwise";
    if (!fast && fast.error() != full.error()) return "the fast path changed a message";
    if (fast && !same_entries(*fast, *full)) return "the fast path took a row otherwise";
  }
  auto whole = cli::decode_snapshot(text, cli::UsageKey::Io, cli::RowDecoding::Fast);
  auto halves = cli::decode_snapshot(text, cli::UsageKey::Io, cli::RowDecoding::Fast, 0);
  if (whole.has_value() != halves.has_value()) return "the halves judged the rows otherwise";
  if (!whole && whole.error() != halves.error()) return "the halves changed a message";
  if (whole && !same_entries(*whole, *halves)) return "the halves took a row otherwise";
  return nullptr;
}
}  // namespace

const char* check_reader(std::string_view text) {
  if (const char* broken = check_fast_path(text)) return broken;
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
