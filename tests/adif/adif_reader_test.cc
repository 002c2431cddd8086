#include "adif/adif_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "support/test_files.h"

namespace qsoflat {

namespace {

using namespace std::string_literals;

const std::string owncall = "<APP_LoTW_OWNCALL:6>N0CALL\n";

struct reading {
  std::vector<std::string> records;  // output slots as "NAME=value;"
  std::string messages;
};

// How a test reads: the reader, made over an input with a buffer size, and
// the columns whose slots its records fill.
struct read_as {
  std::function<adif_reader(std::FILE*, std::size_t)> reader;
  output_columns columns;
};

read_as by_table(bool skip_unknown) {
  return {[skip_unknown](std::FILE* in, std::size_t buffer_size) {
            return adif_reader(in, skip_unknown, buffer_size);
          },
          fixed_columns()};
}

read_as by_columns(const column_list& list) {
  return {[&list](std::FILE* in, std::size_t buffer_size) {
            return adif_reader(in, list, buffer_size);
          },
          output_columns_of(list)};
}

// Reads the whole input as the run does.
reading read_all(const std::string& input,
                 std::size_t buffer_size = initial_buffer_size,
                 const read_as& as = by_table(false)) {
  std::FILE* in = file_holding(input);
  adif_reader reader = as.reader(in, buffer_size);
  qso_record record(as.columns.slot_count());
  reading result;
  while (reader.read_record(record) == read_outcome::record_complete) {
    std::string text;
    for (std::size_t i = 0; i < as.columns.columns.size(); ++i) {
      const field_slot& slot = record.slots[as.columns.first_slot + i];
      if (record.holds(slot))
        text += as.columns.columns[i].name + "=" + slot.value + ";";
    }
    result.records.push_back(text);
  }
  EXPECT_EQ(reader.read_record(record), read_outcome::input_finished);
  // The run shows the line that ended the reading so.
  const report_summary& report = reader.summary();
  if (report.stopped_at_unknown)
    result.messages = "Unrecognized ADIF field " + report.stop_line + "\n";
  // As the run tells it: a reading that stopped never got to the end.
  if (report.qso_cut_off && !report.stopped_at_unknown)
    result.messages += "cut off\n";
  if (report.changed)
    result.messages += "changed\n";
  if (report.count_announced)
    result.messages += "count " + std::to_string(report.announced_count) + "\n";
  std::fclose(in);
  return result;
}

struct reader_case {
  const char* what;
  std::string input;
  std::vector<std::string> records;
  std::string messages;
};

const std::string long_value(100000, 'x');

const reader_case reader_cases[] = {
    {"header lines are skipped",
     "Status report header\n<PROGRAMID:4>LoTW\n<eoh>\n\n" + owncall +
         "<CALL:5>Q1AAA\n<eor>\n",
     {"CALL=Q1AAA;"},
     ""},
    {"empty and CR-only lines are skipped, and CRs that start a line",
     "\r\n\r\r\n" + owncall + "\n\r\n<CALL:5>Q1AAA\r\n\r\r\n\r\r<eor>\n\r",
     {"CALL=Q1AAA;"},
     ""},
    {"length in the tag is not read",
     owncall + "<CALL:3>Q1AAA\n<eor>\n",
     {"CALL=Q1AAA;"},
     ""},
    {"value is the rest of the line",
     owncall + "<CALL:5>Q1AAA <BAND:3>20M\n<STATE:2>MO // Missouri\n<eor>\n",
     {"CALL=Q1AAA <BAND:3>20M;STATE=MO // Missouri;"},
     ""},
    {"longer names match their prefix",
     owncall + "<QSO_DATE:8>20121003\n<QSO_DATE_OFF:8>20121004\n<BAND_RX:3>"
               "20M\n<QSL_RCVD_VIA:1>E\n<eor>\n",
     {"BAND=20M;QSO_DATE=20121004;QSL_RCVD=E;"},
     ""},
    {"a field repeated keeps its last value",
     owncall + "<CALL:1>A\n<CALL:1>B\n<eor>\n",
     {"CALL=B;"},
     ""},
    {"empty records and header-phase eor",
     "<eor>\n" + owncall + "<eor>\n",
     {"", ""},
     ""},
    {"header fields go into the first record",
     "<CALL:1>A\n<eoh>\n" + owncall + "<BAND:2>6M\n<eor>\n<eor>\n",
     {"CALL=A;BAND=6M;", ""},
     ""},
    {"empty value is a value", owncall + "<CNTY:0>\n<eor>\n", {"CNTY=;"}, ""},
    {"NUL and lone CR end the text",
     owncall + "<CALL:5>Q1\0AA\n<BAND:3>20\rM\n<eor>\n"s,
     {"CALL=Q1;BAND=20;"},
     ""},
    {"unknown header lines never end the reading, nor after a station call",
     "<STATION_CALLSIGN:1>S\n <CALL:1>A\n<call:1>a\n<EOR>\n<eor> \n  "
     "\t\n<CALL\n<BAND\r>20M\n" +
         owncall + "<eor>\n",
     {""},
     ""},
    {"TIME_OFF is unknown",
     owncall + "<CALL:1>A\n<eor>\n<TIME_OFF:6>101500\n<eor>\n",
     {"CALL=A;"},
     "Unrecognized ADIF field <TIME_OFF:6>101500\n"},
    {"white space line ends the QSO part",
     owncall + " \t \n<eor>\n",
     {},
     "Unrecognized ADIF field  \t \n"},
    {"upper-case EOR ends the QSO part",
     owncall + "<EOR>\n",
     {},
     "Unrecognized ADIF field <EOR>\n"},
    {"eor with a trailing space ends the QSO part",
     owncall + "<eor> \r\n",
     {},
     "Unrecognized ADIF field <eor> \n"},
    {"a field name without a value ends the QSO part",
     owncall + "<CALL\0>A\n<eor>\n"s,
     {},
     "Unrecognized ADIF field <CALL\n"},
    {"lines after the EOF marker are never read",
     owncall + "<eor>\n<APP_LoTW_EOF>\n<eor>\n<BOGUS>\n",
     {""},
     ""},
    {"last line needs no line feed, and a NUL near the end ends a value",
     owncall + "<CALL:1>\0\n<eor>"s,
     {"CALL=;"},
     ""},
    {"a record cut short is not written, but told",
     owncall + "<CALL:1>A\n<eor>\n<CALL:1>B\n",
     {"CALL=A;"},
     "cut off\n"},
    {"empty input", "", {}, ""},
    {"the first count line counts, in its own case only",
     "<app_lotw_numrec:1>3\n<APP_LoTW_NUMREC:1>2\n<APP_LoTW_NUMREC:1>1\n" +
         owncall + "<eor>\n",
     {""},
     "count 2\n"},
    {"a 60-character line is read whole",
     owncall + "<STATE:2>MO // Moskovskaya oblast' (Moscow Oblast) x\n<eor>\n",
     {"STATE=MO // Moskovskaya oblast' (Moscow Oblast) x;"},
     ""},
    {"a line longer than the buffer is read whole",
     owncall + "<CALL:1>" + long_value + "\r\n<eor>\r\n",
     {"CALL=" + long_value + ";"},
     ""},
    {"long lines not kept are passed over",
     long_value + "\n<APP_LoTW_NUMREC:1>" + long_value + "\n\r" + long_value +
         "\n" + owncall + "\0"s + long_value + "\n<CALL:1>A\r" + long_value +
         "\n" + std::string(100000, '\r') + "<eor>\n",
     {"CALL=A;"},
     "count 0\n"},
    {"a long tag before its value is read by its head, and a long field line "
     "without a value is skipped",
     "<CALL:" + long_value + ">Q1AAA\n<CALL:5 " + long_value + "\n" + owncall +
         "<eor>\n",
     {"CALL=Q1AAA;"},
     ""},
    {"a long unknown line after the own call is shown whole, the count line "
     "too",
     owncall + "<eor>\n<APP_LoTW_NUMREC:" + long_value + ">1\n",
     {""},
     "Unrecognized ADIF field <APP_LoTW_NUMREC:" + long_value +
         ">1\ncount 1\n"},
};

// With skip_unknown: exact names in any case, markers in any case, and
// the comment cut where the stated length ends the value.
const reader_case skip_unknown_cases[] = {
    {"only exact names count, in any case",
     owncall +
         "<BAND:4>23CM\n<BAND_RX:4>13CM\n<QSO_DATE:8>20260126\n<QSO_DATE_OFF:8>"
         "20260127\n<QSL_RCVD_VIA:1>E\n<call:5>q1aaa\n<Qsl_Rcvd:1>Y\n<eor>\n",
     {"CALL=q1aaa;BAND=23CM;QSO_DATE=20260126;QSL_RCVD=Y;"},
     ""},
    {"unknown lines are skipped after the own call",
     owncall + "<MY_DXCC:2>54\n<CALL:1>A\n<FREQ_RX:10>2380.04050\n<eor> \n "
               "<BAND:2>6M\n<CALL>B\n<BAND>x:y\n<:1>x\n<BAND\n<eor>\n",
     {"CALL=A;"},
     ""},
    {"markers in any case",
     owncall + "<CALL:1>A\n<EOR>\n<CALL:1>B\n<Eor>\n<app_lotw_eof>\n<CALL:1>"
               "C\n<eor>\n",
     {"CALL=A;", "CALL=B;"},
     ""},
    {"long unknown lines are passed over, and of a tag only its first 64 bytes "
     "read",
     owncall + "<MY_CNTY:9>" + long_value + "\n<CALL:1>A\n<CALL:" + long_value +
         ">B\n<BAND:5 " + long_value + "\n<CNTY:" + std::string(58, '0') +
         "10>AL,CULLMAN // x\n<eor>\n",
     {"CALL=B;CNTY=AL,CULLMAN // x;"},
     ""},
    {"the comment is cut at the stated length, and only before \" //\"",
     owncall + "<STATE:2>TX // Texas\n<CNTY:10>AL,CULLMAN // "
               "Cullman\n<QSLRDATE:8:D>20260127 // x\n<PFX:2>K1 //\n<ITUZ:1>7 "
               "/x\n<eor>\n",
     {"QSLRDATE=20260127;PFX=K1;ITUZ=7 /x;STATE=TX;CNTY=AL,CULLMAN;"},
     ""},
    {"a length that disagrees keeps the value whole",
     owncall +
         "<STATE:3>TX // Texas\n<CNTY:99>AL,CULLMAN // Cullman\n<CALL:2x>Q1 // "
         "a\n<BAND:>6M // b\n<MODE:99999999999999999999999>FT8 // "
         "c\n<PFX:2>K1//\n<IOTA:6>EU-031\n<eor>\n",
     {"CALL=Q1 // a;BAND=6M // b;MODE=FT8 // c;PFX=K1//;IOTA=EU-031;STATE=TX "
      "// Texas;CNTY=AL,CULLMAN // Cullman;"},
     ""},
};

// The columns the reading with columns takes: more than the fixed table's
// fields, so that a column's index is no field's.
const std::string chosen =
    "F0,F1,F2,F3,F4,F5,F6,F7,F8,F9,F10,F11,F12,F13,F14,F15,F16,F17,"
    "CALL,qso_date,APP_LoTW_OWNCALL,APP_LoTW_NUMREC,STATE,"
    "A23456789012345678901234567890123456789012345678901234567890Z";

// With chosen columns: the same rules as with skip_unknown for the columns'
// names, and the header's fields left out.
const reader_case column_cases[] = {
    {"the header's fields are left out, and every column is taken",
     "<CALL:1>H\n<APP_LoTW_NUMREC:1>2\n<EOH>\n" + owncall +
         "<call:1>A\n<QSO_DATE_OFF:8>20121004\n<Qso_Date:8>20121003\n<MY_DXCC:"
         "3>291\n<STATE:2>MO // Missouri\n<eor>\n<CALL:1>B\n<eoh>\n<eor>\n",
     {"CALL=A;qso_date=20121003;APP_LoTW_OWNCALL=N0CALL;STATE=MO;", "CALL=B;"},
     "count 2\n"},
    {"without an <eoh> before the first QSO's end, no header",
     "<CALL:1>A\n<eor>\n<eoh>\n<CALL:1>B\n<eor>\n",
     {"CALL=A;", "CALL=B;"},
     ""},
    {"a QSO cut off is one whatever fields it holds, long ones too",
     "<eoh>\n<CALL:1>A\n<eor>\n<BAND:3>40M\n<NOTES:" +
         std::to_string(long_value.size()) + ">" + long_value + "\n",
     {"CALL=A;"},
     "cut off\n"},
    {"a QSO cut off by a long field line alone",
     "<eoh>\n<CALL:1>A\n<eor>\n<NOTES:" + std::to_string(long_value.size()) +
         ">" + long_value + "\n",
     {"CALL=A;"},
     "cut off\n"},
    {"fields that only <APP_LoTW_EOF> follows are a header, not a QSO",
     "ARRL Logbook of the World Status "
     "Report\n<CALL:4>LoTW\n<PROGRAMID:4>LoTW\n<app_lotw_eof>\n",
     {},
     ""},
    {"the longest name, long lines, and a name too long",
     "<A23456789012345678901234567890123456789012345678901234567890Z:1>x\n<"
     "A23456789012345678901234567890123456789012345678901234567890ZZ:1>y\n<MY_"
     "CNTY:9>" +
         long_value + "\n<STATE:" + std::to_string(long_value.size()) + ">" +
         long_value + " // x\n<eor>\n",
     {"STATE=" + long_value +
      ";A23456789012345678901234567890123456789012345678901234567890Z=x;"},
     ""},
};

void check_table(const reader_case* first, const reader_case* last,
                 const read_as& as) {
  for (const reader_case* c = first; c != last; ++c) {
    SCOPED_TRACE(c->what);
    // A tiny buffer makes every line straddle refills and growth.
    for (const std::size_t size :
         {initial_buffer_size, std::size_t{1}, std::size_t{7}}) {
      const reading got = read_all(c->input, size, as);
      EXPECT_EQ(got.records, c->records) << size;
      EXPECT_EQ(got.messages, c->messages) << size;
    }
  }
}

TEST(ReadRecord, ReadsAsTheTableSays) {
  check_table(std::begin(reader_cases), std::end(reader_cases),
              by_table(false));
}

TEST(ReadRecord, SkipsUnknownFieldsAsTheTableSays) {
  check_table(std::begin(skip_unknown_cases), std::end(skip_unknown_cases),
              by_table(true));
}

TEST(ReadRecord, ReadsChosenColumnsAsTheTableSays) {
  column_list columns;
  std::string bad_name;
  ASSERT_TRUE(parse_column_list(chosen, columns, bad_name)) << bad_name;
  check_table(std::begin(column_cases), std::end(column_cases),
              by_columns(columns));
}

// The columns of every field after the header, named as first written, in
// the order each first comes, each named by its tag in any case; a long
// line's name counts too. A name too long for a column is marked "!" after
// them.
TEST(ColumnsOf, FindsEveryFieldOfTheQsos) {
  const std::string name_62 =
      "A23456789012345678901234567890123456789012345678901234567890ZZ";
  // More fields than are walked by their first byte, then again in
  // reverse and in lower case, which are found through the hash; names of
  // seven bytes and of a whole word of eight.
  std::string many, again, many_names;
  for (int i = 0; i < 40; ++i) {
    many += "<FIELD_" + std::to_string(i) + ":1>x\n";
    again = "<field_" + std::to_string(i) + ":1>x\n" + again;
    many_names += "FIELD_" + std::to_string(i) + ",";
  }
  const struct {
    std::string input;
    std::string names;
  } cases[] = {
      {"<eoh>\n" + many + "<eor>\n" + again + "<eor>\n", many_names},
      {"<PROGRAMID:4>LoTW\n<eoh>\n<CALL:1>A\n<Band:3>20M\n<eor>\n<BAND:3>40M\n<"
       "X-Y:1>z\n<C:1\n<:1>x\n<MODE>x\nQSL:1>x\n<COUNTRY:" +
           std::to_string(long_value.size()) + ">" + long_value +
           "\n<eor>\n<APP_LoTW_EOF>\n<AFTER:1>x\n",
       "CALL,Band,COUNTRY,"},
      {"<PROGRAMID:4>LoTW\n<eor>\n<eoh>\n<CALL:1>A\n", "PROGRAMID,CALL,"},
      {"<PROGRAMID:4>LoTW\n", "PROGRAMID,"},
      // A complete empty download, without "<eoh>", has a header alone.
      {"ARRL Logbook of the World Status "
       "Report\n<PROGRAMID:4>LoTW\n<app_lotw_eof>\n",
       ""},
      // The longest name; one longer is a header's, or marked.
      {"<" + name_62 + "Z:1>x\n<eoh>\n<" + name_62 + ":1>x\n<eor>\n",
       name_62 + ","},
      {"<eoh>\n<" + name_62 + "ZZZ" + long_value + ":1>x\n<eor>\n", "!"},
      {"<eoh>\n<" + name_62 + "Z:1>x\n<eor>\n", "!"},
  };
  for (const auto& c : cases) {
    for (const std::size_t size : {initial_buffer_size, std::size_t{5}}) {
      std::FILE* in = file_holding(c.input);
      const report_columns found = columns_of(in, size);
      std::fclose(in);
      std::string names;
      for (std::size_t i = 0; i < found.columns.size(); ++i) {
        std::string tag = "<" + std::string(found.columns.name(i)) + ":1";
        std::transform(tag.begin(), tag.end(), tag.begin(), ::tolower);
        EXPECT_EQ(found.columns.match_tag(tag), i) << tag;
        names += std::string(found.columns.name(i)) + ",";
      }
      EXPECT_EQ(names + (found.name_too_long ? "!" : ""), c.names)
          << c.input.substr(0, 40) << " " << size;
    }
  }
}

// The columns of a report, read again after it grew a field that they
// lack, end the reading there; the header's own fields are no change.
TEST(ReadRecord, EndsWhereTheReportChangedSinceItsColumnsWereTaken) {
  const std::string report = "<PROGRAMID:4>LoTW\n<eoh>\n<CALL:1>A\n<eor>\n";
  std::FILE* in = file_holding(report);
  const column_list columns = columns_of(in).columns;
  std::fclose(in);
  const reader_case cases[] = {
      {"the same report", report, {"CALL=A;"}, ""},
      {"a QSO added with a new field",
       report + "<CALL:1>B\n<BAND:3>20M\n<eor>\n<CALL:1>C\n<eor>\n",
       {"CALL=A;"},
       "cut off\nchanged\n"},
  };
  check_table(std::begin(cases), std::end(cases), by_columns(columns));
}

TEST(ReadRecord, KeepsLinesWholeAcrossBufferRefills) {
  // Lines of varying length, so that many of them straddle a refill.
  std::string input = owncall;
  std::vector<std::string> expected;
  for (int i = 0; i < 20000; ++i) {
    const std::string call(static_cast<std::size_t>(1 + i % 97), 'A' + i % 26);
    input += "<CALL:1>" + call + "\r\n<eor>\r\n";
    expected.push_back("CALL=" + call + ";");
  }
  EXPECT_EQ(read_all(input).records, expected);
}

}  // namespace

}  // namespace qsoflat
