// Lays the award tally's sheets out in an .xlsx workbook: the counts, the
// header and one row a slot, with each mark's cell filled by its colour so
// that the gaps show at a glance.
#ifndef QSOFLAT_ROWS_AWARD_SHEETS_H_
#define QSOFLAT_ROWS_AWARD_SHEETS_H_

#include <array>

#include "awards/award_tally.h"

// The library's own type, declared where it declares it.
struct lxw_workbook;

namespace qsoflat {

struct xlsx_library;

// Adds the four sheets after those the workbook holds, each laid out as
// follows. Row 1: "Confirmed" and, under each count column, how many
// counted rows hold a C there; row 2: "Worked" and how many hold a C or a
// W. Row 3: the header, bold, with a filter, and the panes frozen below it
// and right of the slot's own columns. Rows 4 on: a slot each, its number
// columns as numbers, a C filled green, a W amber. A sheet with nothing to
// count holds that line alone, in A1. False when a sheet or a cell could
// not be written, or a sheet's temporary file did not take its rows;
// memory that runs out throws std::bad_alloc.
bool write_award_sheets(const xlsx_library& library, lxw_workbook* book,
                        const std::array<award_sheet, 4>& sheets);

}  // namespace qsoflat

#endif  // QSOFLAT_ROWS_AWARD_SHEETS_H_
