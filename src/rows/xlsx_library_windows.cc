#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdint>

#include "rows/xlsx_library.h"

// The library's own opening of a file by its UTF-8 name, in
// cmake/xlsxwriter/utf8_names.cc.
extern "C" std::FILE* qsoflat_fopen(const char* name, const char* mode);

namespace qsoflat {

// The Windows programs have the library linked in, so that each is one
// file.
const xlsx_library* xlsx_library_functions() {
  static const xlsx_library functions = {workbook_new_opt,
                                         workbook_add_format,
                                         workbook_add_worksheet,
                                         workbook_close,
                                         lxw_workbook_free,
                                         worksheet_autofilter,
                                         worksheet_freeze_panes,
                                         worksheet_set_column,
                                         worksheet_write_number,
                                         worksheet_write_string,
                                         format_set_bold,
                                         format_set_num_format,
                                         format_set_num_format_index,
                                         format_set_bg_color,
                                         format_set_pattern,
                                         format_set_align,
                                         lxw_worksheet_write_single_row,
                                         inflateInit2_,
                                         inflate,
                                         inflateEnd,
                                         crc32};
  return &functions;
}

// The output's staged file shares no reading with other handles, so it is
// read through a copy of the stream's own handle, which the output opens to
// read as well as write.
std::FILE* open_to_read_back(const char* name, std::FILE* written) {
  if (written == nullptr)
    return qsoflat_fopen(name, "rb");
  const HANDLE process = GetCurrentProcess();
  HANDLE copy = nullptr;
  if (DuplicateHandle(
          process, reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(written))),
          process, &copy, 0, FALSE, DUPLICATE_SAME_ACCESS) == 0)
    return nullptr;
  const int descriptor =
      _open_osfhandle(reinterpret_cast<intptr_t>(copy), _O_RDONLY | _O_BINARY);
  if (descriptor < 0) {
    (void)CloseHandle(copy);
    return nullptr;
  }
  std::FILE* const file = _fdopen(descriptor, "rb");
  if (file == nullptr)
    (void)_close(descriptor);
  // The two handles share their place in the file.
  if (file != nullptr && std::fseek(file, 0, SEEK_SET) != 0) {
    (void)std::fclose(file);
    return nullptr;
  }
  return file;
}

std::uint64_t written_size(std::FILE* file) {
  const long long size = _filelengthi64(_fileno(file));
  return size > 0 ? static_cast<std::uint64_t>(size) : 0;
}

}  // namespace qsoflat
