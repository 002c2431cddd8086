#include "app/command_line.h"

#include "system/console.h"

namespace qsoflat {

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
    "  --awards        add the sheets DXCC, WAS, WAZ and VUCC to the .xlsx,\n"
    "                  reading the whole report\n"
    "  --separator SEP separate the CSV columns by SEP: , (the default), ;\n"
    "                  or tab\n"
    "  --help          show this text\n"
    "  --version       show the version\n"
    "  --              take every argument after it as a file name\n";

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

}  // namespace

command_line parse_command_line(int argc, const char* const* argv) {
  command_line line;
  bool options_ended = false;
  for (int i = 1; i < argc && line.error.empty(); ++i) {
    const std::string_view argument = argv[i];
    if (options_ended || argument.substr(0, 2) != "--") {
      line.names.emplace_back(argument);
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
    } else if (argument == "--awards") {
      line.options.awards = true;
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

std::string output_name_for(std::string_view input_name,
                            const run_options& options) {
  return derive_output_name(input_name,
                            options.xlsx || options.awards ? ".xlsx" : ".csv");
}

std::string banner() {
  return "\nConvert LoTW ADIF to CSV format - Version " +
         version_of(revision_keyword) + "\nBrevandel, Q9ZZ - " + __DATE__ +
         " " + __TIME__ + "\n\n";
}

std::string help_text() { return std::string(usage_line) + options_text; }

std::string version_text() {
  return "qsoflat " + version_of(revision_keyword) + "\n";
}

const char* guide_text() {
  return "To convert a report that you downloaded from LoTW, drag it onto\n"
         "qsoflat.exe in Explorer and drop it there: the CSV file is written\n"
         "beside the report. You can drop several reports at once. Or run\n"
         "qsoflat from a command prompt. USING.txt, beside qsoflat.exe, tells\n"
         "more.\n\n";
}

}  // namespace qsoflat
