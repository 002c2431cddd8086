// The command line and the run: banner, arguments, files, and the loop that
// hands each QSO from the reader to the writer.
#ifndef QSOFLAT_APP_QSOFLAT_H_
#define QSOFLAT_APP_QSOFLAT_H_

#include <string>
#include <string_view>

#include "adif/adif_reader.h"

namespace qsoflat {

// The input name with everything from the first dot of its last path
// component replaced by the extension ("my.log.adi" gives "my.csv"), or
// with the extension appended when that component has no dot.
std::string derive_output_name(std::string_view input_name,
                               std::string_view extension = ".csv");

// What became of the input of a conversion.
enum class input_outcome {
  read,           // to its end, or to where the reading stopped
  read_failed,    // a read failed part way
  changed,        // a field came that the first of two readings did not meet
  name_too_long,  // a field's name was too long to make a column of
};

// What a conversion came to, from which the user is told.
struct conversion_facts {
  report_summary report;
  long long qsos = 0;  // the rows handed to the writer
  bool out_of_memory = false;
  input_outcome input = input_outcome::read;
  bool write_failed = false;  // the writer's finish or the commit failed
  // What the writer tells once its output is in place: lines, or nothing.
  std::string writer_note;
};

// Whether the output is put in place: only a report's rows go there, and
// only those of a reading that did not end in the input changing or being
// refused. Otherwise an old file stays as it was, and a FIFO or a device
// gets nothing.
bool keeps_output(const conversion_facts& facts);

// What a finished conversion tells the user: its messages, each a line,
// and its status.
struct conversion_ending {
  std::string messages;
  int status;
  // Whether the reading stopped at a field that --skip-unknown skips, so
  // that the user may be offered a whole reading.
  bool stopped_at_unknown;
};

conversion_ending ending_of(const conversion_facts& facts,
                            std::string_view input_name,
                            std::string_view output_name);

// How the program is to end: its status, and whether the user's answer to
// its last question already closed its window.
struct program_end {
  int status;
  bool closed_by_answer = false;
};

// Runs the whole program and tells how it is to end, which the caller
// does through end_program.
program_end qsoflat_main(int argc, char** argv);

}  // namespace qsoflat

#endif  // QSOFLAT_APP_QSOFLAT_H_
