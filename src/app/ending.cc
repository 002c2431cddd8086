#include "app/ending.h"

#include "app/command_line.h"
#include "system/console.h"

namespace qsoflat {

namespace {

// What failed in the conversion, a line each, or nothing.
std::string failures_of(const conversion& done, const std::string& input,
                        std::string_view output_name) {
  std::string messages;
  if (done.out_of_memory)
    messages += "Out of memory\n";
  if (done.input == input_outcome::read_failed)
    messages += "Could not read LoTW file " + input + "\n";
  if (done.input == input_outcome::changed)
    messages += input + " changed while it was read\n";
  if (done.input == input_outcome::name_too_long)
    messages += "Field name too long in " + input + "\n";
  if (done.write_failed)
    messages += "Could not write output file " + printable(output_name) + "\n";
  return messages;
}

// What a conversion in which nothing failed tells. A report cut short, or
// one that holds fewer or more QSOs than it says, was not converted whole,
// though its rows are written; one that stopped at an unknown field was not
// read to its end, which a script must be able to tell from the status.
ending results_of(const conversion& done, const std::string& input,
                  std::string_view output_name) {
  const report_summary& report = done.report;
  if (!report.report_seen)
    return {"No LoTW report found in " + input + "\n"};
  ending end;
  bool whole = !report.stopped_at_unknown;
  if (!report.stopped_at_unknown && report.qso_cut_off) {
    end.messages +=
        "The last QSO in " + input + " has no <eor> line and was not written\n";
    whole = false;
  }
  if (!report.stopped_at_unknown && report.count_announced &&
      report.announced_count != done.qsos) {
    end.messages += input + " announces " +
                    std::to_string(report.announced_count) +
                    " QSOs in APP_LoTW_NUMREC, but holds " +
                    std::to_string(done.qsos) + "\n";
    whole = false;
  }
  end.messages += "Wrote " + std::to_string(done.qsos) + " QSOs to " +
                  printable(output_name) + "\n" + done.award_lines +
                  done.writer_note;
  end.status = whole ? 0 : 1;
  end.stopped_at_unknown = report.stopped_at_unknown;
  return end;
}

}  // namespace

bool keeps_output(const conversion& done) {
  return done.report.report_seen && (done.input == input_outcome::read ||
                                     done.input == input_outcome::read_failed);
}

ending refusal(std::string_view reason) {
  return {std::string(reason) + usage_line};
}

ending ending_of(const conversion& done, std::string_view input_name,
                 std::string_view output_name) {
  const std::string input = printable(input_name);
  std::string stop;
  if (done.report.stopped_at_unknown)
    stop = "Unrecognized ADIF field " + printable(done.report.stop_line) + "\n";
  const std::string failures = failures_of(done, input, output_name);
  if (!failures.empty())
    return {stop + failures};
  ending end = results_of(done, input, output_name);
  end.messages.insert(0, stop);
  return end;
}

}  // namespace qsoflat
