// Lays the award tally's sheets out in an .xlsx workbook: the counts, the
// header and one row a slot, with each mark's cell filled by its colour so
// that the gaps show at a glance.
#ifndef QSOFLAT_ROWS_AWARD_SHEETS_H_
#define QSOFLAT_ROWS_AWARD_SHEETS_H_

#include <array>
#include <vector>

#include "awards/award_tally.h"
#include "rows/xlsx_readback.h"

// The library's own types, declared where it declares them.
struct lxw_workbook;
struct lxw_worksheet;

namespace qsoflat {

struct xlsx_library;

// The sheets added to a workbook, what each was given, and how many texts
// were longer than a cell holds and were cut.
struct added_sheets {
  std::vector<lxw_worksheet*> sheets;
  std::vector<sheet_facts> facts;
  long long cut_values = 0;
};

// Adds the four sheets after those the workbook holds, each laid out as
// follows. Row 1: "Confirmed" and, under each count column, how many
// counted rows hold a C there; row 2: "Worked" and how many hold a C or a
// W. Row 3: the header, bold, with a filter, and the panes frozen below it
// and right of the slot's own columns. Rows 4 on: a slot each, its number
// columns as numbers, a C filled green, a W amber. A sheet with nothing to
// count holds that line alone, in A1. Each sheet added goes into added,
// with what the workbook's reading back is to find in it. False when a
// sheet or a cell could not be written; memory that runs out throws
// std::bad_alloc.
bool write_award_sheets(const xlsx_library& library, lxw_workbook* book,
                        const std::array<award_sheet, 4>& sheets,
                        added_sheets& added);

}  // namespace qsoflat

#endif  // QSOFLAT_ROWS_AWARD_SHEETS_H_
