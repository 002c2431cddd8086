#include "text/utf16.h"

#include <cstddef>

#include "text/utf8.h"

namespace qsoflat {

namespace {

constexpr char32_t replacement = 0xFFFD;
constexpr char32_t first_surrogate = 0xD800;
constexpr char32_t first_low_surrogate = 0xDC00;
constexpr char32_t last_surrogate = 0xDFFF;
constexpr char32_t first_beyond_16_bits = 0x10000;

// The character that starts at text[at], with at moved past it; for bytes
// that are not valid UTF-8, U+FFFD, with at moved past the longest run that
// starts a valid sequence, or past the one byte that starts none.
char32_t next_character(std::string_view text, std::size_t& at) {
  const auto byte = [text](std::size_t i) {
    return static_cast<unsigned char>(text[i]);
  };
  const unsigned char lead = byte(at++);
  const utf8_sequence s = utf8_sequence_of(lead);
  if (s.length <= 1)
    return s.length == 1 ? lead : replacement;
  char32_t c = lead & (0x7Fu >> s.length);
  for (std::size_t i = 1; i < s.length; ++i, ++at) {
    const unsigned char low = i == 1 ? s.second_low : 0x80;
    const unsigned char high = i == 1 ? s.second_high : 0xBF;
    if (at == text.size() || byte(at) < low || byte(at) > high)
      return replacement;
    c = (c << 6) | (byte(at) & 0x3Fu);
  }
  return c;
}

void put_utf16(utf16_text& out, char32_t c) {
  if (c < first_beyond_16_bits) {
    out += static_cast<utf16_unit>(c);
    return;
  }
  c -= first_beyond_16_bits;
  out += static_cast<utf16_unit>(first_surrogate + (c >> 10));
  out += static_cast<utf16_unit>(first_low_surrogate + (c & 0x3FF));
}

bool is_surrogate(char32_t unit, char32_t first, char32_t last) {
  return unit >= first && unit <= last;
}

}  // namespace

utf16_text utf16_of(std::string_view utf8) {
  utf16_text text;
  text.reserve(utf8.size());
  for (std::size_t at = 0; at < utf8.size();)
    put_utf16(text, next_character(utf8, at));
  return text;
}

std::string utf8_of(utf16_view utf16) {
  std::string text;
  text.reserve(utf16.size());
  for (std::size_t at = 0; at < utf16.size(); ++at) {
    char32_t c = static_cast<char16_t>(utf16[at]);
    if (is_surrogate(c, first_surrogate, first_low_surrogate - 1) &&
        at + 1 < utf16.size() &&
        is_surrogate(static_cast<char16_t>(utf16[at + 1]), first_low_surrogate,
                     last_surrogate)) {
      c = first_beyond_16_bits + ((c - first_surrogate) << 10) +
          (static_cast<char16_t>(utf16[++at]) - first_low_surrogate);
    } else if (is_surrogate(c, first_surrogate, last_surrogate)) {
      c = replacement;
    }
    append_utf8(text, c);
  }
  return text;
}

}  // namespace qsoflat
