// Reads a finished workbook back, to know that it is whole before it takes
// the output's name: the library ignores a failure to write the copy of a
// sheet that it puts in the file, so that only a reading of the file can
// tell a workbook with rows missing from a whole one.
#ifndef QSOFLAT_ROWS_XLSX_READBACK_H_
#define QSOFLAT_ROWS_XLSX_READBACK_H_

#include <cstdint>
#include <cstdio>
#include <vector>

namespace qsoflat {

struct xlsx_library;

// What a sheet was given, which its XML in the workbook must hold.
struct sheet_facts {
  // The bytes of the sheet's rows as the library wrote them to its row
  // file, which the sheet's XML holds whole between <sheetData> and
  // </sheetData>.
  std::uint64_t rows_bytes = 0;
  // The rows that hold a cell, the header row among them, and the number
  // of the last of them, 1 being the header row's; 0 for none.
  std::uint64_t rows = 0;
  std::uint64_t last_row = 0;
};

// Whether the workbook, read from the stream's start to its end, is whole:
// a ZIP archive whose members follow each other from its first byte, each
// inflating to the size and CRC-32 that both its local header and its entry
// in the central directory give, with nothing after the directory's end but
// its comment; each XML member ending in the closing tag of the element it
// begins with; and the sheets xl/worksheets/sheet1.xml and on, one for each
// of sheets, each holding its rows as their facts tell. Memory that runs
// out throws std::bad_alloc.
bool workbook_is_whole(const xlsx_library& library, std::FILE* file,
                       const std::vector<sheet_facts>& sheets);

}  // namespace qsoflat

#endif  // QSOFLAT_ROWS_XLSX_READBACK_H_
