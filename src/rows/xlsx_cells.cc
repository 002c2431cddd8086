#include "rows/xlsx_cells.h"

#include <algorithm>
#include <cstdint>
#include <numeric>

#include "text/ascii.h"
#include "text/utf8.h"
#include "text/windows1252.h"

namespace qsoflat {

namespace {

int number_at(std::string_view text, std::size_t at, std::size_t count) {
  int n = 0;
  for (std::size_t i = at; i < at + count; ++i)
    n = n * 10 + (text[i] - '0');
  return n;
}

// The day count of a date in the proleptic Gregorian calendar, day 0 being
// 1970-01-01.
std::int64_t days_from_civil(int year, int month, int day) {
  if (month <= 2)
    --year;
  const int era = year / 400;
  const int year_of_era = year - era * 400;
  const int day_of_year =
      (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int day_of_era =
      year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return std::int64_t{era} * 146097 + day_of_era - 719468;
}

bool is_leap(int year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

// The General format shows a number as written up to this many
// characters, and longer ones in scientific notation.
constexpr std::size_t general_width = 11;

// The digits as an integer, which at most decimal_digits of them hold
// exactly.
std::int64_t integer_of(std::string_view digits, std::int64_t start) {
  return std::accumulate(
      digits.begin(), digits.end(), start,
      [](std::int64_t n, char c) { return n * 10 + (c - '0'); });
}

bool is_hex(char c) {
  return is_digit(c) || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

// Whether the library writes the byte as an escape _x00HH_ of its own: the
// control characters that XML cannot hold or would change, all but tab and
// line feed.
bool escaped_by_library(unsigned char c) {
  return c < 0x20 && c != '\t' && c != '\n';
}

// Whether the "_" at text[at] would begin an escape in the file: _xHHHH
// followed by "_", or by a byte that the library writes as an escape,
// which begins with one.
bool begins_escape(std::string_view text, std::size_t at) {
  if (text.size() - at < 7 || text[at + 1] != 'x')
    return false;
  for (std::size_t i = at + 2; i < at + 6; ++i)
    if (!is_hex(text[i]))
      return false;
  const auto next = static_cast<unsigned char>(text[at + 6]);
  return next == '_' || escaped_by_library(next);
}

// Where the first "_" that begins an escape stands, or npos.
std::size_t first_escape(std::string_view text) {
  for (std::size_t at = text.find('_'); at != std::string_view::npos;
       at = text.find('_', at + 1))
    if (begins_escape(text, at))
      return at;
  return std::string_view::npos;
}

// The bytes of the UTF-8 text's longest start that a cell holds: at most
// xlsx_cell_chars UTF-16 units, a character beyond the Basic Multilingual
// Plane taking two, and at most as many characters as the library takes,
// which counts an escape of "_" as the seven it is written as; cut before
// a character that would not fit whole.
std::size_t fitting_length(std::string_view text) {
  // Escapes at most double the characters: each takes seven bytes.
  if (text.size() <= xlsx_cell_chars / 2)
    return text.size();
  std::size_t units = 0;
  std::size_t written = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (is_continuation(c))
      continue;
    units += c >= 0xF0 ? 2 : 1;
    written += c == '_' && begins_escape(text, i) ? 7 : 1;
    if (units > xlsx_cell_chars || written > xlsx_cell_chars)
      return i;
  }
  return text.size();
}

// The text as UTF-8: its valid sequences as they are, and each byte that
// begins none read as Windows-1252.
void read_as_utf8(std::string_view text, std::string& out) {
  out.clear();
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t length = utf8_length(text, at, utf8_rule::xml);
    if (length > 0) {
      out.append(text, at, length);
      at += length;
    } else {
      append_utf8(out, windows1252_char(static_cast<unsigned char>(text[at])));
      ++at;
    }
  }
}

}  // namespace

bool read_date(std::string_view value, double& serial) {
  if (value.size() != 8 || !all_digits(value))
    return false;
  const int year = number_at(value, 0, 4);
  const int month = number_at(value, 4, 2);
  const int day = number_at(value, 6, 2);
  constexpr int month_days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (year < 1900 || month < 1 || month > 12 || day < 1 ||
      day > month_days[month - 1] + (month == 2 && is_leap(year) ? 1 : 0))
    return false;
  std::int64_t days =
      days_from_civil(year, month, day) - days_from_civil(1899, 12, 30);
  if (days < 61)
    --days;
  serial = static_cast<double>(days);
  return true;
}

bool read_time(std::string_view value, double& fraction) {
  if ((value.size() != 4 && value.size() != 6) || !all_digits(value))
    return false;
  const int hours = number_at(value, 0, 2);
  const int minutes = number_at(value, 2, 2);
  const int seconds = value.size() == 6 ? number_at(value, 4, 2) : 0;
  if (hours > 23 || minutes > 59 || seconds > 59)
    return false;
  fraction = (hours * 3600 + minutes * 60 + seconds) / 86400.0;
  return true;
}

// The value is the digits as an integer, held exactly, divided by a power
// of ten, also exact, so that it is the double nearest to the number.
bool read_decimal(std::string_view value, decimal& number) {
  const bool negative = !value.empty() && value[0] == '-';
  const std::string_view digits = value.substr(negative ? 1 : 0);
  const std::size_t point = std::min(digits.find('.'), digits.size());
  const std::string_view integer = digits.substr(0, point);
  const std::string_view fraction =
      point < digits.size() ? digits.substr(point + 1) : std::string_view();
  if (integer.empty() || !all_digits(integer) ||
      (point < digits.size() && (fraction.empty() || !all_digits(fraction))) ||
      integer.size() + fraction.size() > decimal_digits)
    return false;
  const std::int64_t mantissa = integer_of(fraction, integer_of(integer, 0));
  if (negative && mantissa == 0)
    return false;
  double scale = 1;
  for (std::size_t i = 0; i < fraction.size(); ++i)
    scale *= 10;
  number.value = static_cast<double>(negative ? -mantissa : mantissa) / scale;
  const bool leading_zero = integer.size() > 1 && integer[0] == '0';
  const bool trailing_zero = !fraction.empty() && fraction.back() == '0';
  number.integer_digits = leading_zero ? integer.size() : 1;
  number.fraction_digits = fraction.size();
  number.general =
      !leading_zero && !trailing_zero && value.size() <= general_width;
  return true;
}

text_cell text_cell_of(const std::string& value, text_cell_room& room) {
  text_cell cell;
  std::string_view shown = value;
  if (!is_utf8(value, utf8_rule::xml)) {
    read_as_utf8(value, room.shown);
    shown = room.shown;
  }
  const std::size_t length = fitting_length(shown);
  cell.cut = length < shown.size();
  shown = shown.substr(0, length);
  cell.shown = shown;
  const std::size_t first = first_escape(shown);
  if (first == std::string_view::npos && !cell.cut &&
      shown.data() == value.data()) {
    cell.bytes = value.c_str();
    return cell;
  }
  room.bytes.assign(shown.substr(0, first));
  for (std::size_t at = room.bytes.size(); at < shown.size(); ++at) {
    if (shown[at] == '_' && begins_escape(shown, at))
      room.bytes += "_x005F";
    room.bytes += shown[at];
  }
  cell.bytes = room.bytes.c_str();
  return cell;
}

std::size_t characters(std::string_view text) {
  return static_cast<std::size_t>(std::count_if(
      text.begin(), text.end(),
      [](char c) { return !is_continuation(static_cast<unsigned char>(c)); }));
}

}  // namespace qsoflat
