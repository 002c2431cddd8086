#include "rows/xlsx_writer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace qsoflat {

namespace {

namespace fs = std::filesystem;

struct workbook_case {
  std::vector<std::vector<std::pair<std::size_t, std::string>>> records;
  output_columns columns = fixed_columns();
  bool iso_dates = false;
  std::uint32_t sheet_rows = xlsx_sheet_rows;
};

struct written {
  std::optional<std::string> cells;  // none where openpyxl is missing
  std::string note;            // the writer's, once the workbook is written
  std::vector<fs::path> left;  // what stayed in the temporary folder
};

// Writes the records as a workbook in a fresh folder, with the library's
// temporary files in a folder of their own, and reads it back with
// openpyxl through tests/rows/xlsx_check.py.
written write_and_read(const workbook_case& c) {
  static int serial = 0;
  const fs::path root =
      fs::temp_directory_path() / ("qsoflat-xlsx-" + std::to_string(getpid()) +
                                   "-" + std::to_string(++serial));
  fs::remove_all(root);
  fs::create_directories(root / "tmp");
  const std::string file = (root / "out.xlsx").string();
  written result;
  {
    xlsx_writer writer(file.c_str(), (root / "tmp").string().c_str(), c.columns,
                       c.iso_dates, c.sheet_rows);
    writer.header();
    qso_record record(c.columns.slot_count());
    for (const auto& values : c.records) {
      record.clear();
      for (const auto& [index, value] : values)
        record.set(index, value);
      EXPECT_TRUE(writer.row(record));
    }
    EXPECT_TRUE(writer.finish());
    result.note = writer.note();
  }
  for (const auto& entry : fs::directory_iterator(root / "tmp"))
    result.left.push_back(entry.path());
  const std::string command =
      std::string(QSOFLAT_PYTHON) + " " + QSOFLAT_XLSX_CHECK + " " + file;
  std::FILE* pipe = popen(command.c_str(), "r");
  std::string cells;
  char chunk[4096];
  for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;)
    cells.append(chunk, got);
  const int status = pclose(pipe);
  if (!(WIFEXITED(status) && WEXITSTATUS(status) == 77))
    result.cells = cells;
  EXPECT_TRUE(WIFEXITED(status) &&
              (WEXITSTATUS(status) == 0 || WEXITSTATUS(status) == 77))
      << cells;
  fs::remove_all(root);
  return result;
}

// Each value in a row of its own under its column, as the reader finds it:
// its type, number format and value.
TEST(XlsxWriter, WritesEachValueAsACellOfItsKind) {
  const struct {
    std::string column, value, cell;
  } cases[] = {
      {"QSO_DATE", "20121003", "d mm-dd-yy 2012-10-03"},
      {"QSO_DATE", "19000101", "d mm-dd-yy 1900-01-01"},
      {"QSO_DATE", "19000301", "d mm-dd-yy 1900-03-01"},
      {"QSO_DATE", "20000229", "d mm-dd-yy 2000-02-29"},
      {"QSO_DATE", "99991231", "d mm-dd-yy 9999-12-31"},
      {"QSO_DATE", "18991231", "s General 18991231"},
      {"QSO_DATE", "19000229", "s General 19000229"},
      {"QSO_DATE", "20121303", "s General 20121303"},
      {"QSO_DATE", "120105", "s General 120105"},
      {"TIME_ON", "1012", "d hh:mm 10:12:00"},
      {"TIME_ON", "235959", "d hh:mm:ss 23:59:59"},
      {"TIME_ON", "2400", "s General 2400"},
      {"TIME_ON", "930", "s General 930"},
      {"TIME_ON", "101260", "s General 101260"},
      {"FREQ", "14.074", "n General 14.074"},
      {"FREQ", "14.07400", "n 0.00000 14.074"},
      {"FREQ", "-0.5", "n General -0.5"},
      {"CQZ", "04", "n 00 4"},
      {"DXCC", "060", "n 000 60"},
      {"DXCC", "291", "n General 291"},
      {"DXCC", "123456789012345", "n 0 123456789012345"},
      {"DXCC", "1234567890123456", "s General 1234567890123456"},
      {"FREQ", "14,074", "s General 14,074"},
      {"FREQ", "+5", "s General +5"},
      {"FREQ", "-0", "s General -0"},
      {"FREQ", ".5", "s General .5"},
      {"FREQ", "5.", "s General 5."},
      {"CNTY", "CT,HART\"FORD", "s General CT,HART\"FORD"},
      {"CALL", "A&B <c> ", "s General A&B <c> "},
      {"COUNTRY", "\xc3\x85land \xe6\x97\xa5",
       "s General \xc3\x85land \xe6\x97\xa5"},
      {"COUNTRY", "Z\xfcrich \x80\x81\x9f",
       "s General Z\xc3\xbcrich \xe2\x82\xac\xc2\x81\xc5\xb8"},
      {"COUNTRY", "\xef\xbf\xbe", "s General \xc3\xaf\xc2\xbf\xc2\xbe"},
      {"COUNTRY", "\xc0\xaf", "s General \xc3\x80\xc2\xaf"},
      {"COUNTRY", "M\xc3\xbcller\xff", "s General M\xc3\xbcller\xc3\xbf"},
      {"COUNTRY", "\xe0\xa0\x80\xc3", "s General \xe0\xa0\x80\xc3\x83"},
      {"COUNTRY", "_x0041_ _x005F_ _xD83D_ _x0041\x01",
       "s General _x0041_ _x005F_ _xD83D_ _x0041\x01"},
      {"_x0041_", "_x0001_", "s General _x0001_"},
  };
  workbook_case c;
  c.columns = output_columns();
  std::vector<output_column>& columns = c.columns.columns;
  std::string expected;
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    std::size_t column = 0;
    while (column < columns.size() && columns[column].name != cases[i].column)
      ++column;
    if (column == columns.size())
      columns.push_back({cases[i].column, column_kind_of(cases[i].column)});
    c.records.push_back({{column, cases[i].value}});
    expected += static_cast<char>('A' + column) + std::to_string(i + 2) + " " +
                cases[i].cell + "\n";
  }
  const written result = write_and_read(c);
  if (!result.cells)
    GTEST_SKIP() << "openpyxl is not installed";
  const std::string header =
      "sheet QSOs freeze=A2 filter=A1:I38 widths fit\n"
      "A1 s! General QSO_DATE\nB1 s! General TIME_ON\nC1 s! General FREQ\n"
      "D1 s! General CQZ\nE1 s! General DXCC\nF1 s! General CNTY\n"
      "G1 s! General CALL\nH1 s! General COUNTRY\nI1 s! General _x0041_\n";
  EXPECT_EQ(*result.cells, header + expected);
  EXPECT_TRUE(result.left.empty());
}

// Past the row limit the rows go on in the next sheet, each with its
// header; a value longer than a cell holds is cut between characters and
// counted; the 15 columns and ISO dates.
TEST(XlsxWriter, GoesOnInTheNextSheetAndCutsLongValues) {
  const std::string xs(40000, 'x');
  std::string faces;
  for (int i = 0; i < 20000; ++i)
    faces += "\xf0\x9f\x98\x80";  // two UTF-16 units each
  workbook_case c;
  c.iso_dates = true;
  c.sheet_rows = 2;
  c.records = {{{2, "Q1AAA"}, {5, "20121003"}, {9, "291"}},
               {{2, xs}},
               {{16, faces}},
               {{2, ""}},
               {{2, "Q1AAB"}}};
  const written result = write_and_read(c);
  if (!result.cells)
    GTEST_SKIP() << "openpyxl is not installed";
  std::string faces_cut;
  for (int i = 0; i < 16383; ++i)
    faces_cut += "\xf0\x9f\x98\x80";
  const std::string header =
      " widths fit\n"
      "A1 s! General CALL\nB1 s! General BAND\nC1 s! General MODE\n"
      "D1 s! General QSO_DATE\nE1 s! General TIME_ON\nF1 s! General QSL_RCVD\n"
      "G1 s! General QSLRDATE\nH1 s! General DXCC\nI1 s! General PFX\n"
      "J1 s! General CQZ\nK1 s! General ITUZ\nL1 s! General IOTA\n"
      "M1 s! General GRIDSQUARE\nN1 s! General STATE\nO1 s! General CNTY\n";
  EXPECT_EQ(*result.cells,
            "sheet QSOs freeze=A2 filter=A1:O3" + header +
                "A2 s General Q1AAA\nD2 d yyyy-mm-dd 2012-10-03\n"
                "H2 n General 291\nA3 s General " +
                xs.substr(0, 32767) + "\n" +
                "sheet QSOs 2 freeze=A2 filter=A1:O3" + header +
                "O2 s General " + faces_cut + "\n" +
                "sheet QSOs 3 freeze=A2 filter=A1:O2" + header +
                "A2 s General Q1AAB\n");
  EXPECT_EQ(result.note,
            "2 values were longer than a cell holds and were cut to 32,767 "
            "characters; a CSV output keeps them whole\n");
  EXPECT_TRUE(result.left.empty());
}

// A column past the sheet's last fails the header and the workbook, which
// then writes no file, whatever was written before it.
TEST(XlsxWriter, FailsAColumnPastTheSheetsLast) {
  const fs::path root = fs::temp_directory_path() /
                        ("qsoflat-xlsx-wide-" + std::to_string(getpid()));
  fs::create_directories(root);
  output_columns columns;
  for (std::size_t i = 0; i <= xlsx_sheet_columns; ++i)
    columns.columns.push_back({"C" + std::to_string(i), column_kind::plain});
  const fs::path file = root / "wide.xlsx";
  {
    xlsx_writer writer(file.c_str(), root.c_str(), columns);
    writer.header();
    qso_record record(columns.slot_count());
    record.set(0, "Q1AAA");
    EXPECT_FALSE(writer.row(record));
    EXPECT_FALSE(writer.finish());
  }
  EXPECT_FALSE(fs::exists(file));
  fs::remove_all(root);
}

// The rows that openpyxl finds in the workbook, or -1 where it cannot read
// it whole; 0 where openpyxl is missing.
int rows_read_back(const fs::path& file) {
  const std::string command =
      std::string(QSOFLAT_PYTHON) +
      " -c 'import sys\ntry:\n import openpyxl\nexcept ImportError:\n "
      "print(0); sys.exit()\ntry:\n b = openpyxl.load_workbook(sys.argv[1], "
      "read_only=True); print(sum(1 for s in b.worksheets for r in "
      "s.iter_rows()))\nexcept Exception:\n print(-1)' " +
      file.string();
  std::FILE* pipe = popen(command.c_str(), "r");
  int rows = -1;
  if (pipe != nullptr && std::fscanf(pipe, "%d", &rows) != 1)
    rows = -1;
  if (pipe != nullptr)
    (void)pclose(pipe);
  return rows;
}

// A small file system that the rows fill, or the copy of them that the
// library makes as it puts the file together and whose failure it ignores,
// at sizes about what the workbook needs: each run writes a workbook that
// reads back whole, or fails it and leaves no temporary file behind. Values
// that grow fourfold when escaped make the room the copy needs hard to guess.
// The file system is made for the case, where one can be.
TEST(XlsxWriter, IsWholeOrFailsInASmallFileSystem) {
  const fs::path root = fs::temp_directory_path() /
                        ("qsoflat-xlsx-full-" + std::to_string(getpid()));
  const fs::path folder = root / "fs";
  fs::create_directories(folder);
  // Bytes that compress little, so that the file, written after the copy,
  // needs room of its own, and that grow when escaped.
  constexpr char alphabet[] =
      "&<>&<>ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz012345";
  static_assert(sizeof alphabet == 65);
  std::string values(3000 * 300, ' ');
  std::uint32_t seed = 1;
  for (char& c : values) {
    seed = seed * 1103515245 + 12345;
    c = alphabet[seed >> 26];
  }
  int whole = 0;
  int failed = 0;
  // About 1.2 MB of rows, which the copy takes again, then the file: 1 to
  // 3.5 MiB by quarters.
  for (int kib = 1024; kib <= 3584; kib += 256) {
    const std::string mount = "mount -t tmpfs -o size=" + std::to_string(kib) +
                              "k qsoflat-test " + folder.string();
    if (std::system((mount + " 2>/dev/null").c_str()) != 0) {
      fs::remove_all(root);
      GTEST_SKIP() << "no file system could be made: " << mount;
    }
    const fs::path file = folder / "out.xlsx";
    bool finished = false;
    {
      xlsx_writer writer(file.c_str(), folder.c_str(), fixed_columns());
      writer.header();
      qso_record record;
      for (int i = 0; i < 300; ++i) {
        record.clear();
        record.set(first_column, "Q1A" + std::to_string(i));
        record.set(first_column + 2, values.substr(3000 * i, 3000));
        (void)writer.row(record);
      }
      finished = writer.finish();
    }
    if (finished) {
      ++whole;
      const int rows = rows_read_back(file);
      EXPECT_TRUE(rows == 301 || rows == 0) << kib << " KiB: " << rows;
      fs::remove(file);
    } else {
      // The output discards what a failed finish leaves of the file.
      ++failed;
      fs::remove(file);
    }
    EXPECT_TRUE(fs::is_empty(folder)) << kib << " KiB";
    EXPECT_EQ(std::system(("umount " + folder.string()).c_str()), 0);
  }
  EXPECT_GT(whole, 0);
  EXPECT_GT(failed, 0);
  fs::remove_all(root);
}

}  // namespace

}  // namespace qsoflat
