// UTF-8 to UTF-16 and back, as the system's wide calls take names and text
// on Windows; the conversion itself is the same on every system.
#ifndef QSOFLAT_TEXT_UTF16_H_
#define QSOFLAT_TEXT_UTF16_H_

#include <string>
#include <string_view>
#include <type_traits>

namespace qsoflat {

// A UTF-16 code unit as the system's wide calls take it: wchar_t where that
// is 16 bits wide, as on Windows, else char16_t.
using utf16_unit = std::conditional_t<sizeof(wchar_t) == 2, wchar_t, char16_t>;
using utf16_text = std::basic_string<utf16_unit>;
using utf16_view = std::basic_string_view<utf16_unit>;

// The text in UTF-16. Where the bytes are not valid UTF-8, each longest
// run that starts a valid sequence, or else each byte, becomes U+FFFD, as
// the Unicode Standard recommends: valid UTF-8, as every name in the
// program is, comes back whole.
utf16_text utf16_of(std::string_view utf8);

// The text in UTF-8, each surrogate without its pair becoming U+FFFD.
std::string utf8_of(utf16_view utf16);

}  // namespace qsoflat

#endif  // QSOFLAT_TEXT_UTF16_H_
