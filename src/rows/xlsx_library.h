// The functions of libxlsxwriter that the .xlsx writer and the award sheets
// call, as one table. Linux loads the library only when an .xlsx is
// written: loading it and the libcrypto it needs costs every run 4 million
// instructions, 1.4% of a CSV of 100,000 QSOs. The Windows programs have it
// linked in.
#ifndef QSOFLAT_ROWS_XLSX_LIBRARY_H_
#define QSOFLAT_ROWS_XLSX_LIBRARY_H_

#include <xlsxwriter.h>

namespace qsoflat {

struct xlsx_library {
  decltype(&::workbook_new_opt) workbook_new_opt;
  decltype(&::workbook_add_format) workbook_add_format;
  decltype(&::workbook_add_worksheet) workbook_add_worksheet;
  decltype(&::workbook_close) workbook_close;
  decltype(&::lxw_workbook_free) lxw_workbook_free;
  decltype(&::worksheet_autofilter) worksheet_autofilter;
  decltype(&::worksheet_freeze_panes) worksheet_freeze_panes;
  decltype(&::worksheet_set_column) worksheet_set_column;
  decltype(&::worksheet_write_number) worksheet_write_number;
  decltype(&::worksheet_write_string) worksheet_write_string;
  decltype(&::format_set_bold) format_set_bold;
  decltype(&::format_set_num_format) format_set_num_format;
  decltype(&::format_set_num_format_index) format_set_num_format_index;
  decltype(&::format_set_bg_color) format_set_bg_color;
  decltype(&::format_set_pattern) format_set_pattern;
  decltype(&::format_set_align) format_set_align;
};

// The library's functions, loaded on the first call; null where it cannot
// be loaded, after a line on standard error that says why.
const xlsx_library* xlsx_library_functions();

}  // namespace qsoflat

#endif  // QSOFLAT_ROWS_XLSX_LIBRARY_H_
