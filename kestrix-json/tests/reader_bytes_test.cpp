#include "reader_bytes.h"

#include <string>

#include <gtest/gtest.h>

namespace kestrix::json::detail {
namespace {

// Every byte value, at every position of a word and beside every other
// kind of byte, must stop the scans exactly where one byte at a time would:
// the word-wise tests go wrong, if at all, next to a matching byte or on
// bytes from 0x80 up, whose borrows and carries cross into their neighbours.
TEST(ByteScans, StopWhereAByteAtATimeWould) {
  const std::string fillers = std::string("a0") + '\x7f' + '\xff' + '\x80' + '\x20' + '9';
  for (int value = 0; value < 256; ++value) {
    for (char filler : fillers) {
      for (std::size_t at = 0; at < 20; ++at) {
        std::string text(20, filler);
        text[at] = static_cast<char>(value);
        const char* data = text.data();
        for (std::size_t from = 0; from <= text.size(); ++from) {
          std::size_t plain = from;
          while (plain < text.size() && !stops_string(static_cast<unsigned char>(text[plain])))
            ++plain;
          ASSERT_EQ(string_run_end(data, from, text.size()), plain)
              << "byte " << value << " at " << at << " in " << int(filler) << " from " << from;
          std::size_t digits = from;
          while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') ++digits;
          ASSERT_EQ(digit_run_end(data + from, data + text.size()) - data,
                    static_cast<std::ptrdiff_t>(digits))
              << "byte " << value << " at " << at << " in " << int(filler) << " from " << from;
        }
      }
    }
  }
}

}  // namespace
}  // namespace kestrix::json::detail
