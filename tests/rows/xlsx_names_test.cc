// Writes an .xlsx through libxlsxwriter as the Windows build links it, in
// constant memory, into a folder and under a name that lie outside the
// ANSI code page, with the temporary files in that folder too. The test
// then reads it back with openpyxl (xlsx_names_test.py), and finds the
// folder holding that file alone.
#include <direct.h>
#include <errno.h>
#include <stdio.h>

#include "xlsxwriter.h"

int main() {
  if (_wmkdir(L"\u041e\u0442\u0447\u0451\u0442\u044b") != 0 &&
      errno != EEXIST) {
    perror("_wmkdir");
    return 1;
  }
  // The names in UTF-8, as every name in the program is.
  char folder[] = "Отчёты";
  lxw_workbook_options options = {};
  options.constant_memory = LXW_TRUE;
  options.tmpdir = folder;
  lxw_workbook* book = workbook_new_opt("Отчёты/日本.xlsx", &options);
  if (book == nullptr) {
    fprintf(stderr, "workbook_new_opt failed\n");
    return 1;
  }
  lxw_worksheet* sheet = workbook_add_worksheet(book, "QSOs");
  lxw_format* date = workbook_add_format(book);
  format_set_num_format_index(date, 14);
  lxw_datetime day = {2026, 10, 3, 0, 0, 0};
  if (sheet == nullptr ||
      worksheet_write_string(sheet, 0, 0, "Отчёты 日本", nullptr) ||
      worksheet_write_number(sheet, 0, 1, 14.074, nullptr) ||
      worksheet_write_datetime(sheet, 0, 2, &day, date)) {
    fprintf(stderr, "writing the cells failed\n");
    return 1;
  }
  const lxw_error status = workbook_close(book);
  if (status != LXW_NO_ERROR) {
    fprintf(stderr, "workbook_close: %s\n", lxw_strerror(status));
    return 1;
  }
  return 0;
}
