#include "app/qsoflat.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <new>
#include <string_view>
#include <utility>
#include <vector>

#include "adif/adif_head.h"
#include "adif/adif_reader.h"
#include "adif/column_list.h"
#include "rows/csv_writer.h"
#include "rows/xlsx_writer.h"
#include "system/console.h"
#include "system/output_file.h"

namespace qsoflat {

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

// A command line that cannot be carried out, a file that cannot be opened
// and an output that must be kept end their run, or in a window of its own
// that report's conversion, with the usage line.
int usage() {
  (void)std::fputs(usage_line, stderr);
  return 1;
}

// A double-click starts the program with no file name in a console of its
// own, which is all such a user sees of it.
int usage_with_guide() {
  (void)usage();
  (void)std::fputs(
      "To convert a report that you downloaded from LoTW, drag it onto\n"
      "qsoflat.exe in Explorer and drop it there: the CSV file is written\n"
      "beside the report. You can drop several reports at once. Or run\n"
      "qsoflat from a command prompt. USING.txt, beside qsoflat.exe, tells\n"
      "more.\n\n",
      stderr);
  return 1;
}

const char options_text[] =
    "Options:\n"
    "  --skip-unknown  skip the fields qsoflat does not know, so that a "
    "report\n"
    "                  with QSL details is read whole\n"
    "  --columns LIST  write the fields that LIST names, separated by commas,\n"
    "                  such as CALL,QSO_DATE,BAND,MODE,COUNTRY, in that "
    "order;\n"
    "                  --columns all writes every field the QSOs hold\n"
    "  --iso-dates     write dates as 2012-10-03 and times as 10:12\n"
    "  --xlsx          write an .xlsx workbook, as an output name ending in\n"
    "                  .xlsx does, with dates, times and numbers typed\n"
    "  --separator SEP separate the CSV columns by SEP: , (the default), ;\n"
    "                  or tab\n"
    "  --help          show this text\n"
    "  --version       show the version\n"
    "  --              take every argument after it as a file name\n";

enum class request { convert, help, version };

// The columns written: the 15, those of a list, or every field of the
// report's QSOs.
enum class column_choice { fixed, list, all };

struct run_options {
  bool skip_unknown = false;
  column_choice columns = column_choice::fixed;
  column_list list;  // with column_choice::list
  bool iso_dates = false;
  bool xlsx = false;                   // an .xlsx whatever the output's name
  char separator = default_separator;  // of a CSV output's columns
};

struct command_line {
  request wanted = request::convert;
  run_options options;
  std::vector<const char*> names;
  // What ends the run before the usage line, or nothing.
  std::string error;
};

// Takes the list of --columns: "all", in any case, or field names. A bad
// name ends the run, unless --help or --version came first.
void take_columns(command_line& line, std::string_view list) {
  run_options& options = line.options;
  options.list = column_list();
  options.columns =
      same_any_case(list, "all") ? column_choice::all : column_choice::list;
  std::string bad_name;
  if (options.columns == column_choice::all ||
      parse_column_list(list, options.list, bad_name) ||
      line.wanted != request::convert)
    return;
  line.error = "Bad field name " + printable(bad_name) + " in --columns\n\n";
}

// Takes the separator of --separator: a comma, a semicolon, or a tab named
// "tab" in any case or given as itself.
void take_separator(command_line& line, std::string_view separator) {
  if (separator == "," || separator == ";")
    line.options.separator = separator[0];
  else if (separator == "\t" || same_any_case(separator, "tab"))
    line.options.separator = '\t';
  else if (line.wanted == request::convert)
    line.error =
        "Bad separator " + printable(separator) + " in --separator\n\n";
}

// Takes the options out of the arguments, wherever they stand before a
// "--"; the first --help or --version decides the run, and the first error
// before them ends the taking. An argument of one dash, such as "-" or
// "-x.adi", is a file name. The argument after --columns is its list,
// whatever it is; a later --columns replaces an earlier one.
command_line parse_command_line(int argc, char** argv) {
  command_line line;
  bool options_ended = false;
  for (int i = 1; i < argc && line.error.empty(); ++i) {
    const std::string_view argument = argv[i];
    if (options_ended || argument.substr(0, 2) != "--") {
      line.names.push_back(argv[i]);
    } else if (argument == "--") {
      options_ended = true;
    } else if (argument == "--skip-unknown") {
      line.options.skip_unknown = true;
    } else if (argument == "--iso-dates") {
      line.options.iso_dates = true;
    } else if (argument == "--columns") {
      // A missing list is an empty one, whose one name is empty.
      take_columns(line, i + 1 < argc ? argv[++i] : "");
    } else if (argument.substr(0, 10) == "--columns=") {
      take_columns(line, argument.substr(10));
    } else if (argument == "--xlsx") {
      line.options.xlsx = true;
    } else if (argument == "--separator") {
      take_separator(line, i + 1 < argc ? argv[++i] : "");
    } else if (argument.substr(0, 12) == "--separator=") {
      take_separator(line, argument.substr(12));
    } else if (argument == "--help" || argument == "--version") {
      if (line.wanted == request::convert)
        line.wanted = argument == "--help" ? request::help : request::version;
    } else if (line.wanted == request::convert) {
      line.error = "Unknown option " + printable(argument) + "\n\n";
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

// Refuses an .xlsx output that is no file: the library writes a file by its
// name, and a workbook cannot be streamed.
bool not_a_file(const std::string& name) {
  print_message(
      "Output file %s is not a file: an .xlsx workbook cannot be "
      "written to a pipe, a terminal or a device\n\n",
      printable(name).c_str());
  return false;
}

// The output replaces a file, so it must not be the input under any name
// (file identity decides, not the spelling of the names), nor an ADIF file.
// The .xlsx library writes a file by its name, and a workbook cannot be
// streamed: it goes only where a file is put in place.
bool open_output(output_file& out, std::FILE* in, const std::string& name,
                 bool xlsx) {
  // Told by the name alone, without opening it, which would wait for a
  // FIFO's reader.
  if (xlsx && names_stream(name.c_str()))
    return not_a_file(name);
  const open_result opened =
      out.open(in, name.c_str(),
               [](std::string_view head, std::string_view tail) -> int {
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
  if (opened.outcome == open_outcome::opened && xlsx && !out.is_staged())
    return not_a_file(name);
  return opened.outcome == open_outcome::opened;
}

// Every field of the report's QSOs as a column, from a first reading of
// the input, which is then read again from its start.
input_outcome take_columns_of_report(std::FILE* in, column_list& columns) {
  report_columns found = columns_of(in);
  if (std::ferror(in) != 0 || std::fseek(in, 0, SEEK_SET) != 0)
    return input_outcome::read_failed;
  if (found.name_too_long)
    return input_outcome::name_too_long;
  columns = std::move(found.columns);
  return input_outcome::read;
}

// Whether the output is an .xlsx workbook: by --xlsx, or by its name.
bool writes_xlsx(std::string_view output_name, const run_options& options) {
  constexpr std::string_view extension = ".xlsx";
  return options.xlsx || (output_name.size() >= extension.size() &&
                          same_any_case(output_name.substr(output_name.size() -
                                                           extension.size()),
                                        extension));
}

// The writer of the output's rows. Every writer stands behind the same
// seam, so that the run does not change for another. The .xlsx library
// writes its file by name: the staged file, in place, with the library's
// own temporary files beside it.
std::unique_ptr<row_writer> make_writer(const output_file& out,
                                        const column_list* columns,
                                        const run_options& options, bool xlsx) {
  if (xlsx) {
    return std::make_unique<xlsx_row_writer>(
        out.staged_name().c_str(), out.staged_folder().c_str(), columns,
        options.iso_dates, out.stream());
  }
  return std::make_unique<csv_row_writer>(out.stream(), columns,
                                          options.iso_dates, options.separator);
}

struct copied {
  long long qsos = 0;
  bool out_of_memory = false;
};

// Hands each QSO from the reader to the writer, after the header row.
copied copy_rows(adif_reader& reader, row_writer& writer, qso_record& record) {
  copied done;
  try {
    writer.header();
    while (reader.read_record(record) == read_outcome::record_complete &&
           writer.row(record))
      ++done.qsos;
  } catch (const std::bad_alloc&) {
    // The rows converted so far are still written, as on a read error.
    done.out_of_memory = true;
  }
  return done;
}

// Reads the report into the output, by the columns or else the fixed
// table, and puts the output in place or discards it.
conversion_facts copy_report(std::FILE* in, output_file& out,
                             const column_list* columns,
                             const run_options& options, bool xlsx) {
  adif_reader reader = columns != nullptr
                           ? adif_reader(in, *columns)
                           : adif_reader(in, options.skip_unknown);
  const std::unique_ptr<row_writer> writer =
      make_writer(out, columns, options, xlsx);
  qso_record record(columns != nullptr ? columns->size() : field_count);
  const copied rows = copy_rows(reader, *writer, record);
  conversion_facts facts;
  facts.report = reader.summary();
  facts.qsos = rows.qsos;
  facts.out_of_memory = rows.out_of_memory;
  if (std::ferror(in) != 0)
    facts.input = input_outcome::read_failed;
  else if (facts.report.changed)
    facts.input = input_outcome::changed;
  if (!keeps_output(facts)) {
    out.discard();
    return facts;
  }
  facts.write_failed = !writer->finish() || !out.commit();
  facts.writer_note = writer->note();
  return facts;
}

// Whether a sheet holds every column; else says so, before any row is
// written and the old file is left as it was.
bool fits_a_sheet(const column_list& columns, const std::string& output_name) {
  if (columns.size() <= xlsx_sheet_columns)
    return true;
  print_message(
      "Too many columns for an .xlsx sheet in %s: %s, 16,384 at most; a CSV "
      "output takes them all\n\n",
      printable(output_name).c_str(), std::to_string(columns.size()).c_str());
  return false;
}

// How a conversion ended: its status, and whether the reading stopped at a
// field that --skip-unknown would have skipped.
struct conversion {
  int status;
  bool stopped_at_unknown;
};

// Converts one report and tells what became of it. The output is opened
// before a byte of the input is read, and a refusal leaves every file as
// it was.
conversion convert(const char* input_name, const std::string& output_name,
                   const run_options& options) {
  const auto close = [](std::FILE* stream) { (void)std::fclose(stream); };
  // A folder opens for reading on some systems but yields no text, so it is
  // refused like any other input that cannot be opened.
  const std::unique_ptr<std::FILE, decltype(close)> in(
      open_input_file(input_name), close);
  if (in == nullptr) {
    print_message("Could not open LoTW file %s\n\n",
                  printable(input_name).c_str());
    return {usage(), false};
  }
  // The reader reads in large blocks of its own; a stream buffer would only
  // split each block in two. A refusal only makes the reading slower.
  (void)std::setvbuf(in.get(), nullptr, _IONBF, 0);
  // A pipe or a terminal cannot be read twice, as --columns all reads.
  const bool all = options.columns == column_choice::all;
  if (all && std::fseek(in.get(), 0, SEEK_SET) != 0) {
    print_message("--columns all needs a file that can be read twice: %s\n\n",
                  printable(input_name).c_str());
    return {usage(), false};
  }
  output_file out;
  const bool xlsx = writes_xlsx(output_name, options);
  if (!open_output(out, in.get(), output_name, xlsx))
    return {usage(), false};
  column_list found;
  conversion_facts facts;
  if (all)
    facts.input = take_columns_of_report(in.get(), found);
  const column_list* const columns = all ? &found
                                     : options.columns == column_choice::list
                                         ? &options.list
                                         : nullptr;
  if (facts.input == input_outcome::read && xlsx && columns != nullptr &&
      !fits_a_sheet(*columns, output_name))
    return {usage(), false};
  if (facts.input == input_outcome::read)
    facts = copy_report(in.get(), out, columns, options, xlsx);
  const conversion_ending end = ending_of(facts, input_name, output_name);
  print_message("%s", end.messages.c_str());
  return {end.status, end.stopped_at_unknown};
}

// Converts the report named on a command line, where an unknown field can
// only be answered by running again.
int convert_named(const char* input_name, const std::string& output_name,
                  const run_options& options) {
  const conversion done = convert(input_name, output_name, options);
  if (done.stopped_at_unknown)
    (void)std::fputs(
        "Run again with --skip-unknown to skip the fields that "
        "qsoflat does not know and read the whole report\n",
        stderr);
  return done.status;
}

// Converts each report dropped on the program, each beside itself with its
// own messages, and gives the worst status. A report that stops at an
// unknown field is offered whole at once, since there is no command line
// to run again from; Enter alone after the last report closes the window.
program_end convert_dropped(const std::vector<const char*>& names,
                            const run_options& options) {
  int worst = 0;
  for (std::size_t i = 0; i < names.size(); ++i) {
    const bool last = i + 1 == names.size();
    const std::string output_name =
        derive_output_name(names[i], options.xlsx ? ".xlsx" : ".csv");
    conversion done = convert(names[i], output_name, options);
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
        run_options whole = options;
        whole.skip_unknown = true;
        done = convert(names[i], output_name, whole);
      } else if (last) {
        return {std::max(worst, done.status), true};
      }
    }
    worst = std::max(worst, done.status);
  }
  return {worst};
}

}  // namespace

std::string derive_output_name(std::string_view input_name,
                               std::string_view extension) {
  const std::size_t separator = input_name.find_last_of("/\\");
  const std::size_t component =
      separator == std::string_view::npos ? 0 : separator + 1;
  const std::size_t dot = input_name.find('.', component);
  std::string name(input_name.substr(0, dot));
  name += extension;
  return name;
}

bool keeps_output(const conversion_facts& facts) {
  return facts.report.report_seen &&
         (facts.input == input_outcome::read ||
          facts.input == input_outcome::read_failed);
}

conversion_ending ending_of(const conversion_facts& facts,
                            std::string_view input_name,
                            std::string_view output_name) {
  const report_summary& report = facts.report;
  const std::string input = printable(input_name);
  conversion_ending end{"", 1, false};
  if (report.stopped_at_unknown)
    end.messages +=
        "Unrecognized ADIF field " + printable(report.stop_line) + "\n";
  if (facts.out_of_memory)
    end.messages += "Out of memory\n";
  if (facts.input == input_outcome::read_failed)
    end.messages += "Could not read LoTW file " + input + "\n";
  if (facts.input == input_outcome::changed)
    end.messages += input + " changed while it was read\n";
  if (facts.input == input_outcome::name_too_long)
    end.messages += "Field name too long in " + input + "\n";
  if (facts.write_failed)
    end.messages +=
        "Could not write output file " + printable(output_name) + "\n";
  if (facts.out_of_memory || facts.input != input_outcome::read ||
      facts.write_failed)
    return end;
  if (!report.report_seen) {
    end.messages += "No LoTW report found in " + input + "\n";
    return end;
  }
  // A report cut short, or one that holds fewer or more QSOs than it says,
  // was not converted whole, though its rows are written; one that stopped
  // at an unknown field was not read to its end, which a script must be
  // able to tell from the status.
  bool whole = !report.stopped_at_unknown;
  if (!report.stopped_at_unknown && report.qso_cut_off) {
    end.messages +=
        "The last QSO in " + input + " has no <eor> line and was not written\n";
    whole = false;
  }
  if (!report.stopped_at_unknown && report.count_announced &&
      report.announced_count != facts.qsos) {
    end.messages += input + " announces " +
                    std::to_string(report.announced_count) +
                    " QSOs in APP_LoTW_NUMREC, but holds " +
                    std::to_string(facts.qsos) + "\n";
    whole = false;
  }
  end.messages += "Wrote " + std::to_string(facts.qsos) + " QSOs to " +
                  printable(output_name) + "\n" + facts.writer_note;
  end.status = whole ? 0 : 1;
  end.stopped_at_unknown = report.stopped_at_unknown;
  return end;
}

program_end qsoflat_main(int argc, char** argv) {
  try {
    print_banner();
    const command_line line = parse_command_line(argc, argv);
    if (!line.error.empty()) {
      print_message("%s", line.error.c_str());
      return {usage()};
    }
    if (line.wanted != request::convert)
      return {show(line.wanted)};
    // Explorer gives a program a console of its own, and every name it
    // passes is a file dropped on the program.
    const bool dropped = has_console_of_its_own();
    if (line.names.empty() && dropped)
      return {usage_with_guide()};
    if (line.names.empty() || (line.names.size() > 2 && !dropped))
      return {usage()};
    if (dropped)
      return convert_dropped(line.names, line.options);
    const char* const input_name = line.names[0];
    return {convert_named(
        input_name,
        line.names.size() == 2
            ? std::string(line.names[1])
            : derive_output_name(input_name,
                                 line.options.xlsx ? ".xlsx" : ".csv"),
        line.options)};
  } catch (const std::bad_alloc&) {
    (void)std::fputs("Out of memory\n", stderr);
    return {1};
  }
}

}  // namespace qsoflat
