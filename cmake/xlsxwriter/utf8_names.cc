// The calls that libxlsxwriter opens its files with, taking UTF-8 names on
// Windows (utf8_names.h says why).
#include "utf8_names.h"

#ifdef _WIN32
#include <windows.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "text/utf16.h"

namespace {

// The wide name for a UTF-8 one; false when it is not valid UTF-8, which
// alone does not come back whole from UTF-16.
bool wide_name(const char* name, std::wstring* wide) {
  const std::string_view utf8(name);
  *wide = qsoflat::utf16_of(utf8);
  return qsoflat::utf8_of(*wide) == utf8;
}

// The error number that fopen would give for a system error, for the
// library's message.
int error_number(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return EACCES;
    default:
      return EINVAL;
  }
}

// How a file is opened for an fopen mode.
struct open_mode {
  DWORD access = 0;
  DWORD creation = 0;
  int flags = 0;
};

// The library's modes, "r" or "w" and then "+", "b" or "t" in any order;
// false for any other.
bool mode_of(const char* mode, open_mode* how) {
  bool update = false;
  bool binary = false;
  for (const char* c = mode + 1; *c != '\0'; ++c) {
    if (*c == '+')
      update = true;
    else if (*c == 'b')
      binary = true;
    else if (*c != 't')
      return false;
  }
  switch (mode[0]) {
    case 'r':
      how->access = GENERIC_READ | (update ? GENERIC_WRITE : 0);
      how->creation = OPEN_EXISTING;
      how->flags = update ? _O_RDWR : _O_RDONLY;
      break;
    case 'w':
      how->access = GENERIC_WRITE | (update ? GENERIC_READ : 0);
      how->creation = CREATE_ALWAYS;
      how->flags = update ? _O_RDWR : _O_WRONLY;
      break;
    default:
      return false;
  }
  how->flags |= binary ? _O_BINARY : _O_TEXT;
  return true;
}

}  // namespace

// The file is opened sharing deletion too, which _wfopen cannot ask for:
// the .xlsx is written into the output's staged file, and an interrupting
// console event must be able to remove that file while the library holds
// it open, as it can while the program itself does.
extern "C" FILE* qsoflat_fopen(const char* name, const char* mode) {
  std::wstring wide;
  open_mode how;
  if (!wide_name(name, &wide)) return fopen(name, mode);
  if (!mode_of(mode, &how)) {
    std::wstring wide_mode;
    (void)wide_name(mode, &wide_mode);
    return _wfopen(wide.c_str(), wide_mode.c_str());
  }
  const HANDLE handle = CreateFileW(
      wide.c_str(), how.access,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      how.creation, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    errno = error_number(GetLastError());
    return nullptr;
  }
  const int descriptor =
      _open_osfhandle(reinterpret_cast<intptr_t>(handle), how.flags);
  if (descriptor < 0) {
    (void)CloseHandle(handle);
    errno = ENOMEM;
    return nullptr;
  }
  FILE* const stream = _fdopen(descriptor, mode);
  if (stream == nullptr) (void)_close(descriptor);
  return stream;
}

extern "C" int qsoflat_open(const char* name, int flags, int mode) {
  std::wstring wide;
  if (!wide_name(name, &wide)) return _open(name, flags, mode);
  return _wopen(wide.c_str(), flags, mode);
}

// The library asks only whether a folder is there, so only the kind is
// told; a struct _wstat would differ from its struct stat by the width of
// its times.
extern "C" int qsoflat_stat(const char* name, struct stat* status) {
  std::wstring wide;
  if (!wide_name(name, &wide)) return stat(name, status);
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
