// What libxlsxwriter alone takes to write the cells that the program writes
// for one of the benchmark's report shapes, the floor that the program's
// .xlsx output is held against: a bold, frozen header row, ROWS rows of the
// 15 columns' text, date, time and number cells as the shape's QSOs give
// them, column widths and an autofilter, in constant memory, with nothing
// read or parsed.
//
//   xlsx_alone plain|owncall|detailed ROWS OUTPUT.xlsx [TMPDIR]
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "xlsxwriter.h"

namespace {

const char* const header[] = {"CALL",       "BAND",     "MODE",     "QSO_DATE",
                              "TIME_ON",    "QSL_RCVD", "QSLRDATE", "DXCC",
                              "PFX",        "CQZ",      "ITUZ",     "IOTA",
                              "GRIDSQUARE", "STATE",    "CNTY"};
// The widths the program gives the columns for the shapes' values: those
// of the last two, the state and the county, are the shapes' own.
const double widths[] = {7, 7, 7, 11, 10, 11, 11, 7, 6, 6, 7, 7, 13};
const double last_widths[][2] = {{8, 7}, {15, 24}, {8, 12}};
// The values of the benchmark's reports, as qsoflat_bench writes them.
const char* const bands[] = {"20M", "40M", "17M", "15M", "10M", "80M", "6M"};
const char* const modes[] = {"FT8", "SSB", "CW", "FT4", "RTTY"};
// The program keeps a value's comment in the own-call shape, which it
// reads by lines, and not in the detailed one, which --skip-unknown reads
// by the values' lengths.
const char* const states[][3] = {
    {"OK // Oklahoma", "AR // Oklahoma", "OH // Oklahoma"}, {"OK", "AR", "OH"}};
const char* const counties[][3] = {
    {"OK,OKLAHOMA // Oklahoma", "AR,SALINE // Saline",
     "OH,MAHONING // Mahoning"},
    {"OK,OKLAHOMA", "AR,SALINE", "OH,MAHONING"}};
const char* const shapes[] = {"plain", "owncall", "detailed"};

// A number the report writes with leading zeros keeps them through its
// cell's format, as the program writes it.
void write_number(lxw_worksheet* sheet, lxw_row_t row, lxw_col_t column,
                  long value, long width, lxw_format* zeros) {
  const long shown = width == 3 ? 100 : 10;
  worksheet_write_number(sheet, row, column, static_cast<double>(value),
                         value < shown ? zeros : nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  int shape = 0;
  while (argc >= 4 && shape < 3 && std::strcmp(argv[1], shapes[shape]) != 0)
    ++shape;
  if (argc < 4 || argc > 5 || shape == 3) {
    std::fprintf(stderr,
                 "usage: xlsx_alone plain|owncall|detailed ROWS "
                 "OUTPUT.xlsx [TMPDIR]\n");
    return 1;
  }
  const bool plain = shape == 0;
  const bool detailed = shape == 2;
  const long rows = std::strtol(argv[2], nullptr, 10);
  lxw_workbook_options options = {};
  options.constant_memory = LXW_TRUE;
  options.tmpdir = argc == 5 ? argv[4] : nullptr;
  lxw_workbook* book = workbook_new_opt(argv[3], &options);
  lxw_worksheet* sheet =
      book == nullptr ? nullptr : workbook_add_worksheet(book, "QSOs");
  if (sheet == nullptr) {
    std::fprintf(stderr, "xlsx_alone: cannot start %s\n", argv[3]);
    return 1;
  }
  lxw_format* bold = workbook_add_format(book);
  format_set_bold(bold);
  lxw_format* date = workbook_add_format(book);
  format_set_num_format_index(date, 14);
  lxw_format* time = workbook_add_format(book);
  format_set_num_format(time, "hh:mm:ss");
  lxw_format* three = workbook_add_format(book);
  format_set_num_format(three, "000");
  lxw_format* two = workbook_add_format(book);
  format_set_num_format(two, "00");
  for (lxw_col_t column = 0; column < 15; ++column)
    worksheet_write_string(sheet, 0, column, header[column], bold);
  worksheet_freeze_panes(sheet, 1, 0);

  char text[16];
  for (long i = 0; i < rows; ++i) {
    const auto at = static_cast<lxw_row_t>(i + 1);
    const int year = 2010 + static_cast<int>(i % 17);
    const int month = 1 + static_cast<int>(i % 12);
    const int day = 1 + static_cast<int>(i % 28);
    lxw_datetime qso_date = {year, month, day, 0, 0, 0};
    lxw_datetime time_on = {0,
                            0,
                            0,
                            static_cast<int>(i % 24),
                            static_cast<int>(i % 60),
                            static_cast<double>((i * 7) % 60)};
    std::snprintf(text, sizeof text, "Q%05ld", i % 100000);
    worksheet_write_string(sheet, at, 0, text, nullptr);
    worksheet_write_string(sheet, at, 1, bands[i % 7], nullptr);
    worksheet_write_string(sheet, at, 2, modes[i % 5], nullptr);
    worksheet_write_datetime(sheet, at, 3, &qso_date, date);
    worksheet_write_datetime(sheet, at, 4, &time_on, time);
    worksheet_write_string(sheet, at, 5, "Y", nullptr);
    worksheet_write_datetime(sheet, at, 6, &qso_date, date);
    if (plain)
      continue;
    write_number(sheet, at, 7, 1 + i % 500, 3, three);
    std::snprintf(text, sizeof text, "N%ld", i % 10);
    worksheet_write_string(sheet, at, 8, text, nullptr);
    write_number(sheet, at, 9, 1 + i % 40, 2, two);
    write_number(sheet, at, 10, 1 + i % 90, 2, two);
    if (!detailed) {
      std::snprintf(text, sizeof text, "NA-%03ld", 1 + i % 200);
      worksheet_write_string(sheet, at, 11, text, nullptr);
    }
    std::snprintf(text, sizeof text, "EM%02ld", i % 100);
    worksheet_write_string(sheet, at, 12, text, nullptr);
    worksheet_write_string(sheet, at, 13, states[detailed][i % 3], nullptr);
    worksheet_write_string(sheet, at, 14, counties[detailed][i % 3], nullptr);
  }
  for (lxw_col_t column = 0; column < 13; ++column)
    worksheet_set_column(sheet, column, column, widths[column], nullptr);
  for (lxw_col_t column = 13; column < 15; ++column)
    worksheet_set_column(sheet, column, column, last_widths[shape][column - 13],
                         nullptr);
  worksheet_autofilter(sheet, 0, 0, static_cast<lxw_row_t>(rows), 14);
  const lxw_error status = workbook_close(book);
  if (status != LXW_NO_ERROR) {
    std::fprintf(stderr, "xlsx_alone: %s: %s\n", argv[3], lxw_strerror(status));
    return 1;
  }
  return 0;
}
