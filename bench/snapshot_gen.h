// Deterministic synthetic inputs for benchmarks and memory checks: snapshots,
// and the password database and panel answer that name their accounts.
#pragma once

#include <cstddef>
#include <string>

namespace kestrix::bench {

enum class Figures {
  FullPrecision,  // every usage figure a random double of 17 digits: the worst case
  Rounded,        // usage figures rounded to two decimals, as a sampler reports them
  Sampled,        // the daemon's own shape: whole counters and limits, defaults left
                  // out; about 306 bytes a row
};

// A snapshot text with `rows` accounts, shaped like the daemon's output. Row i
// is uid 1000 + i, named "user<i>".
std::string generate_snapshot(std::size_t rows, Figures figures = Figures::FullPrecision);

// passwd(5) lines: the system's own entries, then `accounts` users named and
// numbered as the snapshot's rows are.
std::string generate_passwd(std::size_t accounts);

// The panel helper's user-info-sys answer naming those same accounts, about
// 180 bytes a record as a real panel writes them.
std::string generate_user_info(std::size_t accounts);

}  // namespace kestrix::bench
