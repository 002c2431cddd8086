// UTF-8 as the program checks and writes it: one rule for a valid sequence,
// with the stricter rule of XML, which a workbook's text must also meet, as
// an option.
#ifndef QSOFLAT_TEXT_UTF8_H_
#define QSOFLAT_TEXT_UTF8_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace qsoflat {

enum class utf8_rule {
  // Any Unicode scalar value: no overlong form, no surrogate, nothing past
  // U+10FFFF.
  unicode,
  // Nor U+FFFE or U+FFFF, which an XML file may not hold and which no
  // spreadsheet opens.
  xml,
};

// The sequence that a lead byte starts: its length in bytes (1 for ASCII, 0
// for a byte that starts none), and the range of its second byte, which
// rules out the overlong forms, the surrogates and the code points past
// U+10FFFF; any later byte is 0x80 to 0xBF.
struct utf8_sequence {
  std::size_t length;
  unsigned char second_low;
  unsigned char second_high;
};

constexpr utf8_sequence utf8_sequence_of(unsigned char lead) {
  if (lead < 0x80)
    return {1, 0, 0};
  if (lead >= 0xC2 && lead <= 0xDF)
    return {2, 0x80, 0xBF};
  if (lead >= 0xE0 && lead <= 0xEF)
    return {3, static_cast<unsigned char>(lead == 0xE0 ? 0xA0 : 0x80),
            static_cast<unsigned char>(lead == 0xED ? 0x9F : 0xBF)};
  if (lead >= 0xF0 && lead <= 0xF4)
    return {4, static_cast<unsigned char>(lead == 0xF0 ? 0x90 : 0x80),
            static_cast<unsigned char>(lead == 0xF4 ? 0x8F : 0xBF)};
  return {0, 0, 0};
}

// The length of the valid UTF-8 sequence at text[at], which must be inside
// the text: 1 for an ASCII byte, 2 to 4 for a longer sequence, or 0 where
// the byte there begins none under the rule.
std::size_t utf8_length(std::string_view text, std::size_t at,
                        utf8_rule rule = utf8_rule::unicode);

// Whether the whole text is valid UTF-8 under the rule.
bool is_utf8(std::string_view text, utf8_rule rule = utf8_rule::unicode);

// Whether the byte continues a UTF-8 sequence rather than beginning one.
constexpr bool is_continuation(unsigned char byte) {
  return (byte & 0xC0) == 0x80;
}

// Appends the UTF-8 of the code point, which must be a scalar value.
void append_utf8(std::string& out, char32_t c);

}  // namespace qsoflat

#endif  // QSOFLAT_TEXT_UTF8_H_
