#include "rows/csv_writer.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cstdint>
#include <cstring>
#include <new>
#include <numeric>
#include <utility>

#include "text/ascii.h"
#include "text/leading_integer.h"
#include "text/swar.h"

namespace qsoflat {

namespace {

constexpr std::size_t month_name_size = 3;
constexpr std::array<std::string_view, 12> month_names = {
    "Jan", "Feb", "Mar", "Apr", "May", "Jun",
    "Jul", "Aug", "Sep", "Oct", "Nov", "Dec",
};

// Rows are handed to the stream in chunks of about this size.
constexpr std::size_t flush_size = std::size_t{64} * 1024;
// A value longer than this goes to the stream straight from its slot, so
// that its row never costs the buffer twice the value's size.
constexpr std::size_t long_value = flush_size;

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

// A value without a double quote, as nearly every county is, is copied
// whole between the quotes.
char* put_quoted(char* out, std::string_view value) {
  *out++ = '"';
  if (std::memchr(value.data(), '"', value.size()) == nullptr) {
    out = put_text(out, value);
  } else {
    for (char c : value) {
      if (c == '"')
        *out++ = '"';
      *out++ = c;
    }
  }
  *out++ = '"';
  return out;
}

// Whether any of the eight bytes at p is the separator or a double quote.
bool needs_quotes_in_word(const char* p, char separator) {
  const std::uint64_t word = load_word(p);
  return (zero_bytes(word ^
                     (low_bits * static_cast<unsigned char>(separator))) |
          zero_bytes(word ^ (low_bits * '"'))) != 0;
}

// A value with the separator or a double quote would change the row's
// shape, so it alone is quoted; every other value stays byte for byte as it
// came. No value holds a line end, since the reader ends a line's text at
// the first line feed or carriage return, so none is looked for: looking
// costs the plain shape 3% more instructions. Values are short, so the
// bytes are copied while they are looked at, eight at a time where there
// are eight, the last eight overlapping those before them: a byte at a
// time, 25 columns cost 4% more. Inline, and forced to be, in each
// column's own code, where the separator is a constant.
[[gnu::always_inline]] inline char* put_plain(char* out, std::string_view value,
                                              char separator) {
  const std::size_t size = value.size();
  if (size >= 8) {
    for (std::size_t i = 0;; i += 8) {
      const std::size_t at = std::min(i, size - 8);
      if (needs_quotes_in_word(value.data() + at, separator))
        return put_quoted(out, value);
      std::memcpy(out + at, value.data() + at, 8);
      if (at == size - 8)
        return out + size;
    }
  }
  for (std::size_t i = 0; i < size; ++i) {
    const char c = value[i];
    if (c == separator || c == '"')
      return put_quoted(out, value);
    out[i] = c;
  }
  return out + size;
}

// Whether a date read as the number YYYYMMDD has a month with a name.
constexpr bool has_month(std::int32_t date) {
  return date / 100 % 100 >= 1 && date / 100 % 100 <= 12;
}

// Whether the eight bytes at p are all digits, tested as one word: a byte
// is a digit when its high half is 3 and stays 3 once 6 is added, and the
// first test keeps the addition from carrying into the next byte.
bool eight_digits(const char* p) {
  constexpr std::uint64_t high_halves = 0xF0F0F0F0F0F0F0F0u;
  constexpr std::uint64_t threes = 0x3030303030303030u;
  constexpr std::uint64_t sixes = 0x0606060606060606u;
  std::uint64_t word;
  std::memcpy(&word, p, sizeof word);
  return (word & high_halves) == threes &&
         ((word + sixes) & high_halves) == threes;
}

int two_digits(const char* p) { return (p[0] - '0') * 10 + (p[1] - '0'); }

// Grows the buffer, where it must, to hold that many bytes at offset at,
// and returns where they go.
char* make_room(std::vector<char>& buffer, std::size_t at, std::size_t room) {
  if (buffer.size() - at < room) {
    if (room > buffer.max_size() - at)
      throw std::bad_alloc();
    buffer.resize(at + room);
  }
  return buffer.data() + at;
}

// Writes the column of field i from its slot, with the separator before
// it, where the slot holds a value of the record's round. How the column is
// written is known when compiling, so each column becomes code of its own,
// inline, and forced to be, in the row's code, where the round stays in a
// register.
template <std::size_t i>
[[gnu::always_inline]] inline char* put_column(char* out,
                                               const field_slot& slot,
                                               std::uint64_t round) {
  if constexpr (i > first_column)
    *out++ = default_separator;
  if (slot.round != round)
    return out;
  const std::string_view value = slot.value;
  if constexpr (field_names[i].column == column_kind::date)
    return format_date(out, value);
  else if constexpr (field_names[i].column == column_kind::time)
    return format_time(out, value);
  else if constexpr (field_names[i].column == column_kind::county)
    return put_quoted(out, value);
  else
    return put_plain(out, value, default_separator);
}

// The slots are taken by a pointer read once: their vector's would be read
// again after every byte written, which may alias it.
template <std::size_t... index>
char* put_columns(char* out, const field_slot* slots, std::uint64_t round,
                  std::index_sequence<index...>) {
  ((out = put_column<first_column + index>(out, slots[first_column + index],
                                           round)),
   ...);
  return out;
}

// Writes a value as a column of that kind is written, for a row written a
// column at a time.
template <char separator>
char* put_value(char* out, column_kind kind, bool iso_dates,
                std::string_view value) {
  switch (kind) {
    case column_kind::date:
      return iso_dates ? format_iso_date(out, value, separator)
                       : format_date(out, value, separator);
    case column_kind::time:
      return iso_dates ? format_iso_time(out, value) : format_time(out, value);
    case column_kind::county:
      return put_quoted(out, value);
    case column_kind::plain:
    case column_kind::number:
      break;
  }
  return put_plain(out, value, separator);
}

// Writes a long value to the stream as put_plain, or put_quoted when always
// quoted, would write it; false when the stream took it short.
bool put_long_value(std::FILE* out, std::string_view value, bool quoted,
                    char separator) {
  const char needs_quotes[] = {separator, '"'};
  if (!quoted && value.find_first_of(needs_quotes, 0, sizeof needs_quotes) ==
                     std::string_view::npos)
    return std::fwrite(value.data(), 1, value.size(), out) == value.size();
  bool whole = std::fputc('"', out) != EOF;
  // The text up to and with each double quote, then that quote again.
  for (std::size_t start = 0; whole;) {
    const std::size_t quote = value.find('"', start);
    const std::size_t stop =
        quote == std::string_view::npos ? value.size() : quote + 1;
    whole =
        std::fwrite(value.data() + start, 1, stop - start, out) == stop - start;
    if (quote == std::string_view::npos)
      break;
    whole = whole && std::fputc('"', out) != EOF;
    start = stop;
  }
  return whole && std::fputc('"', out) != EOF;
}

// Whether the column writes the long value of its slot, which holds one,
// as it stands rather than a short text made of it, as dates and times are.
bool writes_value(column_kind kind, const field_slot& slot) {
  if (slot.value.size() <= long_value)
    return false;
  if (kind == column_kind::date)
    return !has_month(saturated_32(read_leading_integer(slot.value).value));
  return kind != column_kind::time;
}

// The room that a column takes in the buffer: a long value that goes to
// the stream straight takes only its separator.
std::size_t room_in_buffer(const field_slot& slot, std::uint64_t round) {
  const bool held = slot.round == round && slot.value.size() <= long_value;
  return room_for(held ? slot.value.size() : 0);
}

}  // namespace

// A row written a column at a time, as every row of chosen columns or in
// ISO dates is. A long value goes to the stream straight from its slot,
// after the rows held and the columns before it. Room for the separators
// and the line end is made first, then room for each held value as it
// comes, so that a failure to grow the buffer leaves the row unflushed;
// once a long value is to go out, the room for the rest of the row is made
// before it does, so that no part of a row reaches the stream unless all
// of it can. The row is written through a pointer that these checks keep
// valid: through the buffer's vector and its count, which each column
// would read again, 25 columns cost 2% more. Making the room as each value
// comes, rather than summing it over the row first, costs --columns all
// 0.5% fewer instructions on a detailed download.
template <char separator>
bool csv_writer::row_by_columns(const qso_record& record) {
  const field_slot* const slots = record.slots.data() + columns_.first_slot;
  const output_column* const columns = columns_.columns.data();
  const std::size_t count = columns_.columns.size();
  const std::uint64_t round = record.round();
  const bool iso_dates = iso_dates_;
  char* out = make_room(buffer_, used_, count + 1);
  char* end = buffer_.data() + buffer_.size();
  bool whole = true;
  for (std::size_t i = 0; i < count; ++i) {
    if (i > 0)
      *out++ = separator;
    const field_slot& slot = slots[i];
    if (slot.round != round)
      continue;
    const column_kind kind = columns[i].kind;
    if (writes_value(kind, slot)) {
      // Twice the separators, so that each later value's own check finds
      // its room without growing the buffer.
      std::size_t rest = 2 * count + 1;
      for (std::size_t j = i + 1; j < count; ++j)
        rest += room_in_buffer(slots[j], round);
      used_ = static_cast<std::size_t>(out - buffer_.data());
      (void)make_room(buffer_, used_, rest);
      whole = flush_rows() && whole;
      whole = put_long_value(out_, slot.value, kind == column_kind::county,
                             separator) &&
              whole;
      out = buffer_.data();
      end = out + buffer_.size();
      continue;
    }
    // A date or time made of a long value is short.
    const std::size_t size = slot.value.size();
    const std::size_t room = room_for(size <= long_value ? size : 0) + count;
    if (static_cast<std::size_t>(end - out) < room) {
      out = make_room(buffer_, static_cast<std::size_t>(out - buffer_.data()),
                      room);
      end = buffer_.data() + buffer_.size();
    }
    out = put_value<separator>(out, kind, iso_dates, slot.value);
  }
  *out++ = '\n';
  used_ = static_cast<std::size_t>(out - buffer_.data());
  return whole && (used_ < flush_size || flush_rows());
}

// Each separator has its own copy of the row's code, in which it is a
// constant: passed along, 25 columns cost 0.5% more.
bool csv_writer::row_by_columns(const qso_record& record) {
  switch (separator_) {
    case ';':
      return row_by_columns<';'>(record);
    case '\t':
      return row_by_columns<'\t'>(record);
    default:
      return row_by_columns<default_separator>(record);
  }
}

char* format_date(char* out, std::string_view value, char separator) {
  // Eight digits, as nearly every value is, are written from the digits as
  // they stand: the day and the year lose their leading zeros, as the
  // general path below writes them.
  if (value.size() == 8 && eight_digits(value.data())) {
    const int month = two_digits(value.data() + 4);
    if (month < 1 || month > 12)
      return put_text(out, value);
    if (value[6] != '0')
      *out++ = value[6];
    *out++ = value[7];
    *out++ = '-';
    std::memcpy(out, month_names[month - 1].data(), month_name_size);
    out += month_name_size;
    *out++ = '-';
    std::size_t digit = 0;
    while (digit < 3 && value[digit] == '0')
      ++digit;
    for (; digit < 4; ++digit)
      *out++ = value[digit];
    return out;
  }
  return format_date_general(out, value, separator);
}

char* format_date_general(char* out, std::string_view value, char separator) {
  const std::int32_t n = saturated_32(read_leading_integer(value).value);
  if (!has_month(n))
    return put_plain(out, value, separator);
  out = put_int(out, n % 100, 1);
  *out++ = '-';
  out = put_text(out, month_names[n / 100 % 100 - 1]);
  *out++ = '-';
  return put_int(out, n / 10000, 1);
}

// Four or six digits, as nearly every value is, give their first four as
// they stand, which is what the general reading gives for them.
char* format_time(char* out, std::string_view value) {
  if ((value.size() == 6 || value.size() == 4) && all_digits(value))
    return put_text(out, value.substr(0, 4));
  return format_time_general(out, value);
}

char* format_time_general(char* out, std::string_view value) {
  const leading_integer n = read_leading_integer(value);
  const std::int32_t time = saturated_32(n.value);
  return put_int(out, n.digits <= 4 ? time : time / 100, 4);
}

char* format_iso_date(char* out, std::string_view value, char separator) {
  if (value.size() == 8 && eight_digits(value.data())) {
    const int month = two_digits(value.data() + 4);
    if (month < 1 || month > 12)
      return put_text(out, value);
    out = put_text(out, value.substr(0, 4));
    *out++ = '-';
    out = put_text(out, value.substr(4, 2));
    *out++ = '-';
    return put_text(out, value.substr(6, 2));
  }
  return format_iso_date_general(out, value, separator);
}

char* format_iso_date_general(char* out, std::string_view value,
                              char separator) {
  const std::int32_t n = saturated_32(read_leading_integer(value).value);
  if (!has_month(n))
    return put_plain(out, value, separator);
  out = put_int(out, n / 10000, 4);
  *out++ = '-';
  out = put_int(out, n / 100 % 100, 2);
  *out++ = '-';
  return put_int(out, n % 100, 2);
}

// The time as format_time writes it, at least four characters, split
// before its last two, the minutes.
char* format_iso_time(char* out, std::string_view value) {
  char hhmm[16];
  const std::size_t size =
      static_cast<std::size_t>(format_time(hhmm, value) - hhmm);
  out = put_text(out, std::string_view(hhmm, size - 2));
  *out++ = ':';
  return put_text(out, std::string_view(hhmm + size - 2, 2));
}

csv_writer::csv_writer(std::FILE* output, output_columns columns,
                       bool iso_dates, char separator)
    : out_(output),
      columns_(std::move(columns)),
      iso_dates_(iso_dates),
      separator_(separator),
      fixed_(columns_.fixed && !iso_dates && separator == default_separator) {
  // The code made for the 15 columns reads their fields' own slots.
  assert(!columns_.fixed ||
         (columns_.first_slot == first_column &&
          columns_.columns.size() == field_count - first_column));
}

bool csv_writer::flush_rows() {
  const std::size_t size = used_;
  used_ = 0;
  return std::fwrite(buffer_.data(), 1, size, out_) == size;
}

void csv_writer::header() {
  const std::vector<output_column>& columns = columns_.columns;
  const std::size_t room =
      std::accumulate(columns.begin(), columns.end(), std::size_t{1},
                      [](std::size_t sum, const output_column& column) {
                        return sum + column.name.size() + 1;
                      });
  char* out = make_room(buffer_, used_, room);
  for (std::size_t i = 0; i < columns.size(); ++i) {
    if (i > 0)
      *out++ = separator_;
    out = put_text(out, columns[i].name);
  }
  *out++ = '\n';
  used_ = static_cast<std::size_t>(out - buffer_.data());
}

bool csv_writer::row(const qso_record& record) {
  if (!fixed_)
    return row_by_columns(record);
  // Room for the whole row is made first, so that a failure to grow the
  // buffer never leaves half a row to be flushed.
  const std::uint64_t round = record.round();
  std::size_t room = 0;
  for (std::size_t i = first_column; i < field_count; ++i) {
    const field_slot& slot = record.slots[i];
    const std::size_t size = slot.round == round ? slot.value.size() : 0;
    if (size > long_value)
      return row_by_columns(record);
    room += room_for(size);
  }
  char* out = make_room(buffer_, used_, room);
  out = put_columns(out, record.slots.data(), round,
                    std::make_index_sequence<field_count - first_column>());
  *out++ = '\n';
  used_ = static_cast<std::size_t>(out - buffer_.data());
  return used_ < flush_size || flush_rows();
}

bool csv_writer::finish() {
  return flush_rows() && std::fflush(out_) == 0 && std::ferror(out_) == 0;
}

}  // namespace qsoflat
