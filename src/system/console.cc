#include "system/console.h"

#include <cstdarg>
#include <cstdlib>

#include "text/utf16.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "text/utf8.h"

namespace qsoflat {

namespace {

bool is_control_byte(unsigned char c) {
  return (c < 0x20 && c != '\t') || (c >= 0x7F && c <= 0x9F);
}

#ifdef _WIN32

// The text in the code page, by the flags of WideCharToMultiByte.
std::string narrow(UINT code_page, DWORD flags, std::wstring_view text) {
  const int length = static_cast<int>(text.size());
  std::string bytes(WideCharToMultiByte(code_page, flags, text.data(), length,
                                        nullptr, 0, nullptr, nullptr),
                    '\0');
  (void)WideCharToMultiByte(code_page, flags, text.data(), length, bytes.data(),
                            static_cast<int>(bytes.size()), nullptr, nullptr);
  return bytes;
}

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
    const std::wstring wide_text = utf16_of(text);
    DWORD written = 0;
    (void)std::fflush(stderr);  // what went before comes first
    (void)WriteConsoleW(handle, wide_text.data(),
                        static_cast<DWORD>(wide_text.size()), &written,
                        nullptr);
    return;
  }
  // A best fit would log a name that is not the file's, such as "a" for
  // "ā"; some code pages allow no other choice, though.
  const UINT code_page = GetACP();
  std::string bytes = text;
  if (code_page != CP_UTF8) {
    const std::wstring wide_text = utf16_of(text);
    bytes = narrow(code_page, WC_NO_BEST_FIT_CHARS, wide_text);
    if (bytes.empty())
      bytes = narrow(code_page, 0, wide_text);
  }
  (void)std::fwrite(bytes.data(), 1, bytes.size(), stderr);
}

// The input is read as the bytes it holds: text mode would end it at the
// first Ctrl-Z byte. The wide function opens any name, where the narrow one
// would open only names that the ANSI code page can spell.
int open_to_read(const char* name) {
  return _wopen(utf16_of(name).c_str(), _O_RDONLY | _O_BINARY);
}

bool is_console(DWORD standard_handle) {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(standard_handle), &mode) != 0;
}

bool is_folder(int descriptor) {
  BY_HANDLE_FILE_INFORMATION info;
  return GetFileInformationByHandle(
             reinterpret_cast<HANDLE>(_get_osfhandle(descriptor)), &info) !=
             0 &&
         (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

#else

void write_message(const char* format, std::va_list arguments) {
  (void)std::vfprintf(stderr, format, arguments);
}

int open_to_read(const char* name) { return open(name, O_RDONLY | O_CLOEXEC); }

bool is_folder(int descriptor) {
  struct stat status {};
  return fstat(descriptor, &status) == 0 && S_ISDIR(status.st_mode);
}

#endif

}  // namespace

#ifdef _WIN32

std::vector<std::string> utf8_arguments(int argc, wchar_t** argv) {
  std::vector<std::string> arguments;
  arguments.reserve(static_cast<std::size_t>(argc));
  for (int i = 0; i < argc; ++i)
    arguments.push_back(utf8_of(argv[i]));
  return arguments;
}

bool has_console_of_its_own() {
  // The count comes back whole even when the list has no room for it.
  DWORD processes[2];
  return GetConsoleProcessList(processes, 2) == 1 &&
         is_console(STD_INPUT_HANDLE) && is_console(STD_ERROR_HANDLE);
}

#else

bool has_console_of_its_own() { return false; }

#endif

std::string ask(const char* question) {
  (void)std::fflush(stdout);  // what the run wrote there comes first
  print_message("%s", question);
  std::string answer;
  char chunk[256];
  while (std::fgets(chunk, sizeof chunk, stdin) != nullptr) {
    answer += chunk;
    if (answer.back() == '\n')
      break;
  }
  // Past the last byte that is no line end; npos + 1 empties a bare Enter.
  answer.erase(answer.find_last_not_of("\r\n") + 1);
  return answer;
}

void end_program(int status, bool closed_by_answer) {
  if (!closed_by_answer && has_console_of_its_own())
    (void)ask("Press Enter to close this window. ");
  std::exit(status);
}

std::string printable(std::string_view text) {
  std::string shown;
  shown.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t length = utf8_length(text, at);
    // A two-byte sequence led by 0xC2 and followed by 0x80 to 0x9F is a C1
    // control.
    if (length == 2 && static_cast<unsigned char>(text[at]) == 0xC2 &&
        static_cast<unsigned char>(text[at + 1]) <= 0x9F) {
      shown += '?';
    } else if (length > 1) {
      shown.append(text, at, length);
    } else {
      shown += is_control_byte(static_cast<unsigned char>(text[at])) ? '?'
                                                                     : text[at];
      ++at;
      continue;
    }
    at += length;
  }
  return shown;
}

void print_message(const char* format, ...) {  // NOLINT(cert-dcl50-cpp)
  std::va_list arguments;
  va_start(arguments, format);
  write_message(format, arguments);
  va_end(arguments);
}

std::FILE* open_input_file(const char* name) {
  const int descriptor = open_to_read(name);
  if (descriptor < 0)
    return nullptr;
#ifdef _WIN32
  std::FILE* in = is_folder(descriptor) ? nullptr : _fdopen(descriptor, "rb");
  if (in == nullptr)
    (void)_close(descriptor);
#else
  std::FILE* in = is_folder(descriptor) ? nullptr : fdopen(descriptor, "r");
  if (in == nullptr)
    (void)close(descriptor);
#endif
  return in;
}

}  // namespace qsoflat
