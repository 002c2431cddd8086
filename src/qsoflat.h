// The command line and the run: banner, arguments, files, and the loop that
// hands each QSO from the reader to the writer.
#ifndef QSOFLAT_QSOFLAT_H_
#define QSOFLAT_QSOFLAT_H_

#include <string>
#include <string_view>

// The input name with everything from the first dot of its last path
// component replaced by ".csv" ("my.log.adi" gives "my.csv"), or with ".csv"
// appended when that component has no dot.
std::string derive_output_name(std::string_view input_name);

// Runs the whole program and returns its exit status, which the caller
// ends the program with through end_program, as usage does.
int qsoflat_main(int argc, char** argv);

#endif  // QSOFLAT_QSOFLAT_H_
