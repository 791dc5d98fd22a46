// libFuzzer entry point of one target, chosen by KESTRIX_FUZZ_TARGET.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "checks/checks.h"

namespace {

kestrix::fuzz::Check chosen() {
  for (const auto& t : kestrix::fuzz::targets())
    if (t.name == KESTRIX_FUZZ_TARGET) return t.check;
  std::fprintf(stderr, "no fuzz target named %s\n", KESTRIX_FUZZ_TARGET);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const kestrix::fuzz::Check check = chosen();
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  if (const char* why = check(input)) {
    std::fprintf(stderr, "%s: %s\n", KESTRIX_FUZZ_TARGET, why);
    std::abort();
  }
  return 0;
}
