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

// The console is the program's own only when the system's facts show the
// window that Explorer opens for it: the program alone in it, reading and
// writing it. Each other way to start it takes one of the facts away.
TEST(ConsoleOfItsOwn, IsTheWindowThatExplorerOpens) {
  const struct {
    const char* how_started;
    console_facts facts;
    bool own;
  } cases[] = {
      {"dropped on in Explorer, or double-clicked", {1, true, true}, true},
      {"from a command prompt or PowerShell", {2, true, true}, false},
      {"from a script that a console window runs", {3, true, true}, false},
      {"with no console, the process list empty", {0, true, true}, false},
      {"with its input redirected", {1, false, true}, false},
      {"with its messages redirected", {1, true, false}, false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(is_console_of_its_own(c.facts), c.own) << c.how_started;
}

}  // namespace

}  // namespace qsoflat
