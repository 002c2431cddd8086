// The values of an .xlsx sheet's cells, read from a value's text: a date, a
// time or a number as its cell holds it, and a text cell's bytes as the
// library is to be handed them so that a reader shows the value as it was.
#ifndef QSOFLAT_ROWS_XLSX_CELLS_H_
#define QSOFLAT_ROWS_XLSX_CELLS_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace qsoflat {

// The characters a cell holds, counted as a spreadsheet counts them, in
// UTF-16 units; a longer value is cut to them.
inline constexpr std::size_t xlsx_cell_chars = 32767;

// A YYYYMMDD value between 1900-01-01 and 9999-12-31 as the spreadsheet's
// day number, which counts 1900 as a leap year: 1 is 1900-01-01 and 61 is
// 1900-03-01. False for any other value.
bool read_date(std::string_view value, double& serial);

// An HHMM or HHMMSS value within a day as the fraction of a day it is.
// False for any other value.
bool read_time(std::string_view value, double& fraction);

// A number as a cell holds it: its value, and the digits before and after
// its point that its cell's number format must show.
struct decimal {
  double value = 0;
  std::size_t integer_digits = 0;  // 1 when no leading zero is to be kept
  std::size_t fraction_digits = 0;
  bool general = true;  // shown as written without a number format
};

// At most this many digits: a double holds every decimal number of 15
// significant digits exactly enough to give it back, and a spreadsheet
// shows no more. A longer number is text, so that no digit changes.
inline constexpr std::size_t decimal_digits = 15;

// A plain decimal number of at most decimal_digits digits: an optional
// minus sign, digits, and a point followed by digits; not a negative zero,
// which no cell shows as written. The value is the double nearest to the
// number, whatever the locale. False for any other value.
bool read_decimal(std::string_view value, decimal& number);

// A value as a text cell holds it.
struct text_cell {
  // The bytes to hand the library, ending in a NUL. Each "_" that would
  // begin an escape of the form _xHHHH_ (H a hex digit of either case) in
  // the file, which a reader would decode, is written as _x005F_, the
  // escape of "_", so that the reader shows the text as it was.
  const char* bytes = nullptr;
  // The text a reader shows: the value as UTF-8, each byte of it that
  // begins no valid sequence read as Windows-1252 on its own, cut to what
  // a cell holds.
  std::string_view shown;
  bool cut = false;  // whether shown is shorter than the value
};

// Where a text cell's bytes are made when they differ from the value's.
struct text_cell_room {
  std::string shown;
  std::string bytes;
};

// The value as a text cell, cut between characters to xlsx_cell_chars
// UTF-16 units, and to as many characters as the library takes once
// escaped. It points into the value or the room, and holds while both stay
// as they are.
text_cell text_cell_of(const std::string& value, text_cell_room& room);

// The characters of UTF-8 text, as a column's width counts them.
std::size_t characters(std::string_view text);

}  // namespace qsoflat

#endif  // QSOFLAT_ROWS_XLSX_CELLS_H_
