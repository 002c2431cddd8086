#include <dlfcn.h>
#include <sys/stat.h>

#include <cstdio>

#include "rows/xlsx_library.h"

namespace qsoflat {

namespace {

template <typename Function>
bool take(void* library, const char* name, Function& function) {
  function = reinterpret_cast<Function>(dlsym(library, name));
  return function != nullptr;
}

// zlib by its name since its first release. It is taken from the copy that
// libxlsxwriter has already loaded rather than linked in, so that a CSV run
// does not load it.
constexpr char zlib_name[] = "libz.so.1";

// The library by the name its package installs it under, which the build
// takes from the library it found.
const xlsx_library* load() {
  static xlsx_library functions;
  void* const library =
      dlopen(QSOFLAT_XLSXWRITER_SONAME, RTLD_NOW | RTLD_LOCAL);
  void* const zlib =
      library != nullptr ? dlopen(zlib_name, RTLD_NOW | RTLD_LOCAL) : nullptr;
#define QSOFLAT_TAKE(name) take(library, #name, functions.name)
#define QSOFLAT_TAKE_ZLIB(name) take(zlib, #name, functions.name)
  if (zlib != nullptr && QSOFLAT_TAKE(workbook_new_opt) &&
      QSOFLAT_TAKE(workbook_add_format) &&
      QSOFLAT_TAKE(workbook_add_worksheet) && QSOFLAT_TAKE(workbook_close) &&
      QSOFLAT_TAKE(lxw_workbook_free) && QSOFLAT_TAKE(worksheet_autofilter) &&
      QSOFLAT_TAKE(worksheet_freeze_panes) &&
      QSOFLAT_TAKE(worksheet_set_column) &&
      QSOFLAT_TAKE(worksheet_write_number) &&
      QSOFLAT_TAKE(worksheet_write_string) && QSOFLAT_TAKE(format_set_bold) &&
      QSOFLAT_TAKE(format_set_num_format) &&
      QSOFLAT_TAKE(format_set_num_format_index) &&
      QSOFLAT_TAKE(format_set_bg_color) && QSOFLAT_TAKE(format_set_pattern) &&
      QSOFLAT_TAKE(format_set_align) &&
      QSOFLAT_TAKE(lxw_worksheet_write_single_row) &&
      QSOFLAT_TAKE_ZLIB(inflateInit2_) && QSOFLAT_TAKE_ZLIB(inflate) &&
      QSOFLAT_TAKE_ZLIB(inflateEnd) && QSOFLAT_TAKE_ZLIB(crc32))
    return &functions;
#undef QSOFLAT_TAKE
#undef QSOFLAT_TAKE_ZLIB
  const char* const why = dlerror();
  (void)std::fprintf(stderr, "Could not load libxlsxwriter: %s\n",
                     why != nullptr ? why : QSOFLAT_XLSXWRITER_SONAME);
  return nullptr;
}

}  // namespace

const xlsx_library* xlsx_library_functions() {
  static const xlsx_library* const functions = load();
  return functions;
}

std::FILE* open_to_read_back(const char* name, std::FILE* /*written*/) {
  return std::fopen(name, "rb");
}

std::uint64_t written_size(std::FILE* file) {
  struct stat status {};
  return fstat(fileno(file), &status) == 0
             ? static_cast<std::uint64_t>(status.st_size)
             : 0;
}

}  // namespace qsoflat
