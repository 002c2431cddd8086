// Writes QSO records as the rows of an .xlsx workbook, each value in a cell
// of its column's kind: dates, times and numbers as such, everything else
// as text. The rows go to temporary files as they come, so memory stays the
// same however many there are.
#ifndef QSOFLAT_ROWS_XLSX_WRITER_H_
#define QSOFLAT_ROWS_XLSX_WRITER_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "awards/award_tally.h"
#include "qso/fields.h"
#include "qso/output_columns.h"
#include "rows/row_writer.h"

namespace qsoflat {

// The QSO rows a sheet holds below its header row; the rows after them go
// on in the next sheet.
inline constexpr std::uint32_t xlsx_sheet_rows = 1048575;
// The columns a sheet holds.
inline constexpr std::size_t xlsx_sheet_columns = 16384;

// Writes the rows of the output's columns into a workbook.
class xlsx_writer final : public row_writer {
 public:
  // A workbook to be written to the file of that name (UTF-8), which is
  // made only when the workbook is finished, with its temporary files in
  // temporary_folder (UTF-8), or the system's when it is null. Dates are
  // shown in the reader's own short-date format, or as yyyy-mm-dd with
  // iso_dates. Past sheet_rows QSOs (at least 1), the rows go on in a next
  // sheet. The file is read back through written, a stream open on it,
  // where one is given, else by its name. Memory that runs out, here or in
  // the calls below, throws std::bad_alloc.
  xlsx_writer(const char* file_name, const char* temporary_folder,
              output_columns columns, bool iso_dates = false,
              std::uint32_t sheet_rows = xlsx_sheet_rows,
              std::FILE* written = nullptr);
  // Discards a workbook that was not finished, writing no file.
  ~xlsx_writer() override;

  // Writes the header row of the first sheet; the workbook fails when it
  // or its temporary file could not be made.
  void header() override;
  // False when a cell could not be written or the next sheet could not be
  // made.
  bool row(const qso_record& record) override;
  // Writes the workbook to its file, frees it, and reads the file back.
  // False when a row was lost on the way, or the file could not be written
  // or was not written whole; no file is then made, or the one made must be
  // discarded.
  bool finish() override;
  // How many values were cut to a cell's length, which a CSV keeps whole.
  std::string note() const override;

  // Has the finish write these award sheets after the QSOs' sheets, laid
  // out as rows/award_sheets.h says.
  void add_award_sheets(std::array<award_sheet, 4> sheets);

  // The workbook and what the writing keeps of it, which only the writer's
  // own code knows.
  struct workbook;

 private:
  std::unique_ptr<workbook> book_;
  bool whole_ = true;  // the header and every row went into the workbook
};

}  // namespace qsoflat

#endif  // QSOFLAT_ROWS_XLSX_WRITER_H_
