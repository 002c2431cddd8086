// The ASCII rules that the program's text follows: case, whatever the bytes
// around it, is that of ASCII letters alone.
#ifndef QSOFLAT_TEXT_ASCII_H_
#define QSOFLAT_TEXT_ASCII_H_

#include <algorithm>
#include <cstddef>
#include <string_view>

namespace qsoflat {

// Whether the byte is an ASCII letter, of either case.
constexpr bool is_letter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Whether the byte is an ASCII decimal digit.
constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Whether every byte of the text is an ASCII decimal digit; true for an
// empty text.
inline bool all_digits(std::string_view text) {
  return std::all_of(text.begin(), text.end(), is_digit);
}

// The byte with an ASCII lower-case letter made upper case; any other byte,
// also one of a UTF-8 sequence, as it is.
constexpr char upper_case(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// Whether the two texts are the same but for the case of ASCII letters.
inline bool same_any_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size())
    return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (upper_case(a[i]) != upper_case(b[i]))
      return false;
  return true;
}

}  // namespace qsoflat

#endif  // QSOFLAT_TEXT_ASCII_H_
