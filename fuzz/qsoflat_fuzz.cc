// Feeds arbitrary bytes through the reader and the writer in memory, as one
// run of the program would, in both reading modes and with every field of
// the QSOs as a column, and checks what must hold for every input: the rows
// are whole, with one column per column of the header, one per complete
// record, a
// plain call sign arrives unchanged, neither CR LF line ends nor the
// reader's buffer size change what is read, and the line scan in use finds
// the same line and text ends as the portable one.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "adif/adif_reader.h"
#include "rows/csv_writer.h"

namespace qsoflat {
namespace {

struct conversion {
  std::string csv;
  std::string messages;
  std::vector<std::string> calls;  // the CALL value of each record written
  std::size_t records = 0;
  std::size_t columns = 0;
  bool stopped_at_unknown = false;
  bool fields_pending = false;
  long long announced_count = -1;  // -1 when the report announced none
};

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "property broken: %s\n", what);
  std::abort();
}

std::string take(std::FILE* stream, char*& bytes, std::size_t& size) {
  if (std::fclose(stream) != 0)
    fail("a memory stream did not close");
  std::string taken(bytes, size);
  std::free(bytes);
  return taken;
}

// The columns of the reading with columns: those of every field the QSOs
// hold, as --columns all finds them, so that every line that names a field
// is taken.
conversion convert(const std::string& input, bool skip_unknown,
                   std::size_t buffer_size, bool all_columns = false) {
  // fmemopen takes no empty buffer, so an empty input reads from /dev/null.
  std::FILE* in = input.empty() ? std::fopen("/dev/null", "r")
                                : fmemopen(const_cast<char*>(input.data()),
                                           input.size(), "r");
  char* csv_bytes = nullptr;
  std::size_t csv_size = 0;
  std::FILE* out = open_memstream(&csv_bytes, &csv_size);
  if (in == nullptr || out == nullptr)
    fail("a memory stream did not open");

  conversion result;
  {
    column_list columns;
    bool name_too_long = false;
    if (all_columns) {
      report_columns found = columns_of(in, buffer_size);
      columns = std::move(found.columns);
      name_too_long = found.name_too_long;
      std::rewind(in);
    }
    adif_reader reader = all_columns
                             ? adif_reader(in, columns, buffer_size)
                             : adif_reader(in, skip_unknown, buffer_size);
    qso_record record(all_columns ? columns.size() : field_count);
    csv_writer writer(
        out, all_columns ? output_columns_of(columns) : fixed_columns());
    result.columns = all_columns ? columns.size() : field_count - first_column;
    writer.header();
    while (reader.read_record(record) == read_outcome::record_complete) {
      ++result.records;
      if (!all_columns) {
        const field_slot& call = record.slots[2];
        result.calls.push_back(record.holds(call) ? call.value : std::string());
      }
      if (!writer.row(record))
        fail("a row was not written");
    }
    if (!writer.finish())
      fail("the rows were not flushed");
    const report_summary& report = reader.summary();
    if (result.records > 0 && !report.report_seen)
      fail("a report with records was taken for no report");
    // Read twice unchanged, a report's own columns take every field.
    if (report.changed && !name_too_long)
      fail("an unchanged report was read as changed");
    result.stopped_at_unknown = report.stopped_at_unknown;
    result.messages = report.stop_line;
    result.fields_pending = report.qso_cut_off;
    if (report.count_announced)
      result.announced_count = report.announced_count;
  }
  std::fclose(in);
  result.csv = take(out, csv_bytes, csv_size);
  if (result.stopped_at_unknown == result.messages.empty())
    fail(
        "the reading stopped at an unknown field without its line, or the "
        "reverse");
  return result;
}

void check_rows(const conversion& c) {
  std::size_t rows = 0;
  std::size_t start = 0;
  while (start < c.csv.size()) {
    const std::size_t stop = c.csv.find('\n', start);
    if (stop == std::string::npos)
      fail("the last row has no line end");
    const std::string_view row(c.csv.data() + start, stop - start);
    int separators = 0;
    bool quoted = false;
    for (const char byte : row) {
      if (byte == '"')
        quoted = !quoted;
      else if (byte == ',' && !quoted)
        ++separators;
    }
    if (separators + 1 !=
            static_cast<int>(std::max<std::size_t>(c.columns, 1)) ||
        quoted)
      fail("a row does not have one column for each field");
    if (rows > 0 && !c.calls.empty()) {
      const std::string& call = c.calls[rows - 1];
      if (call.find_first_of(",\"") == std::string::npos &&
          (row.size() <= call.size() ||
           row.compare(0, call.size(), call) != 0 || row[call.size()] != ','))
        fail("a plain call sign was not written unchanged");
    }
    ++rows;
    start = stop + 1;
  }
  if (rows != c.records + 1)
    fail("rows and complete records differ in number");
}

// Every block the reader could scan, at every offset and as long as the
// bytes allow, must give the same marks from both scans.
void check_scans_agree(const std::string& input) {
  for (std::size_t at = 0; at < input.size(); ++at) {
    const std::size_t count = std::min(scan_width, input.size() - at);
    const line_marks in_use = find_line_marks(input.data() + at, count);
    const line_marks portable =
        find_line_marks_portable(input.data() + at, count);
    if (in_use.text_ends != portable.text_ends ||
        in_use.value_starts != portable.value_starts)
      fail("the line scans found different line and text ends");
  }
}

std::string with_cr_lf(const std::string& input) {
  std::string changed;
  changed.reserve(input.size() * 2);
  for (const char byte : input) {
    if (byte == '\n')
      changed += '\r';
    changed += byte;
  }
  return changed;
}

void check_input(const std::uint8_t* data, std::size_t size) {
  // The first byte picks a small reader buffer, so that short inputs take
  // the refill and growth paths; the rest is the report.
  if (size == 0)
    return;
  const std::size_t small_buffer = 1 + data[0] % 32;
  const std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);
  check_scans_agree(input);
  // The default reading, with skip_unknown, and with every field a column.
  for (const int mode : {0, 1, 2}) {
    const bool skip_unknown = mode == 1;
    const bool all_columns = mode == 2;
    const conversion lf =
        convert(input, skip_unknown, initial_buffer_size, all_columns);
    check_rows(lf);
    const conversion small =
        convert(input, skip_unknown, small_buffer, all_columns);
    if (small.csv != lf.csv || small.messages != lf.messages ||
        small.fields_pending != lf.fields_pending ||
        small.announced_count != lf.announced_count)
      fail("the reader's buffer size changed what was read");
    const conversion crlf =
        convert(with_cr_lf(input), skip_unknown, small_buffer, all_columns);
    if (crlf.csv != lf.csv || crlf.messages != lf.messages ||
        crlf.fields_pending != lf.fields_pending ||
        crlf.announced_count != lf.announced_count)
      fail("CR LF line ends read differently from line feeds");
  }
}

}  // namespace
}  // namespace qsoflat

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  qsoflat::check_input(data, size);
  return 0;
}
