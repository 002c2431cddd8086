// Turns the lines of a LoTW status report into QSO records, and keeps what
// the run must know of the report as a whole.
#ifndef QSOFLAT_ADIF_ADIF_READER_H_
#define QSOFLAT_ADIF_ADIF_READER_H_

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

#include "adif/column_list.h"
#include "adif/field_match.h"
#include "adif/line_source.h"
#include "qso/fields.h"

namespace qsoflat {

// What the reading found out about the report, for the run to tell.
struct report_summary {
  // Whether any line was a marker or a known field with its value: a file
  // without one is no report at all, and the run must not call it converted.
  bool report_seen = false;
  // Whether fields were read since the last "<eor>": a QSO cut off there
  // was not written, and the run must say so.
  bool qso_cut_off = false;
  // The count that the first APP_LoTW_NUMREC line announced, if one came.
  bool count_announced = false;
  long long announced_count = 0;
  // Whether the reading ended at a line with no known field, so that the
  // rows after it were never read, and that line's text, for the run to
  // show the user.
  bool stopped_at_unknown = false;
  std::string stop_line;
  // Whether a reading with the columns of the report met a field after the
  // header that the first reading did not: the report changed between the
  // two, and the reading ended there.
  bool changed = false;
};

enum class read_outcome { record_complete, input_finished };

// The markers of a report's structure: the end of a QSO's record, of the
// report, and of its header.
enum class marker { none, end_of_record, end_of_file, end_of_header };

class adif_reader {
 public:
  // With skip_unknown, a line with no known field is skipped in the QSO
  // part too; names must then equal a table name and markers are taken in
  // any case, and LoTW's " //" comment after a value is cut off where the
  // tag's length says the value ends.
  adif_reader(std::FILE* input, bool skip_unknown,
              std::size_t buffer_size = initial_buffer_size);
  // With chosen columns, the lines are read as with skip_unknown, but the
  // record's slots are the columns, by their index, and every field that
  // names one is taken. The lines up to the first "<eoh>" in any case are
  // the report's header, and none of its fields goes into a record; a
  // report whose first QSO ends before any "<eoh>" has no header, and in
  // one where "<APP_LoTW_EOF>" comes before any "<eoh>" or "<eor>", all
  // lines are its header. A field line that names no column still makes
  // the QSO one that is cut off without its "<eor>". The columns must
  // outlive the reader.
  adif_reader(std::FILE* input, const column_list& columns,
              std::size_t buffer_size = initial_buffer_size);

  const report_summary& summary() const { return summary_; }

  // Empties the record, then reads lines into it until an "<eor>"
  // completes it, or until the input ends, the end-of-file marker comes, or
  // an unknown field ends the reading once the QSO part has begun (never
  // with skip_unknown).
  read_outcome read_record(qso_record& record);

 private:
  // How lines are read: by the fixed table, with the prefix match or the
  // exact one, or by the chosen columns.
  enum class reading { fields, skip_unknown, columns };

  // In report order, a column's tag is matched first with the column
  // after the last one matched.
  template <reading mode, bool in_report_order = false>
  read_outcome read_lines(qso_record& record);
  template <reading mode, bool in_report_order>
  std::size_t field_of(const line& current, std::string_view& tag);
  template <reading mode>
  marker take_marker(std::string_view text, qso_record& record);
  template <reading mode>
  void take_value(const line& current, std::string_view tag, std::size_t field,
                  qso_record& record);
  void take_count(const line& current);
  void stop_at_unknown(const line& current);
  line_keep keep_of(const line& start);
  bool unmatched_field(std::string_view tag);
  bool takes(std::string_view tag) const;

  line_source lines_;
  report_summary summary_;
  const reading mode_;
  const column_list* const columns_ = nullptr;  // with reading::columns
  // The column after the last one matched, which the next tag most
  // likely names.
  std::size_t likely_column_ = column_list::no_column;
  bool owncall_seen_ = false;  // the QSO part has begun
  bool in_header_ = true;      // no "<eoh>" or "<eor>" has come yet
  bool finished_ = false;      // nothing more is read
};

// The columns of a report, from a first reading of it.
struct report_columns {
  column_list columns;
  // Whether a field after the header has a name longer than longest_name,
  // which the reading cannot tell from another of the same start: no
  // column is made for it, and the run must not pass it over in silence.
  bool name_too_long = false;
};

// A column for every field that the QSOs of the report hold, after its
// header as a reader with columns takes it, each named as the report first
// writes it, in the order in which each first comes. A tag whose name is no
// field name, as is_field_name says, gives none.
report_columns columns_of(std::FILE* input,
                          std::size_t buffer_size = initial_buffer_size);

}  // namespace qsoflat

#endif  // QSOFLAT_ADIF_ADIF_READER_H_
