#include "awards/award_tally.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace qsoflat {
namespace {

template <typename T>
std::string joined(const std::vector<T>& items, std::string_view separator) {
  std::string out;
  for (const T& item : items) {
    if (!out.empty())
      out += separator;
    if constexpr (std::is_same_v<T, std::string>) {
      out += item;
    } else {
      out += std::to_string(item);
    }
  }
  return out;
}

// A row's marks as one letter a column: C, W, or "." for none.
std::string marks_text(const award_row& row) {
  std::string out;
  for (award_mark m : row.marks)
    out += m == award_mark::confirmed ? 'C'
           : m == award_mark::worked  ? 'W'
                                      : '.';
  return out;
}

TEST(AwardTally, CountsEachSlotByModeGroupAndBand) {
  award_tally tally;
  // DXCC, COUNTRY, STATE, CQZ, GRIDSQUARE, VUCC_GRIDS, BAND, mode group,
  // QSL_RCVD.
  const award_qso qsos[] = {
      {"001", "CANADA", "", "05", "", "", "20m", "CW", "N"},
      {"1", "CANADA", "", "5", "", "", "20M", "cw", "Y"},  // W turned C
      {"00000000291", "", "WA", "03", "CN87", "dn06, DN07", "2M", "DATA", "V"},
      {"291", "USA", "dc", "04", "fm18ab", "", "6m", "PHONE", "N"},
      {"6", "ALASKA", "AK", "01", "BP51", "", "40M", "IMAGE", "Y"},
      {"2", "ABU AIL IS.", "", "", "", "", "40M", "CW", "Y"},  // deleted
      {"999", "NEWLAND", "", "41", "", "", "FOO", "PHONE", "N"},
      {"999", "", "", "", "", "", "", "", "N"},
      {"0998", "", "NY", "", "FN20", "", "8M", "DATA", "N"},
      {"0", "", "CA", "", "AS00", "", "2M", "CW", "Y"},
      {"12x", "", "", "", "", "", "20M", "CW", "Y"},
  };
  for (const award_qso& q : qsos)
    tally.add(q);
  const auto sheets = tally.sheets();

  struct sheet_case {
    std::string_view columns;
    std::size_t rows;
    std::string_view confirmed, worked, summary;
  };
  const sheet_case sheet_cases[] = {
      {"Mixed CW PHONE DATA IMAGE 40M 20M 8M 6M 2M FOO", 343,
       "3 1 0 1 1 1 1 0 0 1 0", "5 1 2 2 1 1 1 1 1 1 1",
       "DXCC: 3 confirmed, 5 worked of 342"},
      {"Mixed PHONE DATA IMAGE 40M 6M 2M", 50, "2 0 1 1 1 0 1", "3 1 1 1 1 1 1",
       "WAS: 2 confirmed, 3 worked of 50"},
      {"Mixed CW PHONE DATA IMAGE 40M 20M 6M 2M", 40, "3 1 0 1 1 1 1 0 1",
       "4 1 1 1 1 1 1 1 1", "WAZ: 3 confirmed, 4 worked of 40"},
      {"Mixed PHONE DATA 6M 2M", 3, "2 0 2 0 2", "3 1 2 1 2",
       "VUCC 6M: 0 confirmed, 1 worked grids\n"
       "VUCC 2M: 2 confirmed, 2 worked grids"},
  };
  for (std::size_t s = 0; s < sheets.size(); ++s) {
    SCOPED_TRACE(sheets[s].name);
    const sheet_case& c = sheet_cases[s];
    EXPECT_EQ(joined(sheets[s].count_columns, " "), c.columns);
    EXPECT_EQ(sheets[s].rows.size(), c.rows);
    EXPECT_EQ(joined(sheets[s].confirmed, " "), c.confirmed);
    EXPECT_EQ(joined(sheets[s].worked, " "), c.worked);
    EXPECT_EQ(joined(award_summary(sheets[s]), "\n"), c.summary);
  }

  // A row's own columns joined by "|"; at is its index, or -1 for anywhere.
  struct slot_case {
    std::size_t sheet;
    int at;
    std::string_view own, marks;
  };
  const slot_case slot_cases[] = {
      {0, 0, "3|AFGHANISTAN", "..........."},
      {0, -1, "1|CANADA", "CC....C...."},
      {0, -1, "291|UNITED STATES OF AMERICA", "C.WC....WC."},
      {0, -1, "6|ALASKA", "C...CC....."},
      {0, 340, "998|DXCC 998", "W..W...W..."},
      {0, 341, "999|NEWLAND", "W.W.......W"},
      {0, 342, "2|ABU AIL IS. (deleted)", "CC...C....."},
      {1, 1, "AL|Alabama", "......."},
      {1, -1, "MD|Maryland", "WW...W."},
      {1, -1, "WA|Washington", "C.C...C"},
      {1, -1, "AK|Alaska", "C..CC.."},
      {2, 3, "4", "W.W....W."},
      {2, 4, "5", "CC....C.."},
      {3, 0, "DN06", "C.C.C"},
      {3, 1, "DN07", "C.C.C"},
      {3, 2, "FM18", "WW.W."},
  };
  for (const slot_case& c : slot_cases) {
    SCOPED_TRACE(c.own);
    const std::vector<award_row>& rows = sheets[c.sheet].rows;
    auto row = std::find_if(rows.begin(), rows.end(), [&](const award_row& r) {
      return joined(r.own, "|") == c.own;
    });
    ASSERT_NE(row, rows.end());
    if (c.at >= 0) {
      EXPECT_EQ(row - rows.begin(), c.at);
    }
    EXPECT_EQ(marks_text(*row), c.marks);
    EXPECT_EQ(row->counted, c.own.find("(deleted)") == std::string_view::npos);
  }
}

TEST(AwardTally, SaysWhatAReportWithoutDetailsLacks) {
  award_tally tally;
  tally.add({"", "", "", "", "", "", "20M", "CW", "Y"});
  for (const award_sheet& sheet : tally.sheets()) {
    SCOPED_TRACE(sheet.name);
    EXPECT_NE(sheet.nothing_to_count.find("QSL details"), std::string::npos);
    EXPECT_TRUE(sheet.rows.empty());
    EXPECT_EQ(award_summary(sheet),
              std::vector<std::string>{std::string(sheet.nothing_to_count)});
  }
}

}  // namespace
}  // namespace qsoflat
