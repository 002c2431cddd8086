// The calls that libxlsxwriter opens its files with, taking UTF-8 names on
// Windows (utf8_names.h says why).
#include "utf8_names.h"

#ifdef _WIN32
#include <windows.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace {

// The wide name for a UTF-8 one; false when it is not valid UTF-8.
bool widen(const char* name, std::wstring* wide) {
  const int length = static_cast<int>(std::strlen(name));
  const int size = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name,
                                       length, nullptr, 0);
  if (size == 0 && length != 0) return false;
  wide->assign(static_cast<std::size_t>(size), L'\0');
  (void)MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name, length,
                            wide->data(), size);
  return true;
}

}  // namespace

extern "C" FILE* qsoflat_fopen(const char* name, const char* mode) {
  std::wstring wide_name;
  std::wstring wide_mode;
  if (!widen(name, &wide_name) || !widen(mode, &wide_mode))
    return fopen(name, mode);
  return _wfopen(wide_name.c_str(), wide_mode.c_str());
}

extern "C" int qsoflat_open(const char* name, int flags, int mode) {
  std::wstring wide;
  if (!widen(name, &wide)) return _open(name, flags, mode);
  return _wopen(wide.c_str(), flags, mode);
}

// The library asks only whether a folder is there, so only the kind is
// told; a struct _wstat would differ from its struct stat by the width of
// its times.
extern "C" int qsoflat_stat(const char* name, struct stat* status) {
  std::wstring wide;
  if (!widen(name, &wide)) return stat(name, status);
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    errno = ENOENT;
    return -1;
  }
  std::memset(status, 0, sizeof *status);
  status->st_mode = static_cast<unsigned short>(
      (attributes & FILE_ATTRIBUTE_DIRECTORY) ? _S_IFDIR : _S_IFREG);
  return 0;
}

#endif
