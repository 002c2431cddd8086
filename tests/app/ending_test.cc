#include "app/ending.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace qsoflat {

namespace {

// What a finished conversion tells, from the facts of its reading and
// writing: one row for each outcome, and the combinations whose messages
// come in an order.
TEST(EndingOf, TellsEachOutcomeWithItsStatus) {
  report_summary report;  // a report read whole, which announced 2 QSOs
  report.report_seen = true;
  report.count_announced = true;
  report.announced_count = 2;
  report_summary cut = report;
  cut.qso_cut_off = true;
  report_summary stopped = cut;
  stopped.stopped_at_unknown = true;
  stopped.stop_line = "<MY_DXCC:3>291\x1b";
  const report_summary none;
  const auto facts = [](const report_summary& r, long long qsos,
                        input_outcome input = input_outcome::read,
                        bool out_of_memory = false, bool write_failed = false,
                        std::string note = "") {
    conversion f;
    f.report = r;
    f.qsos = qsos;
    f.input = input;
    f.out_of_memory = out_of_memory;
    f.write_failed = write_failed;
    f.writer_note = std::move(note);
    return f;
  };
  const std::string wrote = "Wrote 2 QSOs to o?.csv\n";
  const struct {
    const char* what;
    conversion facts;
    std::string messages;
    int status;
    bool stopped;
    bool kept;
  } cases[] = {
      {"converted", facts(report, 2), wrote, 0, false, true},
      {"converted, with the writer's note after",
       facts(report, 2, input_outcome::read, false, false,
             "3 values were cut\n"),
       wrote + "3 values were cut\n", 0, false, true},
      {"cut off", facts(cut, 2),
       "The last QSO in r?.adi has no <eor> line and was not written\n" + wrote,
       1, false, true},
      {"count differs", facts(report, 1),
       "r?.adi announces 2 QSOs in APP_LoTW_NUMREC, but holds 1\nWrote 1 QSOs "
       "to o?.csv\n",
       1, false, true},
      {"cut off, and the count differs", facts(cut, 3),
       "The last QSO in r?.adi has no <eor> line and was not written\nr?.adi "
       "announces 2 QSOs in APP_LoTW_NUMREC, but holds 3\nWrote 3 QSOs to "
       "o?.csv\n",
       1, false, true},
      {"stopped at an unknown field: neither cut off nor counted",
       facts(stopped, 1),
       "Unrecognized ADIF field <MY_DXCC:3>291?\nWrote 1 QSOs to o?.csv\n", 1,
       true, true},
      {"read error", facts(report, 2, input_outcome::read_failed),
       "Could not read LoTW file r?.adi\n", 1, false, true},
      {"changed while read", facts(report, 1, input_outcome::changed),
       "r?.adi changed while it was read\n", 1, false, false},
      {"a field name too long", facts(none, 0, input_outcome::name_too_long),
       "Field name too long in r?.adi\n", 1, false, false},
      {"write error", facts(report, 2, input_outcome::read, false, true),
       "Could not write output file o?.csv\n", 1, false, true},
      {"out of memory", facts(report, 1, input_outcome::read, true),
       "Out of memory\n", 1, false, true},
      {"stopped, out of memory, and neither read nor written whole",
       facts(stopped, 1, input_outcome::read_failed, true, true),
       "Unrecognized ADIF field <MY_DXCC:3>291?\nOut of memory\nCould not read "
       "LoTW file r?.adi\nCould not write output file o?.csv\n",
       1, false, true},
      {"no report", facts(none, 0), "No LoTW report found in r?.adi\n", 1,
       false, false},
      {"no report, and a read error",
       facts(none, 0, input_outcome::read_failed),
       "Could not read LoTW file r?.adi\n", 1, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const ending end = ending_of(c.facts, "r\n.adi", "o\x07.csv");
    EXPECT_EQ(end.messages, c.messages);
    EXPECT_EQ(end.status, c.status);
    EXPECT_EQ(end.stopped_at_unknown, c.stopped);
    EXPECT_EQ(keeps_output(c.facts), c.kept);
  }
}

}  // namespace

}  // namespace qsoflat
