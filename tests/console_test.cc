#include "console.h"

#include <gtest/gtest.h>

namespace {

TEST(Printable, ShowsControlCharactersAsQuestionMarks) {
  const struct {
    const char* text;
    const char* shown;
  } cases[] = {
      {"x\x1b[2J\a\t\x7f", "x?[2J?\t?"},
      {"\xc2\x9b" "1m \x9b" "2J \xc2\x80\xc2\x9f", "?1m ?2J ??"},
      {"Отчёты \xc2\xa0 \xe2\x80\x9c", "Отчёты \xc2\xa0 \xe2\x80\x9c"},
      // Latin-1 stays; in a broken, overlong, surrogate or too high
      // sequence each byte counts alone, and 0x80 to 0x9F are controls.
      {"\xe9t\xe9 \xc2 \xe2\x82 \xc0\x9b \xed\xa0\x80 \xf4\x90\xa0\xa0",
       "\xe9t\xe9 \xc2 \xe2? \xc0? \xed\xa0? \xf4?\xa0\xa0"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(printable(c.text), c.shown) << c.text;
}

// Only a console that the program alone holds, and both reads and writes,
// is one that closes with it: the program then waits before it ends.
TEST(ConsoleOfItsOwn, IsTheProgramsAloneAndBothReadAndWritten) {
  const struct {
    console_facts facts;
    bool own;
  } cases[] = {
      {{1, true, true}, true},    // started from Explorer
      {{2, true, true}, false},   // a command prompt or PowerShell
      {{0, false, false}, false},  // no console at all
      {{1, false, true}, false},  // standard input redirected
      {{1, true, false}, false},  // standard error redirected
  };
  for (const auto& c : cases)
    EXPECT_EQ(is_console_of_its_own(c.facts), c.own)
        << c.facts.processes << c.facts.input_is_console
        << c.facts.error_is_console;
#ifndef _WIN32
  EXPECT_FALSE(has_console_of_its_own());
#endif
}

}  // namespace
