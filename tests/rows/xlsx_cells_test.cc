#include "rows/xlsx_cells.h"

#include <gtest/gtest.h>

#include <string>

namespace qsoflat {

namespace {

// Each date as the spreadsheet's day number, which counts a 29 February
// 1900 that never was; -1 where the value is no date.
TEST(XlsxCells, ReadsDatesByTheCalendar) {
  const struct {
    const char* value;
    double serial;
  } cases[] = {
      {"19000101", 1},       {"19000228", 59},    {"19000229", -1},
      {"19000301", 61},      {"20000229", 36585}, {"21000229", -1},
      {"20240229", 45351},   {"20230229", -1},    {"20121003", 41185},
      {"99991231", 2958465}, {"18991231", -1},    {"20121303", -1},
      {"20121000", -1},      {"20120431", -1},    {"2012100", -1},
      {"2012-10-03", -1},    {"201210O3", -1},
  };
  for (const auto& c : cases) {
    double serial = -1;
    EXPECT_EQ(read_date(c.value, serial) ? serial : -1, c.serial) << c.value;
  }
}

// Each time as the seconds of the day it is; -1 where it is no time.
TEST(XlsxCells, ReadsTimesWithinADay) {
  const struct {
    const char* value;
    double seconds;
  } cases[] = {
      {"0000", 0},   {"1012", 36720}, {"101220", 36740}, {"235959", 86399},
      {"2400", -1},  {"1060", -1},    {"101260", -1},    {"930", -1},
      {"10122", -1}, {"10:12", -1},
  };
  for (const auto& c : cases) {
    double fraction = -1;
    // Within a millionth of a second, since the 32-bit program's x87
    // arithmetic may round the last bit of the day's fraction otherwise.
    EXPECT_NEAR(read_time(c.value, fraction) ? fraction * 86400 : -1, c.seconds,
                1e-6)
        << c.value;
  }
}

// Each number with the digits its format shows, as "value integer
// fraction" and "g" where General shows it as written; "text" for the rest.
TEST(XlsxCells, ReadsPlainDecimalNumbers) {
  const struct {
    const char* value;
    const char* read;
  } cases[] = {
      {"14.074", "14.074 1 3 g"},
      {"14.07400", "14.074 1 5"},
      {"04", "4 2 0"},
      {"060", "60 3 0"},
      {"-0.5", "-0.5 1 1 g"},
      {"0", "0 1 0 g"},
      {"123456789012", "123456789012 1 0"},
      {"123456789012345", "123456789012345 1 0"},
      {"1234567890123456", "text"},
      {"-0", "text"},
      {"-0.00", "text"},
      {"+5", "text"},
      {".5", "text"},
      {"5.", "text"},
      {"14,074", "text"},
      {"1e3", "text"},
      {"", "text"},
      {"-", "text"},
  };
  for (const auto& c : cases) {
    decimal number;
    std::string read = "text";
    if (read_decimal(c.value, number)) {
      char value[32];
      (void)std::snprintf(value, sizeof value, "%.15g", number.value);
      read = std::string(value) + " " + std::to_string(number.integer_digits) +
             " " + std::to_string(number.fraction_digits) +
             (number.general ? " g" : "");
    }
    EXPECT_EQ(read, c.read) << c.value;
  }
}

// Each value as the library is handed it and as a reader shows it: a
// literal escape kept by escaping its "_", each invalid byte read as
// Windows-1252 on its own, a long value cut between characters to what a
// cell and the library hold.
TEST(XlsxCells, WritesTextAsAReaderIsToShowIt) {
  std::string escapes;
  for (int i = 0; i < 5000; ++i)
    escapes += "_x0041_";
  std::string faces;
  for (int i = 0; i < 20000; ++i)
    faces += "\xf0\x9f\x98\x80";  // two UTF-16 units each
  const struct {
    std::string value, bytes, shown;
    bool cut;
  } cases[] = {
      {"Q1AAA", "Q1AAA", "Q1AAA", false},
      {"_x0041_", "_x005F_x0041_", "_x0041_", false},
      {"a_x00e9_b", "a_x005F_x00e9_b", "a_x00e9_b", false},
      {"_x0041_x0042_", "_x005F_x0041_x005F_x0042_", "_x0041_x0042_", false},
      {"_xD83D_ _x005F_", "_x005F_xD83D_ _x005F_x005F_", "_xD83D_ _x005F_",
       false},
      // The library writes a control byte as an escape that begins with
      // "_", which would end one before it.
      {"_x0041\x01", "_x005F_x0041\x01", "_x0041\x01", false},
      {"_X0041_ _x004_ _x004G_ x0041_", "_X0041_ _x004_ _x004G_ x0041_",
       "_X0041_ _x004_ _x004G_ x0041_", false},
      {"M\xc3\xbcller\xff", "M\xc3\xbcller\xc3\xbf", "M\xc3\xbcller\xc3\xbf",
       false},
      {"\xe0\xa0\x80 \xef\xbf\xbd", "\xe0\xa0\x80 \xef\xbf\xbd",
       "\xe0\xa0\x80 \xef\xbf\xbd", false},
      {"\xef\xbf\xbe\xe2\x82\xac", "\xc3\xaf\xc2\xbf\xc2\xbe\xe2\x82\xac",
       "\xc3\xaf\xc2\xbf\xc2\xbe\xe2\x82\xac", false},
      {"\xed\xa0\x80\x80\x9f",
       "\xc3\xad\xc2\xa0\xe2\x82\xac\xe2\x82\xac\xc5\xb8",
       "\xc3\xad\xc2\xa0\xe2\x82\xac\xe2\x82\xac\xc5\xb8", false},
      {std::string(40000, 'x'), std::string(32767, 'x'),
       std::string(32767, 'x'), true},
      {faces, faces.substr(0, 16383 * 4), faces.substr(0, 16383 * 4), true},
  };
  for (const auto& c : cases) {
    text_cell_room room;
    const text_cell cell = text_cell_of(c.value, room);
    EXPECT_EQ(cell.bytes, c.bytes) << c.value;
    EXPECT_EQ(cell.shown, c.shown) << c.value;
    EXPECT_EQ(cell.cut, c.cut) << c.value;
  }
  // Written as 13 characters each, 2,520 escapes and the next "_" fill
  // the 32,767 that the library takes.
  text_cell_room room;
  const text_cell cell = text_cell_of(escapes, room);
  EXPECT_EQ(cell.shown, escapes.substr(0, 2520 * 7 + 1));
  EXPECT_EQ(std::string(cell.bytes).size(), 2520 * 13 + 1u);
  EXPECT_TRUE(cell.cut);
}

}  // namespace

}  // namespace qsoflat
