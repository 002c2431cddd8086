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

#include <cerrno>
#include <csignal>
#include <cstdlib>
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

// What a look at the output's name finds before anything is created.
enum class probe_result { found, absent, failed };

// Temporary names are tried in turn until one is free.
constexpr int temporary_attempts = 100;

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
constexpr int write_flags = _O_WRONLY | _O_TEXT;
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
file_identity identify_handle(HANDLE handle) {
  file_identity identity;
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

file_identity identify(int descriptor) {
  return identify_handle(reinterpret_cast<HANDLE>(_get_osfhandle(descriptor)));
}

constexpr DWORD share_all =
    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Asking for the attributes alone opens a file that another program holds
// open without sharing, and a folder.
probe_result probe(const system_name& name, file_identity& identity) {
  const HANDLE handle =
      CreateFileW(name.c_str(), FILE_READ_ATTRIBUTES, share_all, nullptr,
                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE)
    return GetLastError() == ERROR_FILE_NOT_FOUND ? probe_result::absent
                                                  : probe_result::failed;
  identity = identify_handle(handle);
  (void)CloseHandle(handle);
  return probe_result::found;
}

// MoveFileExW must open the old file to write and delete it: a spreadsheet
// that holds it open refuses both, and so does the read-only attribute.
bool replaceable(const system_name& name) {
  const HANDLE handle = CreateFileW(name.c_str(), GENERIC_WRITE | DELETE,
                                    share_all, nullptr, OPEN_EXISTING, 0,
                                    nullptr);
  if (handle == INVALID_HANDLE_VALUE)
    return false;
  (void)CloseHandle(handle);
  return true;
}

// The temporary file that a console event must take away with the process,
// empty when there is none. The event's handler runs on a thread of its
// own, so the lock keeps it from meeting a commit or discard half done.
struct pending_file {
  pending_file() { InitializeCriticalSection(&lock); }
  CRITICAL_SECTION lock;
  std::wstring name;
};
pending_file pending;  // NOLINT(cert-err58-cpp)

class pending_held {
 public:
  pending_held() { EnterCriticalSection(&pending.lock); }
  ~pending_held() { LeaveCriticalSection(&pending.lock); }
  pending_held(const pending_held&) = delete;
  pending_held& operator=(const pending_held&) = delete;
};

// Every console event (Ctrl+C, Ctrl+Break, closing the window) ends the
// process by the system's own handler, which runs next. The file was made
// with FILE_SHARE_DELETE, so that it can be deleted while still open: it
// goes when the process closes it.
BOOL WINAPI remove_pending(DWORD /*event*/) {
  const pending_held held;
  if (!pending.name.empty())
    (void)DeleteFileW(pending.name.c_str());
  pending.name.clear();
  return FALSE;
}

std::FILE* create_temporary(const system_name& target, system_name& temporary,
                            bool /*replacing*/) {
  const system_name folder = target.substr(0, target.find_last_of(L"/\\:") + 1);
  (void)SetConsoleCtrlHandler(remove_pending, TRUE);
  for (int attempt = 0; attempt < temporary_attempts; ++attempt) {
    temporary = folder + L".qsoflat-" + std::to_wstring(GetCurrentProcessId()) +
                L"-" + std::to_wstring(attempt) + L".tmp";
    const pending_held held;
    pending.name = temporary;
    const HANDLE handle =
        CreateFileW(temporary.c_str(), GENERIC_WRITE,
                    FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      pending.name.clear();
      if (GetLastError() == ERROR_FILE_EXISTS)
        continue;
      return nullptr;
    }
    const int descriptor =
        _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_TEXT);
    std::FILE* out =
        descriptor < 0 ? nullptr : stream_of(descriptor, write_mode);
    if (out == nullptr) {
      if (descriptor < 0)
        (void)CloseHandle(handle);
      else
        (void)close_descriptor(descriptor);
      (void)DeleteFileW(temporary.c_str());
      pending.name.clear();
    }
    return out;
  }
  return nullptr;
}

bool sync_descriptor(int descriptor) {
  return FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(descriptor))) != 0;
}

// A console event may have taken the file away already; the process is then
// ending.
bool put_in_place(const system_name& temporary, const system_name& target) {
  const pending_held held;
  if (pending.name.empty())
    return false;
  const bool moved = MoveFileExW(temporary.c_str(), target.c_str(),
                                 MOVEFILE_REPLACE_EXISTING) != 0;
  if (!moved)
    (void)DeleteFileW(temporary.c_str());
  pending.name.clear();
  return moved;
}

void remove_temporary(const system_name& temporary) {
  const pending_held held;
  (void)DeleteFileW(temporary.c_str());
  pending.name.clear();
}

// A link is replaced as the file itself, which stays one for Windows.
system_name resolve_link(const char* name) { return widen(name); }

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
constexpr int write_flags = O_WRONLY;
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

file_identity identity_of(const struct stat& status) {
  file_identity identity;
  identity.known = true;
  identity.volume = status.st_dev;
  identity.file = status.st_ino;
  identity.regular = S_ISREG(status.st_mode);
  identity.folder = S_ISDIR(status.st_mode);
  return identity;
}

file_identity identify(int descriptor) {
  struct stat status {};
  return fstat(descriptor, &status) == 0 ? identity_of(status)
                                         : file_identity{};
}

// A look by name, which unlike an open neither waits on a FIFO nor needs
// leave to read.
probe_result probe(const system_name& name, file_identity& identity) {
  struct stat status {};
  if (stat(name.c_str(), &status) != 0)
    return errno == ENOENT ? probe_result::absent : probe_result::failed;
  identity = identity_of(status);
  return probe_result::found;
}

// A rename would replace a file that its owner made read-only, so the run
// asks for the leave to write it that writing in place needed.
bool replaceable(const system_name& name) {
  const int descriptor = open_descriptor(name.c_str(), O_WRONLY | O_NONBLOCK);
  if (descriptor < 0)
    return false;
  (void)close_descriptor(descriptor);
  return true;
}

// The temporary file that a signal must take away with the process, or
// null. It is set and cleared only while the signals are held back, so the
// handler never sees it half done.
const char* volatile pending = nullptr;
std::string pending_name;  // NOLINT(cert-err58-cpp)

constexpr int ending_signals[] = {SIGINT, SIGTERM, SIGHUP};

// Only calls that a signal handler may make. The signal's default action
// then ends the process, so that the caller sees it end by the signal.
extern "C" void remove_pending(int signal_number) {
  if (pending != nullptr)
    (void)unlink(pending);
  (void)std::signal(signal_number, SIG_DFL);
  sigset_t unblocked;
  (void)sigemptyset(&unblocked);
  (void)sigaddset(&unblocked, signal_number);
  (void)sigprocmask(SIG_UNBLOCK, &unblocked, nullptr);
  (void)std::raise(signal_number);
}

class pending_held {
 public:
  pending_held() {
    sigset_t held;
    (void)sigemptyset(&held);
    for (const int signal_number : ending_signals)
      (void)sigaddset(&held, signal_number);
    (void)sigprocmask(SIG_BLOCK, &held, &saved_);
  }
  ~pending_held() { (void)sigprocmask(SIG_SETMASK, &saved_, nullptr); }
  pending_held(const pending_held&) = delete;
  pending_held& operator=(const pending_held&) = delete;

 private:
  sigset_t saved_{};
};

// A signal that the caller ignores, as nohup does SIGHUP, stays ignored.
void catch_ending_signals() {
  for (const int signal_number : ending_signals) {
    struct sigaction action {};
    if (sigaction(signal_number, nullptr, &action) != 0 ||
        action.sa_handler == SIG_IGN)
      continue;
    action = {};
    action.sa_handler = remove_pending;
    (void)sigfillset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    (void)sigaction(signal_number, &action, nullptr);
  }
}

// The file is created as a plain create would make the output, so the
// umask applies; a replaced file's owner and permission bits are copied,
// the owner as far as the user may give it.
std::FILE* create_temporary(const system_name& target, system_name& temporary,
                            bool replacing) {
  const system_name folder = target.substr(0, target.find_last_of('/') + 1);
  catch_ending_signals();
  for (int attempt = 0; attempt < temporary_attempts; ++attempt) {
    temporary = folder + ".qsoflat-" + std::to_string(getpid()) + "-" +
                std::to_string(attempt) + ".tmp";
    const pending_held held;
    pending_name = temporary;
    const int descriptor = open_descriptor(temporary.c_str(),
                                           O_WRONLY | O_CREAT | O_EXCL);
    if (descriptor < 0) {
      if (errno == EEXIST)
        continue;
      return nullptr;
    }
    pending = pending_name.c_str();
    struct stat status {};
    if (replacing && stat(target.c_str(), &status) == 0) {
      (void)fchown(descriptor, status.st_uid, status.st_gid);
      (void)fchmod(descriptor, status.st_mode & 07777);
    }
    std::FILE* out = stream_of(descriptor, write_mode);
    if (out == nullptr) {
      (void)close_descriptor(descriptor);
      (void)unlink(temporary.c_str());
      pending = nullptr;
    }
    return out;
  }
  return nullptr;
}

bool sync_descriptor(int descriptor) { return fsync(descriptor) == 0; }

bool put_in_place(const system_name& temporary, const system_name& target) {
  const pending_held held;
  const bool moved = rename(temporary.c_str(), target.c_str()) == 0;
  if (!moved)
    (void)unlink(temporary.c_str());
  pending = nullptr;
  return moved;
}

void remove_temporary(const system_name& temporary) {
  const pending_held held;
  (void)unlink(temporary.c_str());
  pending = nullptr;
}

// The file a link leads to is the one replaced, so that the link stays: a
// dangling link leads to no file that could be replaced, and is refused.
system_name resolve_link(const char* name) {
  struct stat status {};
  if (lstat(name, &status) != 0 || !S_ISLNK(status.st_mode))
    return name;
  char* resolved = realpath(name, nullptr);
  if (resolved == nullptr)
    return system_name();
  system_name target = resolved;
  std::free(resolved);  // NOLINT(cppcoreguidelines-no-malloc)
  return target;
}

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
  output_file out;
  const file_identity input_identity = identify(descriptor_of(input));
  const system_name target = resolve_link(name);
  file_identity identity;
  const probe_result found = target.empty() ? probe_result::failed
                                            : probe(target, identity);
  if (found == probe_result::failed)
    return out;
  if (same_file(input_identity, identity)) {
    out.is_input = true;
    return out;
  }
  if (found == probe_result::found && !identity.regular) {
    // A FIFO, a device or NUL is written as it is; a folder fails to open.
    const int descriptor = open_descriptor(name, write_flags);
    out.stream = descriptor < 0 ? nullptr : stream_of(descriptor, write_mode);
    if (out.stream == nullptr && descriptor >= 0)
      (void)close_descriptor(descriptor);
    return out;
  }
  const bool replacing = found == probe_result::found;
  if (replacing && !replaceable(target))
    return out;
  out.stream = create_temporary(target, out.temporary, replacing);
  if (out.stream != nullptr)
    out.target = target;
  return out;
}

bool commit_output(output_file& out) {
  if (out.target.empty())
    return std::fclose(out.stream) == 0;
  // The rows reach the disk before the name does, so that a crash cannot
  // leave an empty file where the old one was.
  bool written = std::fflush(out.stream) == 0 &&
                 sync_descriptor(descriptor_of(out.stream));
  written = std::fclose(out.stream) == 0 && written;
  if (!written) {
    remove_temporary(out.temporary);
    return false;
  }
  return put_in_place(out.temporary, out.target);
}

void discard_output(output_file& out) {
  (void)std::fclose(out.stream);
  if (!out.target.empty())
    remove_temporary(out.temporary);
}

void print_message(const char* format, ...) {  // NOLINT(cert-dcl50-cpp)
  std::va_list arguments;
  va_start(arguments, format);
  write_message(format, arguments);
  va_end(arguments);
}
