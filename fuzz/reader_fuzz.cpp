// libFuzzer entry: the snapshot decoder and the generic reader against an
// independent parser.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "reader_oracle.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  if (const char* why = kestrix::fuzz::reader_disagreement(text)) {
    std::fprintf(stderr, "disagreement: %s\n", why);
    std::abort();
  }
  return 0;
}
