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
#include <string>
#include <string_view>
#include <vector>

#include "adif/column_list.h"
#include "qso/fields.h"
#include "rows/row_writer.h"
#include "rows/xlsx_cells.h"
#include "rows/xlsx_readback.h"

// The library's own types, declared where it declares them.
struct lxw_workbook;
struct lxw_worksheet;
struct lxw_format;

namespace qsoflat {

struct xlsx_library;

// The QSO rows a sheet holds below its header row; the rows after them go
// on in the next sheet.
inline constexpr std::uint32_t xlsx_sheet_rows = 1048575;
// The columns a sheet holds.
inline constexpr std::size_t xlsx_sheet_columns = 16384;

struct xlsx_writer {
  // A workbook to be written to the file of that name (UTF-8), which is
  // made only when the workbook is finished, with its temporary files in
  // temporary_folder (UTF-8), or the system's when it is null. The columns
  // are those of csv_writer: the 15, or the chosen ones, which must
  // outlive the writer. Dates are shown in the reader's own short-date
  // format, or as yyyy-mm-dd with iso_dates. Past sheet_rows QSOs (at
  // least 1), the rows go on in a next sheet. The file is read back
  // through written, a stream open on it, where one is given, else by its
  // name. Memory that runs out, here or in the functions below, throws
  // std::bad_alloc.
  xlsx_writer(const char* file_name, const char* temporary_folder,
              const column_list* chosen = nullptr, bool iso_dates = false,
              std::uint32_t sheet_rows = xlsx_sheet_rows,
              std::FILE* written = nullptr);
  // Discards a workbook that was not finished, writing no file.
  ~xlsx_writer();
  xlsx_writer(const xlsx_writer&) = delete;
  xlsx_writer& operator=(const xlsx_writer&) = delete;

  // The values that were longer than a cell holds and were cut.
  long long cut_values = 0;

  // What the functions below work with.
  const xlsx_library* library = nullptr;
  std::string file_name;
  std::FILE* written;
  lxw_workbook* book = nullptr;
  std::vector<lxw_worksheet*> sheets;
  std::vector<std::string_view> names;
  std::vector<column_kind> kinds;
  std::size_t first_slot;
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
};

// Writes the header row of the first sheet. False when the workbook or its
// temporary file could not be made.
bool write_header(xlsx_writer& writer);

// Writes one row from the record and empties its output slots. False when
// a cell could not be written or the next sheet could not be made.
bool write_record(xlsx_writer& writer, qso_record& record);

// Writes the workbook to its file, frees it, and reads the file back.
// False when a row was lost on the way, or the file could not be written or
// was not written whole; no file is then made, or the one made must be
// discarded. Called once after the last row.
bool finish(xlsx_writer& writer);

// The .xlsx writer behind the run's seam for writers.
class xlsx_row_writer final : public row_writer {
 public:
  xlsx_row_writer(const char* file_name, const char* temporary_folder,
                  const column_list* chosen, bool iso_dates, std::FILE* written)
      : writer_(file_name, temporary_folder, chosen, iso_dates, xlsx_sheet_rows,
                written) {}
  void header() override;
  bool row(qso_record& record) override;
  // Writes the workbook to its file; false when it is not whole.
  bool finish() override;
  // How many values were cut to a cell's length, which a CSV keeps whole.
  std::string note() const override;

 private:
  xlsx_writer writer_;
  bool whole_ = true;  // the header and every row went into the workbook
};

}  // namespace qsoflat

#endif  // QSOFLAT_ROWS_XLSX_WRITER_H_
