// What a run with --awards reads besides the QSOs' columns: the fields that
// the award tally counts by, whatever columns the user chose, and the tally
// of them.
#ifndef QSOFLAT_APP_AWARD_READING_H_
#define QSOFLAT_APP_AWARD_READING_H_

#include <array>
#include <cstddef>
#include <string>

#include "adif/column_list.h"
#include "awards/award_tally.h"
#include "qso/fields.h"

namespace qsoflat {

// The 15 columns of the fixed table as a list, each named as its header
// shows it.
column_list fixed_column_list();

// The columns to read: the chosen ones, in their order, then each field
// that the award tally counts by and they lack.
column_list with_award_fields(column_list chosen);

// The award tally of a reading by a list that holds the fields it counts
// by, as with_award_fields makes one.
class award_reading {
 public:
  explicit award_reading(const column_list& read);

  // Counts the QSO that the record holds.
  void add(const qso_record& record);

  // The award sheets, and the lines that tell the user how each award
  // stands, after the count line.
  std::array<award_sheet, 4> sheets() const { return tally_.sheets(); }
  static std::string summary(const std::array<award_sheet, 4>& sheets);

 private:
  award_tally tally_;
  // The record's slot of each field the tally counts by, in the order of
  // award_qso's members.
  std::array<std::size_t, 9> slots_{};
};

}  // namespace qsoflat

#endif  // QSOFLAT_APP_AWARD_READING_H_
