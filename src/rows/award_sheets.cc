#include "rows/award_sheets.h"

#include <xlsxwriter.h>

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "rows/xlsx_cells.h"
#include "rows/xlsx_library.h"
#include "text/leading_integer.h"

namespace qsoflat {

namespace {

// The fills of a confirmed and of a worked slot: Excel's standard light
// green and amber, on which the letters stay readable in black.
constexpr lxw_color_t confirmed_fill = 0x92D050;
constexpr lxw_color_t worked_fill = 0xFFC000;

// Rows 1 and 2 hold the counts, row 3 the header (0-based here, as the
// library counts).
constexpr lxw_row_t confirmed_row = 0;
constexpr lxw_row_t worked_row = 1;
constexpr lxw_row_t header_row = 2;
constexpr lxw_row_t first_slot_row = 3;

// Columns are made wide enough for their widest value, in characters,
// within these bounds; the header's filter button takes a few more.
constexpr std::size_t narrowest = 4;
constexpr std::size_t widest = 60;
constexpr std::size_t header_extra = 3;

struct sheet_formats {
  lxw_format* bold = nullptr;
  lxw_format* confirmed = nullptr;
  lxw_format* worked = nullptr;
};

// One sheet as it is being written: where its cells go, how wide each
// column is to be, and whether every cell went in.
struct sheet_out {
  const xlsx_library& library;
  lxw_worksheet* sheet;
  std::vector<std::size_t> widths;
  bool whole = true;
  text_cell_room room;  // a text cell's bytes where they differ from its text
  long long cut_values = 0;  // texts longer than a cell holds, cut
};

// Records a failed call; any failure but memory's fails the sheet.
void check(sheet_out& out, lxw_error error) {
  if (!library_ok(error))
    out.whole = false;
}

// Makes the column at least that wide, in characters.
void widen_to(sheet_out& out, lxw_col_t column, std::size_t width) {
  if (column >= out.widths.size())
    out.widths.resize(column + std::size_t{1}, narrowest);
  out.widths[column] = std::max(out.widths[column], width);
}

// Makes the column wide enough for a value of that many characters, and
// one more between it and the next.
void widen(sheet_out& out, lxw_col_t column, std::size_t characters) {
  widen_to(out, column, characters + 1);
}

// Writes a text as the QSOs' sheets write theirs: the names and values that
// come from the report are the report's bytes, which need the same care.
void put_text(sheet_out& out, lxw_row_t row, lxw_col_t column,
              const std::string& text, lxw_format* format = nullptr) {
  const text_cell cell = text_cell_of(text, out.room);
  if (cell.cut)
    ++out.cut_values;
  widen(out, column, characters(cell.shown));
  check(out, out.library.worksheet_write_string(out.sheet, row, column,
                                                cell.bytes, format));
}

void put_number(sheet_out& out, lxw_row_t row, lxw_col_t column,
                std::size_t number) {
  widen(out, column, std::to_string(number).size());
  check(out, out.library.worksheet_write_number(
                 out.sheet, row, column, static_cast<double>(number), nullptr));
}

lxw_format* fill(const xlsx_library& library, lxw_workbook* book,
                 lxw_color_t color) {
  lxw_format* format = new_format(library, book);
  library.format_set_pattern(format, LXW_PATTERN_SOLID);
  library.format_set_bg_color(format, color);
  library.format_set_align(format, LXW_ALIGN_CENTER);
  return format;
}

sheet_formats make_formats(const xlsx_library& library, lxw_workbook* book) {
  sheet_formats formats;
  formats.bold = new_format(library, book);
  library.format_set_bold(formats.bold);
  formats.confirmed = fill(library, book, confirmed_fill);
  formats.worked = fill(library, book, worked_fill);
  return formats;
}

// Rows 1 and 2: the words in column A, and the counts under the count
// columns, which begin after the slot's own columns.
void write_counts(sheet_out& out, const award_sheet& sheet) {
  const auto first = static_cast<lxw_col_t>(sheet.own_columns.size());
  put_text(out, confirmed_row, 0, "Confirmed");
  for (std::size_t i = 0; i < sheet.confirmed.size(); ++i)
    put_number(out, confirmed_row, static_cast<lxw_col_t>(first + i),
               sheet.confirmed[i]);
  put_text(out, worked_row, 0, "Worked");
  for (std::size_t i = 0; i < sheet.worked.size(); ++i)
    put_number(out, worked_row, static_cast<lxw_col_t>(first + i),
               sheet.worked[i]);
}

void write_header(sheet_out& out, const award_sheet& sheet,
                  const sheet_formats& formats) {
  lxw_col_t column = 0;
  for (const award_own_column& own : sheet.own_columns) {
    put_text(out, header_row, column, std::string(own.title), formats.bold);
    widen_to(out, column++, own.title.size() + header_extra);
  }
  for (const std::string& title : sheet.count_columns) {
    put_text(out, header_row, column, title, formats.bold);
    widen_to(out, column++, title.size() + header_extra);
  }
}

void write_slot(sheet_out& out, lxw_row_t row, const award_sheet& sheet,
                const award_row& slot, const sheet_formats& formats) {
  lxw_col_t column = 0;
  for (std::size_t i = 0; i < slot.own.size(); ++i, ++column) {
    if (sheet.own_columns[i].number)
      put_number(
          out, row, column,
          static_cast<std::size_t>(read_leading_integer(slot.own[i]).value));
    else
      put_text(out, row, column, slot.own[i]);
  }
  static const std::string confirmed = "C";
  static const std::string worked = "W";
  for (award_mark mark : slot.marks) {
    if (mark == award_mark::confirmed)
      put_text(out, row, column, confirmed, formats.confirmed);
    else if (mark == award_mark::worked)
      put_text(out, row, column, worked, formats.worked);
    ++column;
  }
}

// The panes, the filter and the widths, which the library writes out when
// the workbook is closed.
void end_sheet(sheet_out& out, const award_sheet& sheet, lxw_row_t last_row) {
  const std::size_t columns =
      sheet.own_columns.size() + sheet.count_columns.size();
  out.library.worksheet_freeze_panes(
      out.sheet, first_slot_row,
      static_cast<lxw_col_t>(sheet.own_columns.size()));
  check(out,
        out.library.worksheet_autofilter(out.sheet, header_row, 0, last_row,
                                         static_cast<lxw_col_t>(columns - 1)));
  for (std::size_t i = 0; i < out.widths.size(); ++i) {
    const auto column = static_cast<lxw_col_t>(i);
    check(out,
          out.library.worksheet_set_column(
              out.sheet, column, column,
              static_cast<double>(std::min(out.widths[i], widest)), nullptr));
  }
}

// Adds the sheet, and with it what the workbook's reading back is to find
// in it: every row written holds a cell.
bool write_sheet(const xlsx_library& library, lxw_workbook* book,
                 const award_sheet& sheet, const sheet_formats& formats,
                 added_sheets& added) {
  // A column past the last that a sheet holds would wrap to the first.
  if (sheet.own_columns.size() + sheet.count_columns.size() > LXW_COL_MAX)
    return false;
  const std::string name(sheet.name);
  lxw_worksheet* const worksheet =
      library.workbook_add_worksheet(book, name.c_str());
  if (worksheet == nullptr)
    return false;
  added.sheets.push_back(worksheet);
  sheet_out out{library, worksheet, {}, true, {}, 0};
  if (!sheet.nothing_to_count.empty()) {
    put_text(out, 0, 0, std::string(sheet.nothing_to_count));
    added.facts.push_back({0, 1, 1});
    return out.whole;
  }
  write_counts(out, sheet);
  write_header(out, sheet, formats);
  lxw_row_t row = first_slot_row;
  for (const award_row& slot : sheet.rows)
    write_slot(out, row++, sheet, slot, formats);
  end_sheet(out, sheet, std::max(header_row, row - 1));
  added.facts.push_back({0, row, row});
  added.cut_values += out.cut_values;
  return out.whole;
}

}  // namespace

bool write_award_sheets(const xlsx_library& library, lxw_workbook* book,
                        const std::array<award_sheet, 4>& sheets,
                        added_sheets& added) {
  const sheet_formats formats = make_formats(library, book);
  bool whole = true;
  for (const award_sheet& sheet : sheets)
    whole = write_sheet(library, book, sheet, formats, added) && whole;
  return whole;
}

}  // namespace qsoflat
