#include "qsoflat.h"

#include <algorithm>
#include <cstdio>
#include <new>
#include <string_view>
#include <vector>

#include "adif_head.h"
#include "adif_reader.h"
#include "column_list.h"
#include "csv_writer.h"
#include "console.h"
#include "output_file.h"

// Messages go to standard error unchecked: when it fails, nothing is left
// to tell of it, and the exit status still tells.

namespace {

const char revision_keyword[] = "$Revision: 1.3 $";

// The version is the keyword's second word.
std::string version_of(std::string_view keyword) {
  constexpr std::string_view delimiters = " \xA0\r\n";
  std::size_t start = keyword.find_first_not_of(delimiters);
  for (int word = 1; start != std::string_view::npos; ++word) {
    const std::size_t stop = keyword.find_first_of(delimiters, start);
    if (word == 2)
      return std::string(keyword.substr(start, stop - start));
    start = keyword.find_first_not_of(delimiters, stop);
  }
  return std::string();
}

void print_banner() {
  (void)std::fprintf(stderr,
                     "\nConvert LoTW ADIF to CSV format - Version %s\n"
                     "Brevandel, Q9ZZ - %s %s\n\n",
                     version_of(revision_keyword).c_str(), __DATE__, __TIME__);
}

const char usage_line[] = "Usage:\tqsoflat <input.ADI> [output.CSV]\n\n";

[[noreturn]] void usage() {
  (void)std::fputs(usage_line, stderr);
  end_program(1);
}

// A double-click starts the program with no file name in a console of its
// own, which is all such a user sees of it.
[[noreturn]] void usage_with_guide() {
  (void)std::fputs(usage_line, stderr);
  (void)std::fputs(
      "To convert a report that you downloaded from LoTW, drag it onto\n"
      "qsoflat.exe in Explorer and drop it there: the CSV file is written\n"
      "beside the report. You can drop several reports at once. Or run\n"
      "qsoflat from a command prompt. USING.txt, beside qsoflat.exe, tells\n"
      "more.\n\n",
      stderr);
  end_program(1);
}

// A file that cannot be opened, or an output that must be kept, ends its
// conversion with the usage line, as a command line that cannot be carried
// out does; the program goes on with the next report dropped on it.
int refused() {
  (void)std::fputs(usage_line, stderr);
  return 1;
}

const char options_text[] =
    "Options:\n"
    "  --skip-unknown  skip the fields qsoflat does not know, so that a report\n"
    "                  with QSL details is read whole\n"
    "  --columns LIST  write the fields that LIST names, separated by commas,\n"
    "                  such as CALL,QSO_DATE,BAND,MODE,COUNTRY, in that order;\n"
    "                  --columns all writes every field the QSOs hold\n"
    "  --iso-dates     write dates as 2012-10-03 and times as 10:12\n"
    "  --help          show this text\n"
    "  --version       show the version\n"
    "  --              take every argument after it as a file name\n";

enum class request { convert, help, version };

struct command_line {
  request wanted = request::convert;
  bool skip_unknown = false;
  // With chose_columns, the columns of the list, or with all_columns every
  // field of the report's QSOs.
  bool chose_columns = false;
  bool all_columns = false;
  column_list columns;
  bool iso_dates = false;
  std::vector<const char*> names;
};

// Takes the list of --columns: "all", in any case, or field names. A bad
// name ends the run, unless --help or --version came first.
void take_columns(command_line& line, std::string_view list) {
  line.chose_columns = true;
  line.all_columns = same_any_case(list, "all");
  line.columns = column_list();
  std::string bad_name;
  if (line.all_columns || parse_column_list(list, line.columns, bad_name) ||
      line.wanted != request::convert)
    return;
  print_message("Bad field name %s in --columns\n\n",
                printable(bad_name).c_str());
  usage();
}

// Takes the options out of the arguments, wherever they stand before a
// "--"; the first --help or --version decides the run. An argument of one
// dash, such as "-" or "-x.adi", is a file name. The argument after
// --columns is its list, whatever it is; a later --columns replaces an
// earlier one.
command_line parse_command_line(int argc, char** argv) {
  command_line line;
  bool options_ended = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (options_ended || argument.substr(0, 2) != "--") {
      line.names.push_back(argv[i]);
    } else if (argument == "--") {
      options_ended = true;
    } else if (argument == "--skip-unknown") {
      line.skip_unknown = true;
    } else if (argument == "--iso-dates") {
      line.iso_dates = true;
    } else if (argument == "--columns") {
      // A missing list is an empty one, whose one name is empty.
      take_columns(line, i + 1 < argc ? argv[++i] : "");
    } else if (argument.substr(0, 10) == "--columns=") {
      take_columns(line, argument.substr(10));
    } else if (argument == "--help" || argument == "--version") {
      if (line.wanted == request::convert)
        line.wanted = argument == "--help" ? request::help : request::version;
    } else if (line.wanted == request::convert) {
      print_message("Unknown option %s\n\n", printable(argument).c_str());
      usage();
    }
  }
  return line;
}

// Writes the help or the version to standard output, the one thing the
// program writes there, and says whether it got there.
int show(request wanted) {
  if (wanted == request::help) {
    (void)std::fputs(usage_line, stdout);
    (void)std::fputs(options_text, stdout);
  } else {
    (void)std::printf("qsoflat %s\n", version_of(revision_keyword).c_str());
  }
  return std::fflush(stdout) != 0 || std::ferror(stdout) != 0 ? 1 : 0;
}

// Follows the output's failure where another program holds the file, which
// on Windows is most often the user's spreadsheet.
const char held_by_another_program[] =
    "It is open in another program, such as a spreadsheet: close it there and "
    "try again.\n";

// The output replaces a file, so it must not be the input under any name
// (file identity decides, not the spelling of the names), nor an ADIF file.
bool open_output(output_file& out, std::FILE* in, const std::string& name) {
  const open_result opened = out.open(
      in, name.c_str(), [](std::string_view head, std::string_view tail) -> int {
        return adif_kind_of(head, tail);
      });
  const std::string shown = printable(name);
  if (opened.outcome == open_outcome::is_input)
    print_message("Output file %s is the input file\n\n", shown.c_str());
  if (opened.outcome == open_outcome::precious)
    print_message(opened.precious_kind == lotw_report
                      ? "Output file %s is a LoTW report\n\n"
                      : "Output file %s is an ADIF file\n\n",
                  shown.c_str());
  if (opened.outcome == open_outcome::failed) {
    print_message("Could not open output file %s\n", shown.c_str());
    if (opened.cause.held_by_another_program())
      (void)std::fputs(held_by_another_program, stderr);
    (void)std::fputc('\n', stderr);
  }
  return opened.outcome == open_outcome::opened;
}

// Every field of the report's QSOs as a column, from a first reading of
// the input, which is then read again from its start: a pipe or a terminal
// cannot be, and is refused before its first byte is read. False, after
// the message, when the input cannot be read twice or not at all.
bool columns_of_report(std::FILE* in, const char* input_name,
                       column_list& columns) {
  if (std::fseek(in, 0, SEEK_SET) == 0) {
    columns = columns_of(in);
    if (std::ferror(in) != 0) {
      print_message("Could not read LoTW file %s\n",
                    printable(input_name).c_str());
      return false;
    }
    if (std::fseek(in, 0, SEEK_SET) == 0)
      return true;
  }
  print_message("--columns all needs a file that can be read twice: %s\n\n",
                printable(input_name).c_str());
  (void)refused();
  return false;
}

// How a conversion ended: its status, and whether the reading stopped at a
// field that --skip-unknown would have skipped.
struct conversion {
  int status = 1;
  bool stopped_at_unknown = false;
};

// Converts one report and tells what became of it. The output is opened
// before the rows are read (--columns all reads the names first), and a
// refusal leaves every file as it was.
conversion convert(const char* input_name, const std::string& output_name,
                   const command_line& line) {
  // A folder opens for reading on some systems but yields no text, so it is
  // refused like any other input that cannot be opened.
  std::FILE* in = open_input_file(input_name);
  if (in == nullptr) {
    print_message("Could not open LoTW file %s\n\n",
                  printable(input_name).c_str());
    return {refused(), false};
  }
  // The reader reads in large blocks of its own; a stream buffer would only
  // split each block in two. A refusal only makes the reading slower.
  (void)std::setvbuf(in, nullptr, _IONBF, 0);
  column_list all;
  if (line.all_columns && !columns_of_report(in, input_name, all)) {
    (void)std::fclose(in);
    return {1, false};
  }
  const column_list& columns = line.all_columns ? all : line.columns;
  // The reader's buffer is taken before the output is made, so that running
  // out of memory for it leaves nothing behind.
  adif_reader reader = line.chose_columns
                           ? adif_reader(in, columns)
                           : adif_reader(in, line.skip_unknown);
  output_file out;
  if (!open_output(out, in, output_name)) {
    (void)std::fclose(in);
    return {refused(), false};
  }

  qso_record record(line.chose_columns ? columns.size() : field_count);
  csv_writer writer(out.stream(), line.chose_columns ? &columns : nullptr,
                    line.iso_dates);
  long long qso_count = 0;
  bool out_of_memory = false;
  try {
    write_header(writer);
    while (read_record(reader, record) == read_outcome::record_complete &&
           write_record(writer, record))
      ++qso_count;
  } catch (const std::bad_alloc&) {
    // The rows converted so far are still written, as on a read error.
    out_of_memory = true;
  }

  const report_summary& report = reader.summary();
  const bool read_failed = std::ferror(in) != 0;
  (void)std::fclose(in);  // all it read is already taken
  // Only a report's rows reach the output, and the header row waits in the
  // writer's buffer until a report has shown itself (a row comes only after
  // that), so that a FIFO or a device gets nothing from anything else, and
  // an old file stays as it was.
  bool write_failed = false;
  if (report.report_seen)
    write_failed = !flush_rows(writer) || std::fflush(out.stream()) != 0 ||
                   std::ferror(out.stream()) != 0 || !out.commit();
  else
    out.discard();
  const std::string input = printable(input_name);
  const std::string output = printable(output_name);
  if (report.stopped_at_unknown)
    print_message("Unrecognized ADIF field %s\n",
                  printable(report.stop_line).c_str());
  if (out_of_memory)
    (void)std::fputs("Out of memory\n", stderr);
  if (read_failed)
    print_message("Could not read LoTW file %s\n", input.c_str());
  if (write_failed)
    print_message("Could not write output file %s\n", output.c_str());
  if (write_failed && out.failure().held_by_another_program())
    (void)std::fputs(held_by_another_program, stderr);
  if (out_of_memory || read_failed || write_failed)
    return {1, false};
  if (!report.report_seen) {
    print_message("No LoTW report found in %s\n", input.c_str());
    return {1, false};
  }
  // A report cut short, or one that holds fewer or more QSOs than it says,
  // was not converted whole, though its rows are written.
  bool cut_short = false;
  if (!report.stopped_at_unknown && report.qso_cut_off) {
    print_message("The last QSO in %s has no <eor> line and was not written\n",
                  input.c_str());
    cut_short = true;
  }
  if (!report.stopped_at_unknown && report.count_announced &&
      report.announced_count != qso_count) {
    print_message("%s announces %lld QSOs in APP_LoTW_NUMREC, but holds %lld\n",
                  input.c_str(), report.announced_count, qso_count);
    cut_short = true;
  }
  print_message("Wrote %lld QSOs to %s\n", qso_count, output.c_str());
  // The rows before an unknown field are written, but the report was not
  // read to its end, which a script must be able to tell from the status.
  return {cut_short || report.stopped_at_unknown ? 1 : 0,
          report.stopped_at_unknown};
}

// Converts the report named on a command line, where an unknown field can
// only be answered by running again.
int convert_named(const char* input_name, const std::string& output_name,
                  const command_line& line) {
  const conversion done = convert(input_name, output_name, line);
  if (done.stopped_at_unknown)
    (void)std::fputs("Run again with --skip-unknown to skip the fields that "
                     "qsoflat does not know and read the whole report\n",
                     stderr);
  return done.status;
}

// Converts each report dropped on the program, each beside itself with its
// own messages, and gives the worst status. A report that stops at an
// unknown field is offered whole at once, since there is no command line
// to run again from; Enter alone after the last report closes the window.
int convert_dropped(const command_line& line) {
  const std::vector<const char*>& names = line.names;
  int worst = 0;
  for (std::size_t i = 0; i < names.size(); ++i) {
    const bool last = i + 1 == names.size();
    const std::string output_name = derive_output_name(names[i]);
    conversion done = convert(names[i], output_name, line);
    if (done.stopped_at_unknown) {
      // Broken where an 80-column console would break it.
      const std::string answer = ask(
          last ? "Type S and press Enter to read the whole report, skipping "
                 "the fields\nqsoflat does not know; press Enter alone to "
                 "close. "
               : "Type S and press Enter to read the whole report, skipping "
                 "the fields\nqsoflat does not know; press Enter alone to go "
                 "on with the next one. ");
      if (answer == "S" || answer == "s") {
        command_line whole = line;
        whole.skip_unknown = true;
        done = convert(names[i], output_name, whole);
      }
      else if (last)
        end_program(std::max(worst, done.status), true);
    }
    worst = std::max(worst, done.status);
  }
  return worst;
}

}  // namespace

std::string derive_output_name(std::string_view input_name) {
  const std::size_t separator = input_name.find_last_of("/\\");
  const std::size_t component =
      separator == std::string_view::npos ? 0 : separator + 1;
  const std::size_t dot = input_name.find('.', component);
  std::string name(input_name.substr(0, dot));
  name += ".csv";
  return name;
}

int qsoflat_main(int argc, char** argv) {
  try {
    print_banner();
    const command_line line = parse_command_line(argc, argv);
    if (line.wanted != request::convert)
      return show(line.wanted);
    // Explorer gives a program a console of its own, and every name it
    // passes is a file dropped on the program.
    const bool dropped = has_console_of_its_own();
    if (line.names.empty() && dropped)
      usage_with_guide();
    if (line.names.empty() || (line.names.size() > 2 && !dropped))
      usage();
    if (dropped)
      return convert_dropped(line);
    const char* const input_name = line.names[0];
    return convert_named(input_name,
                         line.names.size() == 2
                             ? std::string(line.names[1])
                             : derive_output_name(input_name),
                         line);
  } catch (const std::bad_alloc&) {
    (void)std::fputs("Out of memory\n", stderr);
    return 1;
  }
}
