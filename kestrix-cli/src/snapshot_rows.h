// How a snapshot's rows become entries.
#pragma once

#include "kestrix/json/reader.h"
#include "snapshot.h"

namespace kestrix::cli {

// Reads the "users" array into data.users, by data.key, data.decoding and
// data.halves_from.
bool read_entries(json::Reader& r, SavedTopData& data);

}  // namespace kestrix::cli
