#include "lower_case.h"

namespace kestrix::cli {
namespace {

// Upper-case letter ranges that map by a fixed offset, or by +1 on
// alternating code points (`pairs`, upper case on the even or odd member
// as `first` says).
struct Range {
  char32_t first;
  char32_t last;
  char32_t offset;
  bool pairs;
};

constexpr Range RANGES[] = {
    {0x0041, 0x005A, 32, false},     // Basic Latin
    {0x00C0, 0x00D6, 32, false},     // Latin-1
    {0x00D8, 0x00DE, 32, false},
    {0x0100, 0x012F, 1, true},       // Latin Extended-A
    {0x0132, 0x0137, 1, true},
    {0x0139, 0x0148, 1, true},
    {0x014A, 0x0177, 1, true},
    {0x0179, 0x017E, 1, true},
    {0x01CD, 0x01DC, 1, true},       // Latin Extended-B, pinyin vowels
    {0x01DE, 0x01EF, 1, true},
    {0x01F8, 0x021F, 1, true},
    {0x0388, 0x038A, 37, false},     // Greek
    {0x038E, 0x038F, 63, false},
    {0x0391, 0x03A1, 32, false},
    {0x03A3, 0x03AB, 32, false},
    {0x03D8, 0x03EF, 1, true},
    {0x0400, 0x040F, 80, false},     // Cyrillic
    {0x0410, 0x042F, 32, false},
    {0x0460, 0x0481, 1, true},
    {0x048A, 0x04BF, 1, true},
    {0x04C1, 0x04CE, 1, true},
    {0x04D0, 0x052F, 1, true},
    {0x0531, 0x0556, 48, false},     // Armenian
    {0x10A0, 0x10C5, 7264, false},   // Georgian
    {0x1E00, 0x1E95, 1, true},       // Latin Extended Additional
    {0x1EA0, 0x1EFF, 1, true},
    {0x2160, 0x216F, 16, false},     // Roman numerals
    {0x24B6, 0x24CF, 26, false},     // circled letters
    {0x2C00, 0x2C2F, 48, false},     // Glagolitic
    {0xFF21, 0xFF3A, 32, false},     // full-width Latin
    {0x10400, 0x10427, 40, false},   // Deseret
};

struct Single {
  char32_t upper;
  char32_t lower;
};

constexpr Single SINGLES[] = {
    {0x0178, 0x00FF}, {0x0386, 0x03AC}, {0x038C, 0x03CC}, {0x04C0, 0x04CF},
    {0x1E9E, 0x00DF}, {0x2126, 0x03C9}, {0x212A, 0x006B}, {0x212B, 0x00E5},
};

char32_t lower_code_point(char32_t c) {
  for (const Range& r : RANGES) {
    if (c < r.first || c > r.last) continue;
    if (!r.pairs) return c + r.offset;
    return ((c - r.first) % 2 == 0) ? c + 1 : c;
  }
  for (const Single& s : SINGLES)
    if (s.upper == c) return s.lower;
  return c;
}

// Length of the well-formed UTF-8 sequence at `pos`, or 0.
std::size_t decode(std::string_view s, std::size_t pos, char32_t& cp) {
  auto b0 = static_cast<unsigned char>(s[pos]);
  std::size_t len;
  char32_t min;
  if (b0 < 0x80) {
    cp = b0;
    return 1;
  } else if ((b0 & 0xE0) == 0xC0) {
    len = 2, cp = b0 & 0x1Fu, min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    len = 3, cp = b0 & 0x0Fu, min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    len = 4, cp = b0 & 0x07u, min = 0x10000;
  } else {
    return 0;
  }
  if (s.size() - pos < len) return 0;
  for (std::size_t i = 1; i < len; ++i) {
    auto b = static_cast<unsigned char>(s[pos + i]);
    if ((b & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b & 0x3Fu);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return len;
}

void encode(char32_t cp, std::string& out) {
  auto put = [&out](char32_t v) { out.push_back(static_cast<char>(v)); };
  if (cp < 0x80) {
    put(cp);
  } else if (cp < 0x800) {
    put(0xC0 | (cp >> 6)), put(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    put(0xE0 | (cp >> 12)), put(0x80 | ((cp >> 6) & 0x3F)), put(0x80 | (cp & 0x3F));
  } else {
    put(0xF0 | (cp >> 18)), put(0x80 | ((cp >> 12) & 0x3F)), put(0x80 | ((cp >> 6) & 0x3F)),
        put(0x80 | (cp & 0x3F));
  }
}

}  // namespace

std::string to_lower(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t pos = 0; pos < text.size();) {
    char32_t cp = 0;
    std::size_t n = decode(text, pos, cp);
    if (n == 0) {
      out.push_back(text[pos++]);
      continue;
    }
    if (cp == 0x0130) {
      // Capital I with dot above keeps its dot as a combining mark.
      out += "i\xCC\x87";
    } else {
      encode(lower_code_point(cp), out);
    }
    pos += n;
  }
  return out;
}

}  // namespace kestrix::cli
