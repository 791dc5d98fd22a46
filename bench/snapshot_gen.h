// Deterministic synthetic snapshots for benchmarks and memory checks.
#pragma once

#include <cstddef>
#include <string>

namespace kestrix::bench {

// A snapshot text with `rows` accounts, shaped like the daemon's output.
std::string generate_snapshot(std::size_t rows);

}  // namespace kestrix::bench
