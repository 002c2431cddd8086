#include "system/console.h"

#include <gtest/gtest.h>

namespace qsoflat {

namespace {

TEST(Printable, ShowsControlCharactersAsQuestionMarks) {
  const struct {
    const char* text;
    const char* shown;
  } cases[] = {
      {"x\x1b[2J\a\t\x7f", "x?[2J?\t?"},
      {"\xc2\x9b"
       "1m \x9b"
       "2J \xc2\x80\xc2\x9f",
       "?1m ?2J ??"},
      {"Отчёты \xc2\xa0 \xe2\x80\x9c", "Отчёты \xc2\xa0 \xe2\x80\x9c"},
      // Latin-1 stays; in a broken, overlong, surrogate or too high
      // sequence each byte counts alone, and 0x80 to 0x9F are controls.
      {"\xe9t\xe9 \xc2 \xe2\x82 \xc0\x9b \xed\xa0\x80 \xf4\x90\xa0\xa0",
       "\xe9t\xe9 \xc2 \xe2? \xc0? \xed\xa0? \xf4?\xa0\xa0"},
      // The highest continuation byte, in the middle and at the end.
      {"\xe2\x80\xbf \xf0\x9f\xbf\xbf", "\xe2\x80\xbf \xf0\x9f\xbf\xbf"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(printable(c.text), c.shown) << c.text;
}

}  // namespace

}  // namespace qsoflat
