// Prints a synthetic input on standard output:
//   kestrix-snapshot-gen [--rounded|--sampled] ROWS   a snapshot (nimbrel_top.json)
//   kestrix-snapshot-gen --passwd N         an /etc/passwd naming N accounts
//   kestrix-snapshot-gen --user-info N      the panel's user-info-sys answer for them
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "snapshot_gen.h"

namespace {

int usage() {
  std::fputs("usage: kestrix-snapshot-gen [--rounded|--sampled] ROWS | --passwd N | --user-info N\n", stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace kestrix::bench;
  std::string_view mode = argc > 2 ? argv[1] : "";
  const char* count = argc > 1 ? argv[argc - 1] : "100000";
  char* end = nullptr;
  const std::size_t n = std::strtoull(count, &end, 10);
  if (argc > 3 || *count == '\0' || *end != '\0') return usage();
  std::string text;
  if (mode.empty()) {
    text = generate_snapshot(n);
  } else if (mode == "--rounded") {
    text = generate_snapshot(n, Figures::Rounded);
  } else if (mode == "--sampled") {
    text = generate_snapshot(n, Figures::Sampled);
  } else if (mode == "--passwd") {
    text = generate_passwd(n);
  } else if (mode == "--user-info") {
    text = generate_user_info(n);
  } else {
    return usage();
  }
  return std::fwrite(text.data(), 1, text.size(), stdout) == text.size() && std::fflush(stdout) == 0
             ? 0
             : 1;
}
