// The functions of libxlsxwriter that the .xlsx writer and the award sheets
// call, and those of zlib that the workbook is read back with, as one table.
// Linux loads the libraries only when an .xlsx is written, since loading
// libxlsxwriter and the libcrypto it needs would cost every CSV run
// (CONTRIBUTING, Speed and memory). The Windows programs have both linked
// in.
#ifndef QSOFLAT_ROWS_XLSX_LIBRARY_H_
#define QSOFLAT_ROWS_XLSX_LIBRARY_H_

#include <xlsxwriter.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <new>

namespace qsoflat {

struct xlsx_library {
  decltype(&::workbook_new_opt) workbook_new_opt;
  decltype(&::workbook_add_format) workbook_add_format;
  decltype(&::workbook_add_worksheet) workbook_add_worksheet;
  decltype(&::workbook_close) workbook_close;
  decltype(&::lxw_workbook_free) lxw_workbook_free;
  decltype(&::worksheet_autofilter) worksheet_autofilter;
  decltype(&::worksheet_freeze_panes) worksheet_freeze_panes;
  decltype(&::worksheet_set_column) worksheet_set_column;
  decltype(&::worksheet_write_number) worksheet_write_number;
  decltype(&::worksheet_write_string) worksheet_write_string;
  decltype(&::format_set_bold) format_set_bold;
  decltype(&::format_set_num_format) format_set_num_format;
  decltype(&::format_set_num_format_index) format_set_num_format_index;
  decltype(&::format_set_bg_color) format_set_bg_color;
  decltype(&::format_set_pattern) format_set_pattern;
  decltype(&::format_set_align) format_set_align;
  // Writes the last row that a sheet holds in memory to its row file.
  decltype(&::lxw_worksheet_write_single_row) lxw_worksheet_write_single_row;
  decltype(&::inflateInit2_) inflateInit2_;
  decltype(&::inflate) inflate;
  decltype(&::inflateEnd) inflateEnd;
  decltype(&::crc32) crc32;
};

// The library's functions, loaded on the first call; null where it cannot
// be loaded, after a line on standard error that says why.
const xlsx_library* xlsx_library_functions();

// Whether a call of the library succeeded. Memory that ran out throws
// std::bad_alloc, so that it is reported as the rest of the program reports
// it; any other failure is the caller's to record.
inline bool library_ok(lxw_error error) {
  if (error == LXW_ERROR_MEMORY_MALLOC_FAILED)
    throw std::bad_alloc();
  return error == LXW_NO_ERROR;
}

// A new format of the workbook; memory that runs out throws std::bad_alloc.
inline lxw_format* new_format(const xlsx_library& library, lxw_workbook* book) {
  lxw_format* format = library.workbook_add_format(book);
  if (format == nullptr)
    throw std::bad_alloc();
  return format;
}

// The bytes of a file that the library wrote, once its stream is flushed;
// 0 where the system cannot tell.
std::uint64_t written_size(std::FILE* file);

// Opens the file that the library wrote, to read it from its start:
// through written, a stream open on it, where one is given (Windows lets
// nothing else read the output's staged file), else by its name (UTF-8).
// Null where it cannot be opened.
std::FILE* open_to_read_back(const char* name, std::FILE* written);

}  // namespace qsoflat

#endif  // QSOFLAT_ROWS_XLSX_LIBRARY_H_
