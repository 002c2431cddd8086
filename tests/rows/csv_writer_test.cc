#include "rows/csv_writer.h"

#include <gtest/gtest.h>

#include <ctime>
#include <iomanip>
#include <locale>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "support/test_files.h"

namespace qsoflat {

namespace {

using fields = std::vector<std::pair<std::size_t, std::string>>;

// The rows written for the records through one writer, one after the other
// from one record emptied before each, as the reader empties it, after the
// header row when one is asked for.
std::string rows_for(const std::vector<fields>& records, char separator = ',',
                     bool header = false,
                     const output_columns& columns = fixed_columns(),
                     bool iso_dates = false) {
  std::FILE* out = std::tmpfile();
  csv_writer writer(out, columns, iso_dates, separator);
  if (header)
    writer.header();
  qso_record record(columns.slot_count());
  for (const fields& values : records) {
    record.clear();
    for (const auto& [index, value] : values)
      record.set(index, value);
    EXPECT_TRUE(writer.row(record));
  }
  EXPECT_TRUE(writer.finish());
  std::string rows = contents_of(out);
  std::fclose(out);
  return rows;
}

// A row whose only column is the field's, holding the text.
std::string row_with(std::size_t index, const std::string& text,
                     char separator = ',') {
  std::string row;
  for (std::size_t i = 2; i < field_count; ++i)
    row += (i > 2 ? std::string(1, separator) : "") + (i == index ? text : "");
  return row + "\n";
}

// Longer than a chunk of rows, so that it goes to the stream on its own.
const std::string long_text(100000, 'x');

TEST(WriteRecord, FormatsEachKindOfColumn) {
  const struct {
    std::size_t index;
    std::string value;
    std::string column;
  } cases[] = {
      {2, "Q1AAA", "Q1AAA"},
      {4, "SSB,X", "\"SSB,X\""},
      {2, "Q1AAA/P12,",
       "\"Q1AAA/P12,\""},  // the comma in the last eight bytes only
      {4, std::string(100000, '"'), '"' + std::string(200000, '"') + '"'},
      {4, std::string(1000, '"'), '"' + std::string(2000, '"') + '"'},
      {4, long_text, long_text},
      {4, long_text + ",\"", '"' + long_text + ",\"\"\""},
      {16, long_text, '"' + long_text + '"'},
      {5, "20120105" + long_text, "5-Jan-2012"},
      {5, "20121305" + long_text, "20121305" + long_text},
      {6, "1012" + long_text, "1012"},
      {13, "EU-\"005\"", "\"EU-\"\"005\"\"\""},
      {15, "Z\xfcrich; \xc3\xa9t\xc3\xa9 'x'\t",
       "Z\xfcrich; \xc3\xa9t\xc3\xa9 'x'\t"},
      {5, "20120105", "5-Jan-2012"},
      {8, "20120617", "17-Jun-2012"},  // and by the general reading below
      {8, "+20120717", "17-Jul-2012"},
      {8, "20121231", "31-Dec-2012"},
      {5, "120105", "5-Jan-12"},
      {5, "2012-10-13", "2012-10-13"},
      {8, "20121303", "20121303"},
      {5, "20120015", "20120015"},
      {8, "201210:3", "10-Dec-20"},  // eight bytes, not all digits
      {5, "-20121003", "-20121003"},
      {5, "2012,1013", "\"2012,1013\""},
      {5, "", ""},
      {6, "101220", "1012"},
      {6, "000512", "0005"},
      {6, "0930", "0930"},
      {6, "930", "0930"},
      {6, "12:30Z", "0012"},
      {6, "\f\v +0930", "0930"},
      {6, "", "0000"},
      {6, "-5", "-005"},
      {6, "18446744073709551616", "21474836"},  // 2 to the 64th
      {6, "-99999999999", "-21474836"},
      {6, "2147483648", "21474836"},
      {16, "CT,HARTFORD", "\"CT,HARTFORD\""},
      {16, "CT,HART\"FORD", "\"CT,HART\"\"FORD\""},
      {16, "", "\"\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(field_names[c.index].name);
    EXPECT_EQ(rows_for({{{c.index, c.value}}}), row_with(c.index, c.column))
        << c.value;
  }
}

// Another separator quotes the values that hold it, and no longer those
// that hold a comma, but for the county.
TEST(WriteRecord, SeparatesColumnsByTheChosenSeparator) {
  const struct {
    char separator;
    std::size_t index;
    std::string value;
    std::string column;
  } cases[] = {
      {';', 4, "SSB,X", "SSB,X"},
      {';', 4, "SSB;X", "\"SSB;X\""},
      {';', 2, "Q1AAA/P12;", "\"Q1AAA/P12;\""},
      {';', 5, "2012;1013", "\"2012;1013\""},
      {';', 5, "20121003", "3-Oct-2012"},
      {';', 16, "CT,HARTFORD", "\"CT,HARTFORD\""},
      {';', 4, long_text + ";", '"' + long_text + ";\""},
      {'\t', 4, "SSB\tX", "\"SSB\tX\""},
      {'\t', 13, "EU-\"005\",", "\"EU-\"\"005\"\",\""},
      {'\t', 15, "CT,X;Y", "CT,X;Y"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(rows_for({{{c.index, c.value}}}, c.separator),
              row_with(c.index, c.column, c.separator))
        << c.separator << c.value;
  EXPECT_EQ(rows_for({}, ';', true),
            "CALL;BAND;MODE;QSO_DATE;TIME_ON;QSL_RCVD;QSLRDATE;DXCC;PFX;CQZ;"
            "ITUZ;IOTA;GRIDSQUARE;STATE;CNTY\n");
}

// Every month's date reads back as that month in an independent reader,
// as the C library's English month names are.
TEST(FormatDate, WritesEveryMonthAsAReaderReadsIt) {
  for (int month = 1; month <= 12; ++month) {
    char out[32];
    const std::string value = "2012" + std::string(month < 10 ? "0" : "") +
                              std::to_string(month) + "05";
    std::istringstream written(std::string(out, format_date(out, value)));
    written.imbue(std::locale::classic());
    std::tm read{};
    written >> std::get_time(&read, "%d-%b-%Y");
    EXPECT_FALSE(written.fail()) << written.str();
    EXPECT_EQ(read.tm_mon + 1, month) << written.str();
    EXPECT_EQ(read.tm_mday, 5);
    EXPECT_EQ(read.tm_year, 112);
  }
}

// The shortcuts for whole digit runs must write what the general reading
// writes, as the two line scans must find the same marks.
TEST(FormatDateAndTime, ShortcutsAgreeWithTheGeneralReading) {
  std::vector<std::string> values = {"12:30Z",   "1230Z ",   "12 30",   "+930",
                                     "201210:3", "2012-1-3", "-2012100"};
  for (const char* year : {"2012", "0012", "0002", "0000", "9999"})
    for (int month = 0; month <= 13; ++month)
      for (const char* day : {"00", "01", "09", "10", "31", "99"}) {
        const std::string date = year + std::string(month < 10 ? "0" : "") +
                                 std::to_string(month) + day;
        values.push_back(date);
        values.push_back(date + "5");
        values.push_back(date.substr(0, 6));
        values.push_back(date.substr(2, 4));
      }
  for (const std::string& value : values) {
    char fast[64];
    char general[64];
    EXPECT_EQ(std::string(fast, format_date(fast, value)),
              std::string(general, format_date_general(general, value)))
        << value;
    EXPECT_EQ(std::string(fast, format_time(fast, value)),
              std::string(general, format_time_general(general, value)))
        << value;
    EXPECT_EQ(std::string(fast, format_iso_date(fast, value)),
              std::string(general, format_iso_date_general(general, value)))
        << value;
  }
}

TEST(FormatIsoDateAndTime, SplitsTodaysReading) {
  const struct {
    std::string value, date, time;
  } cases[] = {
      {"20121003", "2012-10-03", "2012:10"},
      {"120105", "0012-01-05", "12:01"},
      {"+20121231", "2012-12-31", "2012:12"},
      {"2012-10-13", "2012-10-13", "20:12"},
      {"20121303", "20121303", "2012:13"},
      {"", "", "00:00"},
      {"0930", "0000-09-30", "09:30"},
      {"101220", "0010-12-20", "10:12"},
      {"-5", "-5", "-0:05"},
      {"99999999999", "99999999999", "214748:36"},
  };
  for (const auto& c : cases) {
    char out[64];
    EXPECT_EQ(std::string(out, format_iso_date(out, c.value)), c.date)
        << c.value;
    EXPECT_EQ(std::string(out, format_iso_time(out, c.value)), c.time)
        << c.value;
  }
}

// Chosen columns are written in their order, each by its name's kind, from
// the slots of their indexes; a long value goes straight to the stream, and
// values just short of long grow the buffer within their row.
TEST(WriteRecord, WritesChosenColumnsByTheirKinds) {
  output_columns columns;
  for (const char* name :
       {"Time_Off", "COUNTRY", "qsl_rcvd", "cnty", "LOTW_QSLRDATE", "SAT_NAME"})
    columns.columns.push_back({name, column_kind_of(name)});
  const std::string held_text(60000, 'y');
  const std::vector<fields> records = {
      {{0, "101500"},
       {1, "BOSNIA, HERZEGOVINA"},
       {3, "CT,HARTFORD"},
       {4, "20121013"}},
      {{5, long_text}},
      {{1, held_text}, {3, held_text}},
  };
  for (const bool iso : {false, true})
    EXPECT_EQ(rows_for(records, ',', true, columns, iso),
              "Time_Off,COUNTRY,qsl_rcvd,cnty,LOTW_QSLRDATE,SAT_NAME\n" +
                  std::string(iso ? "10:15" : "1015") +
                  ",\"BOSNIA, HERZEGOVINA\",,\"CT,HARTFORD\"," +
                  (iso ? "2012-10-13" : "13-Oct-2012") + ",\n,,,,," +
                  long_text + "\n," + held_text + ",,\"" + held_text +
                  "\",,\n");
  // Long values go out straight, so that a row of them costs the buffer
  // no room of theirs, nor do the slots of the QSO before, which still
  // hold its values.
  std::FILE* out = std::tmpfile();
  csv_writer writer(out, columns);
  qso_record record(columns.slot_count());
  for (const std::size_t i : {1, 3, 5})
    record.set(i, long_text);
  EXPECT_TRUE(writer.row(record));
  record.clear();
  record.set(5, long_text);
  EXPECT_TRUE(writer.row(record));
  EXPECT_LT(writer.held_bytes(), long_text.size());
  std::fclose(out);
}

TEST(WriteRecord, WritesTheWorkedRowAndNoValueOfTheQsoBefore) {
  const fields worked = {
      {0, "N0CALL"},   {1, "N0CALL"},   {2, "Q1AAA"},        {3, "20M"},
      {4, "SSB"},      {5, "20121003"}, {6, "101220"},       {7, "Y"},
      {8, "20121013"}, {9, "291"},      {16, "CT,HARTFORD"},
  };
  const std::string worked_row =
      "Q1AAA,20M,SSB,3-Oct-2012,1012,Y,13-Oct-2012,291,,,,,,,"
      "\"CT,HARTFORD\"\n";
  EXPECT_EQ(rows_for({worked, {}, {{2, "Q1AAA"}}}),
            worked_row + ",,,,,,,,,,,,,,\n" + "Q1AAA,,,,,,,,,,,,,,\n");
  fields with_long = worked;
  with_long.push_back({3, long_text});
  with_long.push_back({15, long_text + ","});
  EXPECT_EQ(rows_for({worked, with_long, {}, worked}),
            worked_row + "Q1AAA," + long_text +
                ",SSB,3-Oct-2012,1012,Y,13-Oct-2012,291,,,,,,\"" + long_text +
                ",\",\"CT,HARTFORD\"\n,,,,,,,,,,,,,,\n" + worked_row);

  // Enough rows to be handed to the stream in several chunks.
  const std::vector<fields> many(5000, worked);
  std::string expected;
  for (std::size_t i = 0; i < many.size(); ++i)
    expected += worked_row;
  EXPECT_EQ(rows_for(many), expected);
}

}  // namespace

}  // namespace qsoflat
