#include "rows/xlsx_writer.h"

#include <xlsxwriter.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <new>
#include <numeric>
#include <string>

#include "rows/xlsx_library.h"
#include "text/ascii.h"

namespace qsoflat {

namespace {

// Excel's built-in number format for a date in the reader's own short
// form, which follows the locale of the machine that shows it.
constexpr std::uint8_t short_date_format = 14;

// A sheet's XML takes about its values and this much markup for each cell
// and row, a tenth to a fifth more than it does.
constexpr std::uint64_t cell_markup = 48;
constexpr std::uint64_t row_markup = 40;
// Past this many bytes of a sheet's XML, about, the ZIP's 4 GiB fields
// could overflow, so the workbook is written with ZIP64, which only very
// old spreadsheets cannot read; half of 4 GiB leaves room for values that
// grow when escaped.
constexpr std::uint64_t zip64_bytes = std::uint64_t{1} << 31;
// To put a sheet in the file, the library first copies its rows to another
// temporary file and ignores a failure to write it, which would leave a
// broken file: the workbook is written only when the temporary folder has
// room for the largest sheet, with a quarter and this much to spare.
constexpr std::uint64_t spare_room = std::uint64_t{1} << 20;

// Columns are made wide enough for their widest value and header, in
// characters, within these bounds; the header's filter button and bold
// letters take a few more.
constexpr std::size_t narrowest = 6;
constexpr std::size_t widest = 60;
constexpr std::size_t header_extra = 3;

// The characters of Windows-1252's bytes 0x80 to 0x9F; the five bytes it
// leaves undefined stand for the C1 controls of their value, as Windows
// reads them.
constexpr std::uint16_t cp1252_high[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

int number_at(std::string_view text, std::size_t at, std::size_t count) {
  int n = 0;
  for (std::size_t i = at; i < at + count; ++i)
    n = n * 10 + (text[i] - '0');
  return n;
}

bool is_continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// Whether the text is UTF-8 that an XML file may hold: no overlong form,
// surrogate or code point past U+10FFFF, nor U+FFFE or U+FFFF, which no
// spreadsheet opens.
bool is_utf8(std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const auto* const end = p + text.size();
  while (p < end) {
    if (*p < 0x80) {
      ++p;
      continue;
    }
    std::size_t count;
    char32_t c;
    if (*p >= 0xC2 && *p <= 0xDF) {
      count = 1;
      c = *p & 0x1Fu;
    } else if (*p >= 0xE0 && *p <= 0xEF) {
      count = 2;
      c = *p & 0x0Fu;
    } else if (*p >= 0xF0 && *p <= 0xF4) {
      count = 3;
      c = *p & 0x07u;
    } else {
      return false;
    }
    if (static_cast<std::size_t>(end - p) <= count)
      return false;
    for (std::size_t i = 1; i <= count; ++i) {
      if (!is_continuation(p[i]))
        return false;
      c = c << 6 | (p[i] & 0x3Fu);
    }
    constexpr char32_t least[] = {0, 0x80, 0x800, 0x10000};
    if (c < least[count] || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF ||
        c == 0xFFFE || c == 0xFFFF)
      return false;
    p += count + 1;
  }
  return true;
}

void append_utf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | c >> 6);
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | c >> 12);
    out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// The text read as Windows-1252, in UTF-8.
void windows_1252_to_utf8(std::string_view text, std::string& out) {
  out.clear();
  for (const char byte : text) {
    const auto c = static_cast<unsigned char>(byte);
    append_utf8(out, c >= 0x80 && c < 0xA0 ? cp1252_high[c - 0x80] : c);
  }
}

// The bytes of the UTF-8 text's first xlsx_cell_chars UTF-16 units, a
// character beyond the Basic Multilingual Plane taking two, cut before a
// character that would not fit whole; or its size when it fits.
std::size_t cell_length(std::string_view text) {
  // Each UTF-16 unit takes at least one byte.
  if (text.size() <= xlsx_cell_chars)
    return text.size();
  std::size_t units = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (is_continuation(c))
      continue;
    units += c >= 0xF0 ? 2 : 1;
    if (units > xlsx_cell_chars)
      return i;
  }
  return text.size();
}

std::size_t characters(std::string_view text) {
  return static_cast<std::size_t>(std::count_if(
      text.begin(), text.end(),
      [](char c) { return !is_continuation(static_cast<unsigned char>(c)); }));
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

// A YYYYMMDD value between 1900-01-01 and 9999-12-31 as the spreadsheet's
// day number, which counts 1900 as a leap year: 1 is 1900-01-01 and 61 is
// 1900-03-01. False for any other value.
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

// An HHMM or HHMMSS value within a day as the fraction of a day it is.
// False for any other value.
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
constexpr std::size_t most_digits = 15;
// The General format shows a number as written up to this many
// characters, and longer ones in scientific notation.
constexpr std::size_t general_width = 11;

// A plain decimal number: an optional minus sign, digits, and a point
// followed by digits; not a negative zero, which no cell shows as
// written. The value is the digits as an integer, held exactly, divided
// by a power of ten, also exact, so that it is the double nearest to the
// number, whatever the locale.
bool read_decimal(std::string_view value, decimal& number) {
  const bool negative = !value.empty() && value[0] == '-';
  const std::string_view digits = value.substr(negative ? 1 : 0);
  const std::size_t point = std::min(digits.find('.'), digits.size());
  const std::string_view integer = digits.substr(0, point);
  const std::string_view fraction =
      point < digits.size() ? digits.substr(point + 1) : std::string_view();
  if (integer.empty() || !all_digits(integer) ||
      (point < digits.size() && (fraction.empty() || !all_digits(fraction))) ||
      integer.size() + fraction.size() > most_digits)
    return false;
  const auto add_digit = [](std::int64_t n, char c) {
    return n * 10 + (c - '0');
  };
  const std::int64_t mantissa =
      std::accumulate(fraction.begin(), fraction.end(),
                      std::accumulate(integer.begin(), integer.end(),
                                      std::int64_t{0}, add_digit),
                      add_digit);
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

// Memory that ran out is reported as the rest of the program reports it;
// any other failure only fails the workbook.
bool check(xlsx_writer& writer, lxw_error error) {
  if (error == LXW_ERROR_MEMORY_MALLOC_FAILED)
    throw std::bad_alloc();
  if (error != LXW_NO_ERROR)
    writer.failed = true;
  return error == LXW_NO_ERROR;
}

lxw_format* new_format(xlsx_writer& writer) {
  lxw_format* format = writer.library->workbook_add_format(writer.book);
  if (format == nullptr)
    throw std::bad_alloc();
  return format;
}

// The format that shows a number with its zeros as written.
lxw_format* number_format(xlsx_writer& writer, const decimal& number) {
  lxw_format*& format =
      writer.numbers[number.integer_digits][number.fraction_digits];
  if (format == nullptr) {
    std::string code(number.integer_digits, '0');
    if (number.fraction_digits > 0)
      code += '.' + std::string(number.fraction_digits, '0');
    format = new_format(writer);
    writer.library->format_set_num_format(format, code.c_str());
  }
  return format;
}

// Makes the column wide enough for a value of that many characters, and
// one more between it and the next.
void fit_column(xlsx_writer& writer, lxw_col_t column, std::size_t characters) {
  writer.widths[column] = std::max(writer.widths[column], characters + 1);
}

// Writes a value as text, byte for byte when it is UTF-8, else read as
// Windows-1252, and cut to what a cell holds.
bool put_text(xlsx_writer& writer, lxw_col_t column, const std::string& value) {
  const char* text = value.c_str();
  std::size_t size = value.size();
  if (!is_utf8(value)) {
    windows_1252_to_utf8(value, writer.text);
    text = writer.text.c_str();
    size = writer.text.size();
  }
  const std::size_t length = cell_length(std::string_view(text, size));
  if (length < size) {
    ++writer.cut_values;
    if (text != writer.text.c_str())
      writer.text.assign(text, length);
    else
      writer.text.resize(length);
    text = writer.text.c_str();
    size = length;
  }
  if (size >= writer.widths[column] && writer.widths[column] < widest)
    fit_column(writer, column, characters(std::string_view(text, size)));
  return check(writer,
               writer.library->worksheet_write_string(
                   writer.sheets.back(), writer.row, column, text, nullptr));
}

bool put_number(xlsx_writer& writer, lxw_col_t column, double value,
                lxw_format* format) {
  return check(writer,
               writer.library->worksheet_write_number(
                   writer.sheets.back(), writer.row, column, value, format));
}

// Writes a value as a cell of its column's kind: a date, a time or a
// number where it is one, else text.
bool put_value(xlsx_writer& writer, lxw_col_t column, column_kind kind,
               const std::string& value) {
  double number = 0;
  switch (kind) {
    case column_kind::date:
      if (read_date(value, number)) {
        fit_column(writer, column, 10);
        return put_number(writer, column, number, writer.date);
      }
      break;
    case column_kind::time:
      if (read_time(value, number)) {
        const bool with_seconds = value.size() == 6;
        fit_column(writer, column, with_seconds ? 8 : 5);
        return put_number(writer, column, number,
                          with_seconds ? writer.seconds : writer.minutes);
      }
      break;
    case column_kind::number: {
      decimal read;
      if (read_decimal(value, read)) {
        fit_column(writer, column, value.size());
        return put_number(writer, column, read.value,
                          read.general ? nullptr : number_format(writer, read));
      }
      break;
    }
    case column_kind::plain:
    case column_kind::county:
      break;
  }
  return put_text(writer, column, value);
}

// Adds the next sheet, "QSOs", then "QSOs 2" and so on, with the header
// row, bold and frozen.
bool add_sheet(xlsx_writer& writer) {
  std::string name = "QSOs";
  if (!writer.sheets.empty())
    name += ' ' + std::to_string(writer.sheets.size() + 1);
  lxw_worksheet* sheet =
      writer.library->workbook_add_worksheet(writer.book, name.c_str());
  if (sheet == nullptr) {
    writer.failed = true;
    return false;
  }
  writer.sheets.push_back(sheet);
  writer.row = 0;
  writer.sheet_bytes = 0;
  writer.library->worksheet_freeze_panes(sheet, 1, 0);
  bool whole = true;
  for (std::size_t i = 0; i < writer.names.size(); ++i) {
    const auto column = static_cast<lxw_col_t>(i);
    const std::string header(writer.names[i]);
    writer.widths[column] =
        std::max(writer.widths[column], header.size() + header_extra);
    whole = check(writer, writer.library->worksheet_write_string(
                              sheet, 0, column, header.c_str(), writer.bold)) &&
            whole;
  }
  return whole;
}

// Sets the filter over the current sheet's rows, which are all written.
bool end_sheet(xlsx_writer& writer) {
  writer.largest_sheet_bytes =
      std::max(writer.largest_sheet_bytes, writer.sheet_bytes);
  // A report whose QSOs hold no field has no column to filter: the last
  // column's number would wrap around and fail the workbook.
  if (writer.names.empty())
    return true;
  return check(writer, writer.library->worksheet_autofilter(
                           writer.sheets.back(), 0, 0, writer.row,
                           static_cast<lxw_col_t>(writer.names.size() - 1)));
}

// Frees the workbook without writing it. The library leaves the sheets'
// temporary files open, which on some systems keeps them on disk until
// they are closed.
void discard(xlsx_writer& writer) {
  if (writer.book == nullptr)
    return;
  for (lxw_worksheet* sheet : writer.sheets)
    if (sheet->optimize_tmpfile != nullptr)
      (void)std::fclose(sheet->optimize_tmpfile);
  writer.library->lxw_workbook_free(writer.book);
  writer.book = nullptr;
}

}  // namespace

xlsx_writer::xlsx_writer(const char* file_name, const char* temporary_folder,
                         const column_list* chosen, bool iso,
                         std::uint32_t rows)
    : first_slot(chosen != nullptr ? 0 : first_column),
      iso_dates(iso),
      sheet_rows(rows) {
  output_columns(chosen, names, kinds);
  widths.assign(names.size(), narrowest);
  // The library copies both names.
  lxw_workbook_options options{};
  options.constant_memory = LXW_TRUE;
  options.tmpdir = const_cast<char*>(temporary_folder);
  if (temporary_folder != nullptr)
    this->temporary_folder = temporary_folder;
  // Without the library no workbook is begun, and the header fails.
  library = xlsx_library_functions();
  if (library == nullptr)
    return;
  book = library->workbook_new_opt(file_name, &options);
  if (book == nullptr)
    throw std::bad_alloc();
}

xlsx_writer::~xlsx_writer() {
  if (book != nullptr)
    discard(*this);
}

bool write_header(xlsx_writer& writer) {
  if (writer.book == nullptr)
    return false;
  writer.bold = new_format(writer);
  writer.library->format_set_bold(writer.bold);
  writer.date = new_format(writer);
  if (writer.iso_dates)
    writer.library->format_set_num_format(writer.date, "yyyy-mm-dd");
  else
    writer.library->format_set_num_format_index(writer.date, short_date_format);
  writer.minutes = new_format(writer);
  writer.library->format_set_num_format(writer.minutes, "hh:mm");
  writer.seconds = new_format(writer);
  writer.library->format_set_num_format(writer.seconds, "hh:mm:ss");
  return add_sheet(writer);
}

bool write_record(xlsx_writer& writer, qso_record& record) {
  if (writer.failed)
    return false;
  if (writer.row == writer.sheet_rows &&
      !(end_sheet(writer) && add_sheet(writer)))
    return false;
  ++writer.row;
  writer.sheet_bytes += row_markup;
  field_slot* const slots = record.slots.data() + writer.first_slot;
  bool whole = true;
  for (std::size_t i = 0; i < writer.kinds.size(); ++i) {
    field_slot& slot = slots[i];
    if (!slot.present)
      continue;
    slot.present = false;
    writer.sheet_bytes += cell_markup + slot.value.size();
    whole = put_value(writer, static_cast<lxw_col_t>(i), writer.kinds[i],
                      slot.value) &&
            whole;
  }
  return whole;
}

bool finish(xlsx_writer& writer) {
  bool whole = !writer.failed && !writer.sheets.empty() && end_sheet(writer);
  for (lxw_worksheet* sheet : writer.sheets) {
    for (std::size_t i = 0; i < writer.widths.size(); ++i) {
      const auto column = static_cast<lxw_col_t>(i);
      const double width =
          static_cast<double>(std::min(writer.widths[i], widest));
      whole = check(writer, writer.library->worksheet_set_column(
                                sheet, column, column, width, nullptr)) &&
              whole;
    }
    // The library ignores a failure to write its temporary files, which
    // would leave rows out of the workbook: they are asked here.
    std::FILE* const rows = sheet->optimize_tmpfile;
    whole = whole && rows != nullptr && std::fflush(rows) == 0 &&
            std::ferror(rows) == 0;
  }
  // Without a folder of its own, the library takes the system's, whose
  // room is not asked: error is then set.
  std::error_code error;
  const std::filesystem::space_info room = std::filesystem::space(
      std::filesystem::u8path(writer.temporary_folder), error);
  const std::uint64_t largest = writer.largest_sheet_bytes;
  if (!whole ||
      (!error && room.available < largest + largest / 4 + spare_room)) {
    discard(writer);
    return false;
  }
  writer.book->options.use_zip64 = largest > zip64_bytes ? LXW_TRUE : LXW_FALSE;
  lxw_workbook* const book = writer.book;
  writer.book = nullptr;
  return writer.library->workbook_close(book) == LXW_NO_ERROR;
}

void xlsx_row_writer::header() { whole_ = write_header(writer_); }

bool xlsx_row_writer::row(qso_record& record) {
  whole_ = whole_ && write_record(writer_, record);
  return whole_;
}

bool xlsx_row_writer::finish() { return whole_ && qsoflat::finish(writer_); }

std::string xlsx_row_writer::note() const {
  const long long cut = writer_.cut_values;
  if (cut == 0)
    return {};
  if (cut == 1)
    return "1 value was longer than a cell holds and was cut to 32,767 "
           "characters; a CSV output keeps it whole\n";
  return std::to_string(cut) +
         " values were longer than a cell holds and were cut to 32,767 "
         "characters; a CSV output keeps them whole\n";
}

}  // namespace qsoflat
