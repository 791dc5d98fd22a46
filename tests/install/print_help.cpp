// Prints the help of nimbrel-top's command line. The program itself answers
// --help only after the KRO check has passed, which needs the panel helper;
// the documentation tests need the help text on any machine.
#include <cstdio>
#include <string>
#include <variant>

#include "cli.h"

int main() {
  auto parsed = kestrix::cli::parse({"nimbrel-top", "--help"});
  const auto* done = std::get_if<kestrix::cli::ParseExit>(&parsed);
  if (done == nullptr || done->status != 0 || done->out.empty()) {
    std::fputs("--help did not print help\n", stderr);
    return 1;
  }
  return std::fputs(done->out.c_str(), stdout) < 0 ? 1 : 0;
}
