// Prints a synthetic snapshot: kestrix-snapshot-gen ROWS > nimbrel_top.json
#include <cstdio>
#include <cstdlib>

#include "snapshot_gen.h"

int main(int argc, char** argv) {
  std::size_t rows = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 100000;
  std::string text = kestrix::bench::generate_snapshot(rows);
  return std::fwrite(text.data(), 1, text.size(), stdout) == text.size() && std::fflush(stdout) == 0
             ? 0
             : 1;
}
