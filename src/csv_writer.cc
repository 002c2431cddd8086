#include "csv_writer.h"

#include <array>
#include <cstdint>

namespace {

constexpr std::size_t first_column = 2;

enum class column_kind { plain, date, time, county };

// How each field is written, by its index in field_names; the own call and
// station call sign are never written.
constexpr std::array<column_kind, field_count> column_kinds = {
    column_kind::plain,  column_kind::plain, column_kind::plain,
    column_kind::plain,  column_kind::plain, column_kind::date,
    column_kind::time,   column_kind::plain, column_kind::date,
    column_kind::plain,  column_kind::plain, column_kind::plain,
    column_kind::plain,  column_kind::plain, column_kind::plain,
    column_kind::plain,  column_kind::county,
};

constexpr std::array<std::string_view, 12> month_names = {
    "Jan", "Feb", "Mar", "Apr", "May", "Jun",
    "Jul", "Aug", "Sep", "Oct", "Nov", "Dec",
};

struct leading_integer {
  std::int32_t value = 0;
  std::size_t digits = 0;  // the whole digit run, leading zeros included
};

bool is_space(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

// Reads optional white space, an optional sign and decimal digits, as the C
// library does, but saturates at the 32-bit limits instead of overflowing.
leading_integer read_leading_integer(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && is_space(text[i]))
    ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-'))
    negative = text[i++] == '-';
  constexpr std::int64_t limit = std::int64_t{INT32_MAX} + 1;
  std::int64_t magnitude = 0;
  leading_integer result;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    ++result.digits;
    if (magnitude < limit)
      magnitude = magnitude * 10 + (text[i] - '0');
  }
  if (magnitude > limit)
    magnitude = limit;
  if (negative)
    result.value = static_cast<std::int32_t>(-magnitude);
  else
    result.value = static_cast<std::int32_t>(
        magnitude > INT32_MAX ? std::int64_t{INT32_MAX} : magnitude);
  return result;
}

// Appends n in decimal, zero-padded to at least min_width characters with a
// minus sign counting toward the width, as "%0*d" would.
void append_int(std::string& out, std::int64_t n, int min_width) {
  char digits[24];
  int count = 0;
  std::uint64_t magnitude =
      n < 0 ? 0 - static_cast<std::uint64_t>(n) : static_cast<std::uint64_t>(n);
  do {
    digits[count++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (n < 0) {
    out.push_back('-');
    --min_width;
  }
  for (int pad = min_width - count; pad > 0; --pad)
    out.push_back('0');
  while (count > 0)
    out.push_back(digits[--count]);
}

void append_quoted(std::string& out, std::string_view value) {
  out.push_back('"');
  for (char c : value) {
    if (c == '"')
      out.push_back('"');
    out.push_back(c);
  }
  out.push_back('"');
}

// A value with a comma or a double quote would change the row's shape, so it
// alone is quoted; every other value stays byte for byte as it came.
void append_plain(std::string& out, std::string_view value) {
  if (value.find_first_of(",\"") != std::string_view::npos)
    append_quoted(out, value);
  else
    out.append(value);
}

// Start times come as HHMMSS or HHMM; either way the column holds HHMM.
void append_time(std::string& out, std::string_view value) {
  const leading_integer n = read_leading_integer(value);
  append_int(out, n.digits <= 4 ? n.value : n.value / 100, 4);
}

}  // namespace

void format_date(std::string& out, std::string_view value) {
  const std::int32_t n = read_leading_integer(value).value;
  const std::int32_t month = n / 100 % 100;
  if (month < 1 || month > 12) {
    append_plain(out, value);
    return;
  }
  append_int(out, n % 100, 1);
  out.push_back('-');
  out.append(month_names[month - 1]);
  out.push_back('-');
  append_int(out, n / 10000, 1);
}

void write_header(csv_writer& writer) {
  writer.row.clear();
  for (std::size_t i = first_column; i < field_count; ++i) {
    if (i > first_column)
      writer.row.push_back(',');
    writer.row.append(field_names[i]);
  }
  writer.row.push_back('\n');
  std::fwrite(writer.row.data(), 1, writer.row.size(), writer.out);
}

bool write_record(csv_writer& writer, qso_record& record) {
  std::string& row = writer.row;
  row.clear();
  for (std::size_t i = first_column; i < field_count; ++i) {
    if (i > first_column)
      row.push_back(',');
    field_slot& slot = record.slots[i];
    if (!slot.present)
      continue;
    switch (column_kinds[i]) {
      case column_kind::plain:
        append_plain(row, slot.value);
        break;
      case column_kind::date:
        format_date(row, slot.value);
        break;
      case column_kind::time:
        append_time(row, slot.value);
        break;
      case column_kind::county:
        append_quoted(row, slot.value);
        break;
    }
    slot.present = false;
    slot.value.clear();
  }
  row.push_back('\n');
  return std::fwrite(row.data(), 1, row.size(), writer.out) == row.size();
}
