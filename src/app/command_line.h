// The command line: what the user asks of the program, taken from the
// arguments with no I/O, and the texts that tell the user how to ask.
#ifndef QSOFLAT_APP_COMMAND_LINE_H_
#define QSOFLAT_APP_COMMAND_LINE_H_

#include <string>
#include <string_view>
#include <vector>

#include "adif/column_list.h"
#include "rows/csv_writer.h"

namespace qsoflat {

enum class request { convert, help, version };

// The columns written: the 15, those of a list, or every field of the
// report's QSOs.
enum class column_choice { fixed, list, all };

struct run_options {
  bool skip_unknown = false;
  column_choice columns = column_choice::fixed;
  column_list list;  // with column_choice::list
  bool iso_dates = false;
  bool xlsx = false;    // an .xlsx whatever the output's name
  bool awards = false;  // the award sheets, in an .xlsx, of the whole report
  char separator = default_separator;  // of a CSV output's columns
};

struct command_line {
  request wanted = request::convert;
  run_options options;
  std::vector<std::string> names;  // the file names, in their order
  // What ends the run before the usage line, or nothing.
  std::string error;
};

// The options and names of the arguments after the program's name. Options
// stand anywhere before a "--"; the first --help or --version decides the
// run, and the first error before them ends the taking. An argument of one
// dash, such as "-" or "-x.adi", is a file name. The argument after
// --columns is its list, whatever it is; a later --columns replaces an
// earlier one.
command_line parse_command_line(int argc, const char* const* argv);

// The input name with everything from the first dot of its last path
// component replaced by the extension ("my.log.adi" gives "my.csv"), or
// with the extension appended when that component has no dot.
std::string derive_output_name(std::string_view input_name,
                               std::string_view extension = ".csv");

// The output's name when none is given: the input's, with the extension
// of the output's kind.
std::string output_name_for(std::string_view input_name,
                            const run_options& options);

// Ends a run whose command line cannot be carried out, or whose files
// cannot be opened or must be kept.
inline constexpr char usage_line[] =
    "Usage:\tqsoflat <input.ADI> [output.CSV]\n\n";

// The start-up banner: the version, and the date and time of the build.
std::string banner();

// What --help shows: the usage line and the options, each line within an
// 80-column console.
std::string help_text();

// What --version shows.
std::string version_text();

// What follows the usage line for a user who started the program with no
// file name in a console of its own, as a double-click does.
const char* guide_text();

}  // namespace qsoflat

#endif  // QSOFLAT_APP_COMMAND_LINE_H_
