#include "platform.h"

#include <cstdarg>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <string>
#include <string_view>
#include <vector>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// What tells one open file from another, and what kind of file it is.
struct file_identity {
  bool known = false;
  unsigned long long volume = 0;
  unsigned long long file = 0;
  bool regular = false;
  bool folder = false;
};

#ifdef _WIN32

std::wstring widen(std::string_view utf8) {
  const int length = static_cast<int>(utf8.size());
  std::wstring text(
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, nullptr, 0), L'\0');
  (void)MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, text.data(),
                            static_cast<int>(text.size()));
  return text;
}

std::string narrow(UINT code_page, DWORD flags, std::wstring_view text) {
  const int length = static_cast<int>(text.size());
  std::string bytes(WideCharToMultiByte(code_page, flags, text.data(), length,
                                        nullptr, 0, nullptr, nullptr),
                    '\0');
  (void)WideCharToMultiByte(code_page, flags, text.data(), length, bytes.data(),
                            static_cast<int>(bytes.size()), nullptr, nullptr);
  return bytes;
}

}  // namespace

std::vector<std::string> utf8_arguments(int argc, wchar_t** argv) {
  std::vector<std::string> arguments;
  for (int i = 0; i < argc; ++i)
    arguments.push_back(narrow(CP_UTF8, 0, argv[i]));
  return arguments;
}

namespace {

// The input is read as the bytes it holds: text mode would end it at the
// first Ctrl-Z byte. The output is text, so that its rows end in CR LF.
constexpr int read_flags = _O_RDONLY | _O_BINARY;
constexpr int probe_flags = _O_RDONLY | _O_BINARY;
constexpr int write_flags = _O_WRONLY | _O_CREAT | _O_TEXT;
constexpr char read_mode[] = "rb";
constexpr char write_mode[] = "w";

// The wide function opens any name, where the narrow one would open only
// names that the ANSI code page can spell.
int open_descriptor(const char* name, int flags) {
  return _wopen(widen(name).c_str(), flags, _S_IREAD | _S_IWRITE);
}

int close_descriptor(int descriptor) { return _close(descriptor); }

int descriptor_of(std::FILE* stream) { return _fileno(stream); }

std::FILE* stream_of(int descriptor, const char* mode) {
  return _fdopen(descriptor, mode);
}

// The volume serial number and file index name a file whatever path, case,
// short name or drive letter led to it.
file_identity identify(int descriptor) {
  file_identity identity;
  const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(descriptor));
  BY_HANDLE_FILE_INFORMATION info;
  if (handle == INVALID_HANDLE_VALUE ||
      GetFileInformationByHandle(handle, &info) == 0)
    return identity;
  identity.known = true;
  identity.volume = info.dwVolumeSerialNumber;
  identity.file =
      (static_cast<unsigned long long>(info.nFileIndexHigh) << 32) |
      info.nFileIndexLow;
  identity.folder = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  identity.regular = !identity.folder && GetFileType(handle) == FILE_TYPE_DISK;
  return identity;
}

bool empty_file(int descriptor) { return _chsize(descriptor, 0) == 0; }

// The message is UTF-8, as every name in the program is.
void write_message(const char* format, std::va_list arguments) {
  std::va_list measuring;
  va_copy(measuring, arguments);
  const int size = std::vsnprintf(nullptr, 0, format, measuring);
  va_end(measuring);
  std::string text(size > 0 ? static_cast<std::size_t>(size) + 1 : 1, '\0');
  (void)std::vsnprintf(text.data(), text.size(), format, arguments);
  text.pop_back();  // the NUL that vsnprintf adds

  const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stderr)));
  DWORD console_mode = 0;
  if (GetConsoleMode(handle, &console_mode) != 0) {
    const std::wstring wide_text = widen(text);
    DWORD written = 0;
    (void)std::fflush(stderr);  // what went before comes first
    (void)WriteConsoleW(handle, wide_text.data(),
                        static_cast<DWORD>(wide_text.size()), &written, nullptr);
    return;
  }
  // A best fit would log a name that is not the file's, such as "a" for
  // "ā"; some code pages allow no other choice, though.
  const UINT code_page = GetACP();
  std::string bytes = text;
  if (code_page != CP_UTF8) {
    const std::wstring wide_text = widen(text);
    bytes = narrow(code_page, WC_NO_BEST_FIT_CHARS, wide_text);
    if (bytes.empty())
      bytes = narrow(code_page, 0, wide_text);
  }
  (void)std::fwrite(bytes.data(), 1, bytes.size(), stderr);
}

#else

constexpr int read_flags = O_RDONLY;
// Opening a FIFO to read would wait for a writer, and this open only looks.
constexpr int probe_flags = O_RDONLY | O_NONBLOCK;
constexpr int write_flags = O_WRONLY | O_CREAT;
constexpr char read_mode[] = "r";
constexpr char write_mode[] = "w";

int open_descriptor(const char* name, int flags) {
  return open(name, flags | O_CLOEXEC, 0666);
}

int close_descriptor(int descriptor) { return close(descriptor); }

int descriptor_of(std::FILE* stream) { return fileno(stream); }

std::FILE* stream_of(int descriptor, const char* mode) {
  return fdopen(descriptor, mode);
}

file_identity identify(int descriptor) {
  file_identity identity;
  struct stat status {};
  if (fstat(descriptor, &status) != 0)
    return identity;
  identity.known = true;
  identity.volume = status.st_dev;
  identity.file = status.st_ino;
  identity.regular = S_ISREG(status.st_mode);
  identity.folder = S_ISDIR(status.st_mode);
  return identity;
}

bool empty_file(int descriptor) { return ftruncate(descriptor, 0) == 0; }

void write_message(const char* format, std::va_list arguments) {
  (void)std::vfprintf(stderr, format, arguments);
}

#endif

bool same_file(const file_identity& a, const file_identity& b) {
  return a.known && b.known && a.volume == b.volume && a.file == b.file;
}

}  // namespace

std::FILE* open_input_file(const char* name) {
  const int descriptor = open_descriptor(name, read_flags);
  if (descriptor < 0)
    return nullptr;
  std::FILE* in =
      identify(descriptor).folder ? nullptr : stream_of(descriptor, read_mode);
  if (in == nullptr)
    (void)close_descriptor(descriptor);
  return in;
}

output_file open_output_file(std::FILE* input, const char* name) {
  const file_identity input_identity = identify(descriptor_of(input));
  const int descriptor = open_descriptor(name, write_flags);
  if (descriptor < 0) {
    // A read-only input cannot be opened for writing, yet named as the
    // output it is still the input, and the message should say so.
    const int probe = open_descriptor(name, probe_flags);
    if (probe < 0)
      return {nullptr, false};
    const bool is_input = same_file(input_identity, identify(probe));
    (void)close_descriptor(probe);
    return {nullptr, is_input};
  }
  const file_identity identity = identify(descriptor);
  if (same_file(input_identity, identity)) {
    (void)close_descriptor(descriptor);
    return {nullptr, true};
  }
  // A FIFO, a device or NUL cannot be emptied and need not be.
  std::FILE* out = !identity.regular || empty_file(descriptor)
                       ? stream_of(descriptor, write_mode)
                       : nullptr;
  if (out == nullptr)
    (void)close_descriptor(descriptor);
  return {out, false};
}

void print_message(const char* format, ...) {  // NOLINT(cert-dcl50-cpp)
  std::va_list arguments;
  va_start(arguments, format);
  write_message(format, arguments);
  va_end(arguments);
}
