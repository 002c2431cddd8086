// Writes QSO records as CSV rows: of the 15 columns, or of the columns that
// the user chose.
#ifndef QSOFLAT_ROWS_CSV_WRITER_H_
#define QSOFLAT_ROWS_CSV_WRITER_H_

#include <cstdio>
#include <string_view>
#include <vector>

#include "adif/column_list.h"
#include "qso/fields.h"
#include "rows/row_writer.h"

namespace qsoflat {

// The separator between columns unless another is chosen.
inline constexpr char default_separator = ',';

struct csv_writer {
  // Without chosen columns, the 15 columns of the fields from first_column
  // on, from the record's slots of those fields; with them, those columns
  // from the slots of their indexes. The columns must outlive the writer.
  // The separator is a comma, a semicolon or a tab.
  explicit csv_writer(std::FILE* output, const column_list* chosen = nullptr,
                      bool iso_dates = false,
                      char separator = default_separator);

  std::FILE* out;  // borrowed; a write error stays visible via ferror
  // Each column's name, how it is written, and the slot of the first; the
  // others follow it.
  std::vector<std::string_view> names;
  std::vector<column_kind> kinds;
  std::size_t first_slot;
  // Dates as YYYY-MM-DD and times as HH:MM.
  bool iso_dates;
  // Between columns; a value that holds it or a double quote is quoted.
  // Values never hold a line end (the reader ends a line's text there), and
  // none is looked for.
  char separator;
  // The 15 columns in today's formats and separated by commas, which code
  // made for each of them writes.
  bool fixed;
  // Rows are assembled here and handed to the stream a chunk at a time; the
  // buffer grows to a chunk and the widest row seen, and no further. A value
  // longer than a chunk is never held here: it goes to the stream straight.
  std::vector<char> buffer;
  std::size_t used = 0;
};

// Writes the header row of the output columns.
void write_header(csv_writer& writer);

// Writes one row from the record and empties its output slots. False when
// the stream took the rows it was handed short.
bool write_record(csv_writer& writer, qso_record& record);

// Hands the rows still held to the stream; false when it took them short.
// Called once after the last row.
bool flush_rows(csv_writer& writer);

// Writes a YYYYMMDD value at out as day, month name and year ("3-Oct-2012"),
// or the value itself, quoted as a plain value between columns separated
// by separator, when its month has no name. Returns the end of what it
// wrote, which takes at most twice the value's size and 18 more bytes.
char* format_date(char* out, std::string_view value,
                  char separator = default_separator);
// Writes a start time, HHMMSS or HHMM, as HHMM: the leading integer divided
// by 100 when it has more than four digits, zero-padded to four characters.
// Returns the end of what it wrote, at most 16 bytes.
char* format_time(char* out, std::string_view value);
// The same by the general reading of the leading integer alone, which the
// shortcuts of the two for whole digit runs must agree with.
char* format_date_general(char* out, std::string_view value,
                          char separator = default_separator);
char* format_time_general(char* out, std::string_view value);
// A date as YYYY-MM-DD ("2012-10-03") under format_date's rules, the year
// at least four digits; a time as format_time writes it with a ":" before
// its last two digits ("10:12"). Each writes at most 16 bytes but for a
// date written as the value itself.
char* format_iso_date(char* out, std::string_view value,
                      char separator = default_separator);
char* format_iso_time(char* out, std::string_view value);
char* format_iso_date_general(char* out, std::string_view value,
                              char separator = default_separator);

// The CSV writer behind the run's seam for writers.
class csv_row_writer final : public row_writer {
 public:
  csv_row_writer(std::FILE* output, const column_list* chosen, bool iso_dates,
                 char separator = default_separator)
      : writer_(output, chosen, iso_dates, separator) {}
  void header() override;
  bool row(qso_record& record) override;
  // The rows still held, then the stream's own buffer, and whether the
  // stream met an error at any time.
  bool finish() override;

 private:
  csv_writer writer_;
};

}  // namespace qsoflat

#endif  // QSOFLAT_ROWS_CSV_WRITER_H_
