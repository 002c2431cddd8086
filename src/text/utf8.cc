#include "text/utf8.h"

namespace qsoflat {

std::size_t utf8_length(std::string_view text, std::size_t at, utf8_rule rule) {
  const auto byte = [&](std::size_t i) -> unsigned {
    return i < text.size() ? static_cast<unsigned char>(text[i]) : 0;
  };
  const unsigned lead = byte(at);
  const utf8_sequence s = utf8_sequence_of(static_cast<unsigned char>(lead));
  if (s.length <= 1)
    return s.length;
  if (byte(at + 1) < s.second_low || byte(at + 1) > s.second_high)
    return 0;
  for (std::size_t i = 2; i < s.length; ++i)
    if (!is_continuation(static_cast<unsigned char>(byte(at + i))))
      return 0;
  // U+FFFE and U+FFFF are EF BF BE and EF BF BF.
  if (rule == utf8_rule::xml && lead == 0xEF && byte(at + 1) == 0xBF &&
      byte(at + 2) >= 0xBE)
    return 0;
  return s.length;
}

bool is_utf8(std::string_view text, utf8_rule rule) {
  for (std::size_t at = 0; at < text.size();) {
    if (static_cast<unsigned char>(text[at]) < 0x80) {
      ++at;
      continue;
    }
    const std::size_t length = utf8_length(text, at, rule);
    if (length == 0)
      return false;
    at += length;
  }
  return true;
}

void append_utf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
    return;
  }
  if (c < 0x800) {
    out += static_cast<char>(0xC0 | c >> 6);
  } else {
    if (c < 0x10000) {
      out += static_cast<char>(0xE0 | c >> 12);
    } else {
      out += static_cast<char>(0xF0 | c >> 18);
      out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
    }
    out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
  }
  out += static_cast<char>(0x80 | (c & 0x3F));
}

}  // namespace qsoflat
