#include "text/utf16.h"

#include <gtest/gtest.h>

#include <string>

namespace qsoflat {

namespace {

utf16_text units(std::u16string_view text) {
  return utf16_text(text.begin(), text.end());
}

// Valid UTF-8 goes there and back whole; each ill-formed run becomes one
// U+FFFD, as long as it starts a valid sequence, else each byte does.
TEST(Utf16, FromUtf8) {
  const struct {
    std::string utf8;
    std::u16string utf16;
    bool valid;
  } cases[] = {
      {"", u"", true},
      {std::string("a\0b", 3), std::u16string(u"a\0b", 3), true},
      {"D\xC3\xBCsseldorf \xE2\x82\xAC", u"D\u00FCsseldorf \u20AC", true},
      {"\xEF\xBF\xBF \xF0\x9F\x93\xBB \xF4\x8F\xBF\xBF",
       u"\uFFFF \U0001F4FB \U0010FFFF", true},
      {"\xE2\x82"
       "A \xF0\x9F\x93",
       u"\uFFFDA \uFFFD", false},
      {"\xC0\x80 \xC1\xBF \xF5\x80", u"\uFFFD\uFFFD \uFFFD\uFFFD \uFFFD\uFFFD",
       false},
      {"\xE0\x9F\xBF \xED\xA0\x80 \xF0\x8F \xF4\x90",
       u"\uFFFD\uFFFD\uFFFD \uFFFD\uFFFD\uFFFD \uFFFD\uFFFD \uFFFD\uFFFD",
       false},
      {"\x80\xBF\xE9t\xE9", u"\uFFFD\uFFFD\uFFFDt\uFFFD", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.utf8);
    EXPECT_EQ(utf16_of(c.utf8), units(c.utf16));
    if (c.valid) {
      EXPECT_EQ(utf8_of(units(c.utf16)), c.utf8);
    }
  }
}

// A surrogate without its pair becomes U+FFFD; a pair becomes its one
// character.
TEST(Utf16, ToUtf8) {
  const struct {
    std::u16string utf16;
    std::string utf8;
  } cases[] = {
      {u"\xD83D\xDCFB", "\xF0\x9F\x93\xBB"},
      {u"a\xD83D", "a\xEF\xBF\xBD"},
      {u"\xDCFB\xD83D!", "\xEF\xBF\xBD\xEF\xBF\xBD!"},
      {u"\xD83D\xD83D\xDCFB", "\xEF\xBF\xBD\xF0\x9F\x93\xBB"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(utf8_of(units(c.utf16)), c.utf8);
}

}  // namespace

}  // namespace qsoflat
