// What libxlsxwriter alone takes to write the cells of the 15 columns, the
// floor that the program's .xlsx output is held against: a bold header row
// and ROWS rows of text, date, time and number cells, in constant memory,
// with nothing read or parsed.
//
//   xlsx_alone ROWS OUTPUT.xlsx [TMPDIR]
#include <cstdio>
#include <cstdlib>

#include "xlsxwriter.h"

namespace {

const char* const header[] = {"CALL",  "BAND", "MODE",       "QSO_DATE",
                              "TIME_ON", "QSL_RCVD", "QSLRDATE", "DXCC",
                              "PFX",   "CQZ",  "ITUZ",       "IOTA",
                              "GRIDSQUARE", "STATE", "CNTY"};
const char* const calls[] = {"Q1AAA", "Q2BBB/P", "Q3CCC", "Q4DD", "Q5EEEE"};
const char* const bands[] = {"20M", "40M", "17M", "15M", "10M", "80M", "6M"};
const char* const modes[] = {"FT8", "SSB", "CW", "FT4", "RTTY"};
const char* const prefixes[] = {"Q1", "Q2", "Q3", "Q4", "Q5"};
const char* const grids[] = {"FN31", "KO85TS", "JN58", "PM95", "IO91"};
const char* const states[] = {"CT // Connecticut", "",
                              "MO // Moskovskaya oblast' (Moscow Oblast)"};
const char* const counties[] = {"CT,HARTFORD // Hartford", "",
                                "OK,OKLAHOMA // Oklahoma"};
const double entities[] = {291, 54, 1, 230, 339};
const double zones[] = {5, 16, 3, 14, 25};

template <typename T, std::size_t N>
const T& pick(const T (&values)[N], long row) {
  return values[static_cast<std::size_t>(row) % N];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || argc > 4) {
    std::fprintf(stderr, "usage: xlsx_alone ROWS OUTPUT.xlsx [TMPDIR]\n");
    return 1;
  }
  const long rows = std::strtol(argv[1], nullptr, 10);
  lxw_workbook_options options = {};
  options.constant_memory = LXW_TRUE;
  options.tmpdir = argc == 4 ? argv[3] : nullptr;
  lxw_workbook* book = workbook_new_opt(argv[2], &options);
  lxw_worksheet* sheet =
      book == nullptr ? nullptr : workbook_add_worksheet(book, "QSOs");
  if (sheet == nullptr) {
    std::fprintf(stderr, "xlsx_alone: cannot start %s\n", argv[2]);
    return 1;
  }
  lxw_format* bold = workbook_add_format(book);
  format_set_bold(bold);
  lxw_format* date = workbook_add_format(book);
  format_set_num_format_index(date, 14);
  lxw_format* time = workbook_add_format(book);
  format_set_num_format(time, "hh:mm");
  lxw_format* three = workbook_add_format(book);
  format_set_num_format(three, "000");
  lxw_format* two = workbook_add_format(book);
  format_set_num_format(two, "00");
  for (lxw_col_t column = 0; column < 15; ++column)
    worksheet_write_string(sheet, 0, column, header[column], bold);
  worksheet_freeze_panes(sheet, 1, 0);

  for (long row = 0; row < rows; ++row) {
    const auto at = static_cast<lxw_row_t>(row + 1);
    lxw_datetime qso_date = {2026, 1 + static_cast<int>(row % 12),
                             1 + static_cast<int>(row % 28), 0, 0, 0};
    lxw_datetime time_on = {0, 0, 0, static_cast<int>(row % 24),
                            static_cast<int>(row % 60), 0};
    lxw_datetime qsl_date = {2026, 12, 1 + static_cast<int>(row % 31), 0, 0, 0};
    worksheet_write_string(sheet, at, 0, pick(calls, row), nullptr);
    worksheet_write_string(sheet, at, 1, pick(bands, row), nullptr);
    worksheet_write_string(sheet, at, 2, pick(modes, row), nullptr);
    worksheet_write_datetime(sheet, at, 3, &qso_date, date);
    worksheet_write_datetime(sheet, at, 4, &time_on, time);
    worksheet_write_string(sheet, at, 5, "Y", nullptr);
    worksheet_write_datetime(sheet, at, 6, &qsl_date, date);
    worksheet_write_number(sheet, at, 7, pick(entities, row), three);
    worksheet_write_string(sheet, at, 8, pick(prefixes, row), nullptr);
    worksheet_write_number(sheet, at, 9, pick(zones, row), two);
    worksheet_write_number(sheet, at, 10, pick(zones, row + 1), two);
    worksheet_write_string(sheet, at, 11, "", nullptr);
    worksheet_write_string(sheet, at, 12, pick(grids, row), nullptr);
    worksheet_write_string(sheet, at, 13, pick(states, row), nullptr);
    worksheet_write_string(sheet, at, 14, pick(counties, row), nullptr);
  }
  worksheet_autofilter(sheet, 0, 0, static_cast<lxw_row_t>(rows), 14);
  const lxw_error status = workbook_close(book);
  if (status != LXW_NO_ERROR) {
    std::fprintf(stderr, "xlsx_alone: %s: %s\n", argv[2], lxw_strerror(status));
    return 1;
  }
  return 0;
}
