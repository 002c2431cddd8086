// What the run asks of the writer of an output's rows, whatever the
// output's format, so that a writer of another format takes the CSV
// writer's place without the run changing.
#ifndef QSOFLAT_ROWS_ROW_WRITER_H_
#define QSOFLAT_ROWS_ROW_WRITER_H_

#include <string>

#include "qso/fields.h"

namespace qsoflat {

class row_writer {
 public:
  row_writer() = default;
  row_writer(const row_writer&) = delete;
  row_writer& operator=(const row_writer&) = delete;
  virtual ~row_writer() = default;

  // Writes the header row. It may be held until the finish, so that an
  // output that is discarded gets nothing.
  virtual void header() = 0;
  // Writes one row from the record's slots. False when the output took the
  // rows it was handed short. Called once a row, never a value, so that the
  // call costs the rows little.
  virtual bool row(const qso_record& record) = 0;
  // Hands everything still held to the output, once, after the last row,
  // when the output is to be kept. False when the output took it short.
  virtual bool finish() = 0;
  // What the writer must tell the user once the output is in place, such
  // as values it could not write whole: whole lines, or nothing.
  virtual std::string note() const { return {}; }
};

}  // namespace qsoflat

#endif  // QSOFLAT_ROWS_ROW_WRITER_H_
