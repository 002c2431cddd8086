#include "app/conversion.h"

#include <cstdio>
#include <memory>
#include <new>
#include <string_view>
#include <utility>

#include "adif/adif_head.h"
#include "adif/adif_reader.h"
#include "adif/column_list.h"
#include "app/award_reading.h"
#include "qso/output_columns.h"
#include "rows/csv_writer.h"
#include "rows/xlsx_writer.h"
#include "system/console.h"
#include "system/output_file.h"

namespace qsoflat {

namespace {

// Follows the output's failure where another program holds the file, which
// on Windows is most often the user's spreadsheet.
const char held_by_another_program[] =
    "It is open in another program, such as a spreadsheet: close it there and "
    "try again.\n";

// Refuses an .xlsx output that is no file: the library writes a file by its
// name, and a workbook cannot be streamed.
std::string not_a_file(const std::string& shown) {
  return "Output file " + shown +
         " is not a file: an .xlsx workbook cannot be written to a pipe, a "
         "terminal or a device\n\n";
}

// Why the output must not be written, or nothing once it is opened. It
// replaces a file, so it must not be the input under any name (file
// identity decides, not the spelling of the names), nor an ADIF file. The
// .xlsx library writes a file by its name, and a workbook cannot be
// streamed: it goes only where a file is put in place.
std::string open_output(output_file& out, std::FILE* in,
                        const std::string& name, bool xlsx) {
  const std::string shown = printable(name);
  // Told by the name alone, without opening it, which would wait for a
  // FIFO's reader.
  if (xlsx && names_stream(name.c_str()))
    return not_a_file(shown);
  const open_result opened =
      out.open(in, name.c_str(),
               [](std::string_view head, std::string_view tail) -> int {
                 return adif_kind_of(head, tail);
               });
  switch (opened.outcome) {
    case open_outcome::is_input:
      return "Output file " + shown + " is the input file\n\n";
    case open_outcome::precious:
      return "Output file " + shown +
             (opened.precious_kind == lotw_report ? " is a LoTW report\n\n"
                                                  : " is an ADIF file\n\n");
    case open_outcome::failed:
      return "Could not open output file " + shown + "\n" +
             (opened.cause.held_by_another_program() ? held_by_another_program
                                                     : "") +
             "\n";
    case open_outcome::opened:
      break;
  }
  if (xlsx && !out.is_staged())
    return not_a_file(shown);
  return {};
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
std::unique_ptr<xlsx_writer> make_workbook(const output_file& out,
                                           output_columns columns,
                                           const run_options& options) {
  return std::make_unique<xlsx_writer>(
      out.staged_name().c_str(), out.staged_folder().c_str(),
      std::move(columns), options.iso_dates, xlsx_sheet_rows, out.stream());
}

std::unique_ptr<row_writer> make_writer(const output_file& out,
                                        output_columns columns,
                                        const run_options& options, bool xlsx) {
  if (xlsx)
    return make_workbook(out, std::move(columns), options);
  return std::make_unique<csv_writer>(out.stream(), std::move(columns),
                                      options.iso_dates, options.separator);
}

// Hands each QSO from the reader to the writer, after the header row, and
// counts them; with awards, the tally is told each QSO before its row is
// written.
void copy_rows(adif_reader& reader, row_writer& writer, qso_record& record,
               conversion& done, award_reading* awards = nullptr) {
  try {
    writer.header();
    while (reader.read_record(record) == read_outcome::record_complete) {
      if (awards != nullptr)
        awards->add(record);
      if (!writer.row(record))
        break;
      ++done.qsos;
    }
  } catch (const std::bad_alloc&) {
    // The rows converted so far are still written, as on a read error.
    done.out_of_memory = true;
  }
}

// Takes what became of the input, and puts the output in place or discards
// it.
void end_copy(std::FILE* in, output_file& out, const adif_reader& reader,
              row_writer& writer, conversion& done) {
  done.report = reader.summary();
  if (std::ferror(in) != 0)
    done.input = input_outcome::read_failed;
  else if (done.report.changed)
    done.input = input_outcome::changed;
  if (!keeps_output(done)) {
    out.discard();
    return;
  }
  done.write_failed = !writer.finish() || !out.commit();
  done.writer_note = writer.note();
}

// Reads the report into the output, by the fixed table or by the list of
// columns, and puts the output in place or discards it.
conversion copy_report(std::FILE* in, output_file& out, const column_list& list,
                       const run_options& options, bool xlsx) {
  const bool fixed = options.columns == column_choice::fixed;
  adif_reader reader =
      fixed ? adif_reader(in, options.skip_unknown) : adif_reader(in, list);
  output_columns columns = fixed ? fixed_columns() : output_columns_of(list);
  qso_record record(columns.slot_count());
  const std::unique_ptr<row_writer> writer =
      make_writer(out, std::move(columns), options, xlsx);
  conversion done;
  copy_rows(reader, *writer, record, done);
  end_copy(in, out, reader, *writer, done);
  return done;
}

// As copy_report, into a workbook with the award sheets after the QSOs'.
// The whole report is read, by a list of the QSOs sheet's columns and the
// fields that the tally counts by, of which the sheet takes its own.
conversion copy_with_awards(std::FILE* in, output_file& out,
                            const column_list& list,
                            const run_options& options) {
  const column_list sheet_columns =
      options.columns == column_choice::fixed ? fixed_column_list() : list;
  const column_list read = with_award_fields(sheet_columns);
  adif_reader reader(in, read);
  // The chosen columns keep the first slots of the reading, so the sheet
  // takes them as they are.
  output_columns columns = output_columns_of(sheet_columns);
  qso_record record(read.size());
  award_reading awards(read);
  const std::unique_ptr<xlsx_writer> writer =
      make_workbook(out, std::move(columns), options);
  conversion done;
  copy_rows(reader, *writer, record, done, &awards);
  std::array<award_sheet, 4> sheets = awards.sheets();
  done.award_lines = award_reading::summary(sheets);
  writer->add_award_sheets(std::move(sheets));
  end_copy(in, out, reader, *writer, done);
  return done;
}

}  // namespace

ending convert(const std::string& input_name, const std::string& output_name,
               const run_options& options) {
  if (options.awards && !writes_xlsx(output_name, options))
    return refusal(
        "Award sheets are written only into an .xlsx workbook: name the "
        "output .xlsx\n\n");
  const auto close = [](std::FILE* stream) { (void)std::fclose(stream); };
  // A folder opens for reading on some systems but yields no text, so it is
  // refused like any other input that cannot be opened.
  const std::unique_ptr<std::FILE, decltype(close)> in(
      open_input_file(input_name.c_str()), close);
  if (in == nullptr)
    return refusal("Could not open LoTW file " + printable(input_name) +
                   "\n\n");
  // The reader reads in large blocks of its own; a stream buffer would only
  // split each block in two. A refusal only makes the reading slower.
  (void)std::setvbuf(in.get(), nullptr, _IONBF, 0);
  // A pipe or a terminal cannot be read twice, as --columns all reads.
  const bool all = options.columns == column_choice::all;
  if (all && std::fseek(in.get(), 0, SEEK_SET) != 0)
    return refusal("--columns all needs a file that can be read twice: " +
                   printable(input_name) + "\n\n");
  output_file out;
  const bool xlsx = writes_xlsx(output_name, options);
  const std::string refused = open_output(out, in.get(), output_name, xlsx);
  if (!refused.empty())
    return refusal(refused);
  column_list found;
  conversion done;
  if (all)
    done.input = take_columns_of_report(in.get(), found);
  const column_list& list = all ? found : options.list;
  // A sheet must hold every column, which is told before any row is
  // written, and the old file is left as it was.
  if (done.input == input_outcome::read && xlsx &&
      options.columns != column_choice::fixed &&
      list.size() > xlsx_sheet_columns)
    return refusal("Too many columns for an .xlsx sheet in " +
                   printable(output_name) + ": " + std::to_string(list.size()) +
                   ", 16,384 at most; a CSV output takes them all\n\n");
  if (done.input == input_outcome::read)
    done = options.awards ? copy_with_awards(in.get(), out, list, options)
                          : copy_report(in.get(), out, list, options, xlsx);
  return ending_of(done, input_name, output_name);
}

}  // namespace qsoflat
