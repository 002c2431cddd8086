#include "csv_writer.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <new>

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

// Rows are handed to the stream in chunks of about this size.
constexpr std::size_t flush_size = std::size_t{64} * 1024;
constexpr std::size_t header_room = 256;

// Room for any formatted column with its separator and a line end: a quoted
// value doubles at most every byte and adds two quotes, and a date or time
// takes at most 16 characters.
constexpr std::size_t room_for(std::size_t value_size) {
  return 2 * value_size + 2 + 16 + 2;
}

// Writes n in decimal, zero-padded to at least min_width characters with a
// minus sign counting toward the width, as "%0*d" would.
char* put_int(char* out, std::int64_t n, int min_width) {
  char digits[24];
  int count = 0;
  std::uint64_t magnitude =
      n < 0 ? 0 - static_cast<std::uint64_t>(n) : static_cast<std::uint64_t>(n);
  do {
    digits[count++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (n < 0) {
    *out++ = '-';
    --min_width;
  }
  for (int pad = min_width - count; pad > 0; --pad)
    *out++ = '0';
  while (count > 0)
    *out++ = digits[--count];
  return out;
}

char* put_text(char* out, std::string_view text) {
  if (!text.empty())
    std::memcpy(out, text.data(), text.size());
  return out + text.size();
}

char* put_quoted(char* out, std::string_view value) {
  *out++ = '"';
  for (char c : value) {
    if (c == '"')
      *out++ = '"';
    *out++ = c;
  }
  *out++ = '"';
  return out;
}

// A value with a comma or a double quote would change the row's shape, so it
// alone is quoted; every other value stays byte for byte as it came. Values
// are short, so the bytes are copied while they are looked at.
char* put_plain(char* out, std::string_view value) {
  char* end = out;
  for (char c : value) {
    if (c == ',' || c == '"')
      return put_quoted(out, value);
    *end++ = c;
  }
  return end;
}

// Start times come as HHMMSS or HHMM; either way the column holds HHMM.
char* put_time(char* out, std::string_view value) {
  const leading_integer n = read_leading_integer(value);
  return put_int(out, n.digits <= 4 ? n.value : n.value / 100, 4);
}

// Makes room for that many bytes at offset at of the buffer and returns
// where they go.
char* reserve(csv_writer& writer, std::size_t at, std::size_t room) {
  std::vector<char>& buffer = writer.buffer;
  if (buffer.size() - at < room) {
    if (room > buffer.max_size() - at)
      throw std::bad_alloc();
    buffer.resize(at + room);
  }
  return buffer.data() + at;
}

}  // namespace

char* format_date(char* out, std::string_view value) {
  const std::int32_t n = read_leading_integer(value).value;
  const std::int32_t month = n / 100 % 100;
  if (month < 1 || month > 12)
    return put_plain(out, value);
  out = put_int(out, n % 100, 1);
  *out++ = '-';
  out = put_text(out, month_names[month - 1]);
  *out++ = '-';
  return put_int(out, n / 10000, 1);
}

bool flush_rows(csv_writer& writer) {
  const std::size_t size = writer.used;
  writer.used = 0;
  return std::fwrite(writer.buffer.data(), 1, size, writer.out) == size;
}

void write_header(csv_writer& writer) {
  char* out = reserve(writer, writer.used, header_room);
  for (std::size_t i = first_column; i < field_count; ++i) {
    if (i > first_column)
      *out++ = ',';
    out = put_text(out, field_names[i]);
  }
  *out++ = '\n';
  writer.used = static_cast<std::size_t>(out - writer.buffer.data());
}

bool write_record(csv_writer& writer, qso_record& record) {
  // The row counts as written only once it is whole, so that a failure to
  // grow the buffer part way never leaves half a row to be flushed.
  std::size_t row_end = writer.used;
  for (std::size_t i = first_column; i < field_count; ++i) {
    field_slot& slot = record.slots[i];
    char* out = reserve(writer, row_end, room_for(slot.value.size()));
    if (i > first_column)
      *out++ = ',';
    if (slot.present) {
      switch (column_kinds[i]) {
        case column_kind::plain:
          out = put_plain(out, slot.value);
          break;
        case column_kind::date:
          out = format_date(out, slot.value);
          break;
        case column_kind::time:
          out = put_time(out, slot.value);
          break;
        case column_kind::county:
          out = put_quoted(out, slot.value);
          break;
      }
      slot.present = false;
      slot.value.clear();
    }
    if (i + 1 == field_count)
      *out++ = '\n';
    row_end = static_cast<std::size_t>(out - writer.buffer.data());
  }
  writer.used = row_end;
  return writer.used < flush_size || flush_rows(writer);
}
