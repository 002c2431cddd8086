#include "rows/xlsx_writer.h"

#include <xlsxwriter.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "rows/award_sheets.h"
#include "rows/xlsx_cells.h"
#include "rows/xlsx_library.h"
#include "rows/xlsx_readback.h"

namespace qsoflat {

// What the writing keeps of the workbook. Memory that runs out, here or in
// the functions below, throws std::bad_alloc.
struct xlsx_writer::workbook {
  workbook(const char* file_name, const char* temporary_folder,
           output_columns written_columns, bool iso, std::uint32_t rows,
           std::FILE* written_file);
  // Discards a workbook that was not finished, writing no file.
  ~workbook();
  workbook(const workbook&) = delete;
  workbook& operator=(const workbook&) = delete;

  // The values that were longer than a cell holds and were cut.
  long long cut_values = 0;

  const xlsx_library* library = nullptr;
  std::string file_name;
  std::FILE* written;
  lxw_workbook* book = nullptr;
  std::vector<lxw_worksheet*> sheets;
  output_columns columns;
  bool iso_dates;
  std::uint32_t sheet_rows;
  std::uint32_t row = 0;  // the last row written in the current sheet
  std::string temporary_folder;
  // What each sheet was given, for the reading back.
  std::vector<sheet_facts> facts;
  bool failed = false;  // a cell could not be written
  // Each column's widest value and header, in characters.
  std::vector<std::size_t> widths;
  lxw_format* bold = nullptr;
  lxw_format* date = nullptr;
  lxw_format* minutes = nullptr;
  lxw_format* seconds = nullptr;
  // The number formats that keep a number's zeros, by the digits before
  // the point (1 for a number without leading zeros) and after it.
  std::array<std::array<lxw_format*, 16>, 16> numbers{};
  // A text cell's bytes where they differ from the value's.
  text_cell_room text;
  // The award sheets that follow the QSOs' sheets, where there are any.
  std::optional<std::array<award_sheet, 4>> awards;
};

namespace {

using workbook = xlsx_writer::workbook;

// Excel's built-in number format for a date in the reader's own short
// form, which follows the locale of the machine that shows it.
constexpr std::uint8_t short_date_format = 14;

// Past this many bytes of a sheet's rows, the ZIP's 4 GiB fields could
// overflow with the rest of its XML, so the workbook is written with ZIP64,
// which only very old spreadsheets cannot read.
constexpr std::uint64_t zip64_bytes = std::uint64_t{1} << 31;

// Columns are made wide enough for their widest value and header, in
// characters, within these bounds; the header's filter button and bold
// letters take a few more.
constexpr std::size_t narrowest = 6;
constexpr std::size_t widest = 60;
constexpr std::size_t header_extra = 3;

// Whether the call succeeded; any failure but memory's fails the workbook.
bool check(workbook& writer, lxw_error error) {
  const bool ok = library_ok(error);
  if (!ok)
    writer.failed = true;
  return ok;
}

lxw_format* new_format(workbook& writer) {
  return qsoflat::new_format(*writer.library, writer.book);
}

// The format that shows a number with its zeros as written.
lxw_format* number_format(workbook& writer, const decimal& number) {
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
void fit_column(workbook& writer, lxw_col_t column, std::size_t characters) {
  writer.widths[column] = std::max(writer.widths[column], characters + 1);
}

// Writes a value as text, as a reader is to show it.
bool put_text(workbook& writer, lxw_col_t column, const std::string& value) {
  const text_cell cell = text_cell_of(value, writer.text);
  if (cell.cut)
    ++writer.cut_values;
  if (cell.shown.size() >= writer.widths[column] &&
      writer.widths[column] < widest)
    fit_column(writer, column, characters(cell.shown));
  return check(writer, writer.library->worksheet_write_string(
                           writer.sheets.back(), writer.row, column, cell.bytes,
                           nullptr));
}

bool put_number(workbook& writer, lxw_col_t column, double value,
                lxw_format* format) {
  return check(writer,
               writer.library->worksheet_write_number(
                   writer.sheets.back(), writer.row, column, value, format));
}

// Writes a value as a cell of its column's kind: a date, a time or a
// number where it is one, else text.
bool put_value(workbook& writer, lxw_col_t column, column_kind kind,
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
bool add_sheet(workbook& writer) {
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
  writer.facts.emplace_back();
  writer.library->worksheet_freeze_panes(sheet, 1, 0);
  bool whole = true;
  for (std::size_t i = 0; i < writer.columns.columns.size(); ++i) {
    const auto column = static_cast<lxw_col_t>(i);
    const std::string& header = writer.columns.columns[i].name;
    writer.widths[column] =
        std::max(writer.widths[column], header.size() + header_extra);
    const text_cell cell = text_cell_of(header, writer.text);
    whole = check(writer, writer.library->worksheet_write_string(
                              sheet, 0, column, cell.bytes, writer.bold)) &&
            whole;
  }
  if (!writer.columns.columns.empty())
    writer.facts.back() = {0, 1, 1};
  return whole;
}

// Sets the filter over the current sheet's rows, which are all written.
bool end_sheet(workbook& writer) {
  // A report whose QSOs hold no field has no column to filter: the last
  // column's number would wrap around and fail the workbook.
  const std::size_t count = writer.columns.columns.size();
  if (count == 0)
    return true;
  return check(writer, writer.library->worksheet_autofilter(
                           writer.sheets.back(), 0, 0, writer.row,
                           static_cast<lxw_col_t>(count - 1)));
}

// Frees the workbook without writing it. The library leaves the sheets'
// temporary files open, which on some systems keeps them on disk until
// they are closed.
void discard(workbook& writer) {
  if (writer.book == nullptr)
    return;
  for (lxw_worksheet* sheet : writer.sheets)
    if (sheet->optimize_tmpfile != nullptr)
      (void)std::fclose(sheet->optimize_tmpfile);
  writer.library->lxw_workbook_free(writer.book);
  writer.book = nullptr;
}

// What take_rows gives where a row file could not be written whole.
constexpr std::uint64_t no_rows = ~std::uint64_t{0};

// Writes each sheet's last row, which the library holds in memory, to its
// row file, and takes each file's size for the reading back; the size of
// the largest, or no_rows where one could not be written whole. The
// library ignores a failure to write its row files: they are asked here.
std::uint64_t take_rows(workbook& writer) {
  std::uint64_t largest = 0;
  for (std::size_t i = 0; i < writer.sheets.size(); ++i) {
    lxw_worksheet* const sheet = writer.sheets[i];
    writer.library->lxw_worksheet_write_single_row(sheet);
    std::FILE* const rows = sheet->optimize_tmpfile;
    if (rows == nullptr || std::fflush(rows) != 0 || std::ferror(rows) != 0)
      return no_rows;
    writer.facts[i].rows_bytes = written_size(rows);
    largest = std::max(largest, writer.facts[i].rows_bytes);
  }
  return largest;
}

// Whether the temporary folder has room for the copy of the largest
// sheet's rows that the library makes as it puts the workbook together.
// Without it the copy fails for certain, after as long a wait as the rows
// took to write; the reading back, not this, tells whether the workbook is
// whole. Without a folder of its own, the library takes the system's,
// whose room is not asked.
bool has_room(const workbook& writer, std::uint64_t largest) {
  // Asked of an empty name, the Windows build's reading of the room throws
  // rather than setting the error.
  if (writer.temporary_folder.empty())
    return true;
  std::error_code error;
  const std::filesystem::space_info room = std::filesystem::space(
      std::filesystem::u8path(writer.temporary_folder), error);
  return error || room.available >= largest;
}

// Whether the workbook, read back from its file, holds all that was
// written to it.
bool read_back(const workbook& writer) {
  const auto close = [](std::FILE* file) { (void)std::fclose(file); };
  const std::unique_ptr<std::FILE, decltype(close)> file(
      open_to_read_back(writer.file_name.c_str(), writer.written), close);
  return file != nullptr &&
         workbook_is_whole(*writer.library, file.get(), writer.facts);
}

}  // namespace

xlsx_writer::workbook::workbook(const char* file_name,
                                const char* temporary_folder,
                                output_columns written_columns, bool iso,
                                std::uint32_t rows, std::FILE* written_file)
    : file_name(file_name),
      written(written_file),
      columns(std::move(written_columns)),
      iso_dates(iso),
      sheet_rows(rows) {
  widths.assign(columns.columns.size(), narrowest);
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

xlsx_writer::workbook::~workbook() {
  if (book != nullptr)
    discard(*this);
}

namespace {

bool write_header(workbook& writer) {
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

bool write_record(workbook& writer, const qso_record& record) {
  if (writer.failed)
    return false;
  if (writer.row == writer.sheet_rows &&
      !(end_sheet(writer) && add_sheet(writer)))
    return false;
  ++writer.row;
  const field_slot* const slots =
      record.slots.data() + writer.columns.first_slot;
  bool whole = true;
  bool written = false;
  for (std::size_t i = 0; i < writer.columns.columns.size(); ++i) {
    const field_slot& slot = slots[i];
    // The library writes no cell for an empty text, so an empty value
    // must not count the row as written, or the read-back would miss it.
    if (!record.holds(slot) || slot.value.empty())
      continue;
    written = true;
    whole = put_value(writer, static_cast<lxw_col_t>(i),
                      writer.columns.columns[i].kind, slot.value) &&
            whole;
  }
  // The library writes no row that holds no cell.
  if (written) {
    ++writer.facts.back().rows;
    writer.facts.back().last_row = writer.row + 1;
  }
  return whole;
}

// Adds the award sheets after the QSOs' sheets, so that their rows are
// taken and read back as those of the QSOs' sheets are.
bool add_awards(workbook& writer) {
  added_sheets added;
  const bool whole =
      write_award_sheets(*writer.library, writer.book, *writer.awards, added);
  writer.sheets.insert(writer.sheets.end(), added.sheets.begin(),
                       added.sheets.end());
  writer.facts.insert(writer.facts.end(), added.facts.begin(),
                      added.facts.end());
  writer.cut_values += added.cut_values;
  return whole;
}

bool finish(workbook& writer) {
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
  }
  if (whole && writer.awards)
    whole = add_awards(writer);
  const std::uint64_t largest = whole ? take_rows(writer) : no_rows;
  if (largest == no_rows || !has_room(writer, largest)) {
    discard(writer);
    return false;
  }
  writer.book->options.use_zip64 = largest > zip64_bytes ? LXW_TRUE : LXW_FALSE;
  lxw_workbook* const book = writer.book;
  writer.book = nullptr;
  return writer.library->workbook_close(book) == LXW_NO_ERROR &&
         read_back(writer);
}

}  // namespace

xlsx_writer::xlsx_writer(const char* file_name, const char* temporary_folder,
                         output_columns columns, bool iso_dates,
                         std::uint32_t sheet_rows, std::FILE* written)
    : book_(std::make_unique<workbook>(file_name, temporary_folder,
                                       std::move(columns), iso_dates,
                                       sheet_rows, written)) {}

xlsx_writer::~xlsx_writer() = default;

void xlsx_writer::header() { whole_ = write_header(*book_); }

bool xlsx_writer::row(const qso_record& record) {
  whole_ = whole_ && write_record(*book_, record);
  return whole_;
}

bool xlsx_writer::finish() { return whole_ && qsoflat::finish(*book_); }

void xlsx_writer::add_award_sheets(std::array<award_sheet, 4> sheets) {
  book_->awards = std::move(sheets);
}

std::string xlsx_writer::note() const {
  const long long cut = book_->cut_values;
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
