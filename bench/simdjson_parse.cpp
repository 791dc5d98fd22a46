// The yardstick of the whole-run benchmark: one process that reads a file
// and builds simdjson's DOM of it once, as a program would that parses its
// input and exits. Prints the number of top-level members so the parse
// cannot be dropped.
#include <simdjson.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: kestrix-simdjson-parse FILE\n", stderr);
    return 2;
  }
  simdjson::padded_string text;
  if (auto error = simdjson::padded_string::load(argv[1]).get(text)) {
    std::fprintf(stderr, "%s: %s\n", argv[1], simdjson::error_message(error));
    return 1;
  }
  simdjson::dom::parser parser;
  simdjson::dom::object doc;
  if (auto error = parser.parse(text).get(doc)) {
    std::fprintf(stderr, "%s: %s\n", argv[1], simdjson::error_message(error));
    return 1;
  }
  std::printf("%zu\n", doc.size());
  return 0;
}
