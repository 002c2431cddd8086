// The output's columns, which the run makes once for the writer: each one's
// header name, how it is written, and the record's slot its value comes from.
#ifndef QSOFLAT_QSO_OUTPUT_COLUMNS_H_
#define QSOFLAT_QSO_OUTPUT_COLUMNS_H_

#include <cstddef>
#include <string>
#include <vector>

#include "qso/fields.h"

namespace qsoflat {

struct output_column {
  std::string name;  // as the header row shows it
  column_kind kind;
};

struct output_columns {
  std::vector<output_column> columns;
  // The record's slot of the first column; each further column takes the
  // next one.
  std::size_t first_slot = 0;
  // Whether these are the 15 columns of the fixed table, from first_column
  // on, which code made for each of them when compiling may write.
  bool fixed = false;

  // The slots of a record that holds every column's value.
  std::size_t slot_count() const { return first_slot + columns.size(); }
};

// The 15 columns of the fixed table, each from its field's slot.
output_columns fixed_columns();

}  // namespace qsoflat

#endif  // QSOFLAT_QSO_OUTPUT_COLUMNS_H_
