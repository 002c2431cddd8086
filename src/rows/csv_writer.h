// Writes QSO records as CSV rows: of the 15 columns, or of the columns that
// the user chose.
#ifndef QSOFLAT_ROWS_CSV_WRITER_H_
#define QSOFLAT_ROWS_CSV_WRITER_H_

#include <cstdio>
#include <string_view>
#include <vector>

#include "qso/fields.h"
#include "qso/output_columns.h"
#include "rows/row_writer.h"

namespace qsoflat {

// The separator between columns unless another is chosen.
inline constexpr char default_separator = ',';

// Writes the rows of the output's columns, each value in its column's
// format.
class csv_writer final : public row_writer {
 public:
  // Rows to the stream, which is borrowed: a write error stays visible
  // through ferror. Dates as YYYY-MM-DD and times as HH:MM with iso_dates.
  // The separator is a comma, a semicolon or a tab; a value that holds it
  // or a double quote is quoted. Values never hold a line end (the reader
  // ends a line's text there), and none is looked for.
  csv_writer(std::FILE* output, output_columns columns, bool iso_dates = false,
             char separator = default_separator);
  // Holds the header row of the columns' names.
  void header() override;
  bool row(const qso_record& record) override;
  // The rows still held, then the stream's own buffer, and whether the
  // stream met an error at any time.
  bool finish() override;
  // The memory taken to hold rows: it grows to a chunk and the widest row
  // seen, and no further, since a value longer than a chunk goes to the
  // stream straight from its slot.
  std::size_t held_bytes() const { return buffer_.size(); }

 private:
  template <char separator>
  bool row_by_columns(const qso_record& record);
  bool row_by_columns(const qso_record& record);
  bool flush_rows();

  std::FILE* out_;
  output_columns columns_;
  bool iso_dates_;
  char separator_;
  // The 15 columns in today's formats and separated by commas, which code
  // made for each of them writes.
  bool fixed_;
  // Rows are assembled here and handed to the stream a chunk at a time.
  std::vector<char> buffer_;
  std::size_t used_ = 0;
};

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

}  // namespace qsoflat

#endif  // QSOFLAT_ROWS_CSV_WRITER_H_
