// Deterministic synthetic snapshots for benchmarks and memory checks.
#pragma once

#include <cstddef>
#include <string>

namespace kestrix::bench {

enum class Figures {
  FullPrecision,  // every usage figure a random double of 17 digits: the worst case
  Rounded,        // usage figures rounded to two decimals, as a sampler reports them
};

// A snapshot text with `rows` accounts, shaped like the daemon's output.
std::string generate_snapshot(std::size_t rows, Figures figures = Figures::FullPrecision);

}  // namespace kestrix::bench
