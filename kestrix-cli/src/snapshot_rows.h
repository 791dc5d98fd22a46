// How a snapshot's rows become entries.
#pragma once

#include <cstddef>
#include <string_view>

#include "kestrix/json/reader.h"
#include "snapshot.h"

namespace kestrix::cli {

// Reads the "users" array into data.users, by data.key, data.decoding and
// data.halves_from.
bool read_entries(json::Reader& r, SavedTopData& data);

// Where the rows that begin at `first` are likely to end, without reading
// them: the members behind them are stepped over back from the end of the
// text, up to an array whose last element is a row. read_entries sizes its
// halves by it; a wrong answer costs work, never another outcome.
std::size_t rows_end(std::string_view text, std::size_t first);

}  // namespace kestrix::cli
