// Writes QSO records as CSV rows of 15 columns.
#ifndef QSOFLAT_CSV_WRITER_H_
#define QSOFLAT_CSV_WRITER_H_

#include <cstdio>
#include <string>
#include <string_view>

#include "adif_reader.h"

struct csv_writer {
  explicit csv_writer(std::FILE* output) : out(output) {}

  std::FILE* out;  // borrowed; a write error stays visible via ferror
  // Each row is assembled here and handed to the stream in one write.
  std::string row;
};

// Writes the header row of the output columns.
void write_header(csv_writer& writer);

// Writes one row from the record and empties its output slots. False when
// the stream took the row short.
bool write_record(csv_writer& writer, qso_record& record);

// Appends a YYYYMMDD value as day, month name and year ("3-Oct-2012"), or the
// value itself, quoted as a plain value, when its month has no name.
void format_date(std::string& out, std::string_view value);

#endif  // QSOFLAT_CSV_WRITER_H_
