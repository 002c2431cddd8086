// What the user is told when a conversion ends: its messages and its
// status, computed from what the conversion came to, with no I/O.
#ifndef QSOFLAT_APP_ENDING_H_
#define QSOFLAT_APP_ENDING_H_

#include <string>
#include <string_view>

#include "adif/adif_reader.h"

namespace qsoflat {

// What became of the input of a conversion.
enum class input_outcome {
  read,           // to its end, or to where the reading stopped
  read_failed,    // a read failed part way
  changed,        // a field came that the first of two readings did not meet
  name_too_long,  // a field's name was too long to make a column of
};

// What a conversion came to.
struct conversion {
  report_summary report;
  long long qsos = 0;  // the rows handed to the writer
  bool out_of_memory = false;
  input_outcome input = input_outcome::read;
  bool write_failed = false;  // the writer's finish or the commit failed
  // What the writer tells once its output is in place: lines, or nothing.
  std::string writer_note;
  // With --awards, a line for each award, told once the output is in place.
  std::string award_lines;
};

// Whether the output is put in place: only a report's rows go there, and
// only those of a reading that did not end in the input changing or being
// refused. Otherwise an old file stays as it was, and a FIFO or a device
// gets nothing.
bool keeps_output(const conversion& done);

// What a conversion tells the user: its messages, each a line, and its
// status.
struct ending {
  std::string messages;
  int status = 1;
  // Whether the reading stopped at a field that --skip-unknown skips, so
  // that the user may be offered a whole reading.
  bool stopped_at_unknown = false;
};

// A conversion refused before its input is read: the reason, then the
// usage line.
ending refusal(std::string_view reason);

// The line at which the reading stopped, if it did, then what failed, or
// when nothing did, the results.
ending ending_of(const conversion& done, std::string_view input_name,
                 std::string_view output_name);

}  // namespace qsoflat

#endif  // QSOFLAT_APP_ENDING_H_
