#include <dlfcn.h>

#include <cstdio>

#include "rows/xlsx_library.h"

namespace qsoflat {

namespace {

template <typename Function>
bool take(void* library, const char* name, Function& function) {
  function = reinterpret_cast<Function>(dlsym(library, name));
  return function != nullptr;
}

// The library by the name its package installs it under, which the build
// takes from the library it found.
const xlsx_library* load() {
  static xlsx_library functions;
  void* const library =
      dlopen(QSOFLAT_XLSXWRITER_SONAME, RTLD_NOW | RTLD_LOCAL);
#define QSOFLAT_TAKE(name) take(library, #name, functions.name)
  if (library != nullptr && QSOFLAT_TAKE(workbook_new_opt) &&
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
      QSOFLAT_TAKE(format_set_align))
    return &functions;
#undef QSOFLAT_TAKE
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

}  // namespace qsoflat
