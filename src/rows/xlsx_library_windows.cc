#include "rows/xlsx_library.h"

namespace qsoflat {

// The Windows programs have the library linked in, so that each is one
// file.
const xlsx_library* xlsx_library_functions() {
  static const xlsx_library functions = {workbook_new_opt,
                                         workbook_add_format,
                                         workbook_add_worksheet,
                                         workbook_close,
                                         lxw_workbook_free,
                                         worksheet_autofilter,
                                         worksheet_freeze_panes,
                                         worksheet_set_column,
                                         worksheet_write_number,
                                         worksheet_write_string,
                                         format_set_bold,
                                         format_set_num_format,
                                         format_set_num_format_index,
                                         format_set_bg_color,
                                         format_set_pattern,
                                         format_set_align};
  return &functions;
}

}  // namespace qsoflat
