// The program's run: the banner, the command line, and each report
// converted, named on the command line or dropped on the program.
#ifndef QSOFLAT_APP_QSOFLAT_H_
#define QSOFLAT_APP_QSOFLAT_H_

#include <functional>
#include <string>
#include <vector>

#include "app/command_line.h"

namespace qsoflat {

// How the program is to end: its status, and whether the user's answer to
// its last question already closed its window.
struct program_end {
  int status;
  bool closed_by_answer = false;
};

// Runs the whole program and tells how it is to end, which the caller
// does through end_program.
program_end qsoflat_main(int argc, char** argv);

// Asks the user a question and gives the line typed in answer.
using asker = std::function<std::string(const char* question)>;

// Converts each report dropped on the program, each beside itself with its
// own messages, and gives the worst status. A report that stops at an
// unknown field is offered whole at once, through ask, since there is no
// command line to run again from; any answer but S after the last report
// closes the window.
program_end convert_dropped(const std::vector<std::string>& names,
                            const run_options& options, const asker& ask);

}  // namespace qsoflat

#endif  // QSOFLAT_APP_QSOFLAT_H_
