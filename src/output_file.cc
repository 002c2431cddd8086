#include "output_file.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include "console.h"
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#ifdef __linux__
#include <sys/xattr.h>
#endif
#endif

namespace {

// Temporary names are tried in turn until one is free.
constexpr int temporary_attempts = 100;

#ifdef _WIN32

constexpr DWORD share_all =
    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The volume serial number and file index name a file whatever path, case,
// short name or drive letter led to it.
struct file_identity {
  bool known = false;
  unsigned long long volume = 0;
  unsigned long long file = 0;
  bool regular = false;
  bool folder = false;
};

file_identity identify(HANDLE handle) {
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

bool same_file(const file_identity& a, const file_identity& b) {
  return a.known && b.known && a.volume == b.volume && a.file == b.file;
}

// The full name of the file a link led to, which is what gets replaced, so
// that the link stays; empty when the system cannot tell it.
system_name final_name(HANDLE handle) {
  std::wstring name(MAX_PATH, L'\0');
  for (;;) {
    const DWORD size = GetFinalPathNameByHandleW(
        handle, name.data(), static_cast<DWORD>(name.size()),
        FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (size == 0)
      return system_name();
    if (size < name.size()) {
      name.resize(size);
      return name;
    }
    name.resize(size);
  }
}

// The temporary file that a console event must take away with the process,
// empty when there is none, and whether the rename has begun, after which
// the event no longer ends the run. The event's handler runs on a thread of
// its own, so the lock keeps it from meeting a commit or discard half done.
struct pending_file {
  pending_file() { InitializeCriticalSection(&lock); }
  CRITICAL_SECTION lock;
  std::wstring name;
  bool placing = false;
};
pending_file pending;  // NOLINT(cert-err58-cpp)

class pending_held {
 public:
  pending_held() { EnterCriticalSection(&pending.lock); }
  ~pending_held() { LeaveCriticalSection(&pending.lock); }
  pending_held(const pending_held&) = delete;
  pending_held& operator=(const pending_held&) = delete;
};

// A console event (Ctrl+C, Ctrl+Break, closing the window) ends the process
// by the system's own handler, which runs next, unless the rename has
// begun. The file was made with FILE_SHARE_DELETE, so that it can be
// deleted while still open: it goes when the process closes it.
BOOL WINAPI remove_pending(DWORD /*event*/) {
  const pending_held held;
  if (pending.placing)
    return TRUE;
  if (!pending.name.empty())
    (void)DeleteFileW(pending.name.c_str());
  pending.name.clear();
  return FALSE;
}

void remove_temporary(const system_name& temporary) {
  const pending_held held;
  (void)DeleteFileW(temporary.c_str());
  pending.name.clear();
}

// Whether the regular file at name, still the one identified, is precious
// by its first bytes; a file that cannot be read cannot tell.
bool is_precious(const system_name& name, const file_identity& identity,
                 precious_test precious) {
  if (precious == nullptr)
    return false;
  const HANDLE handle = CreateFileW(name.c_str(), GENERIC_READ, share_all,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE)
    return false;
  std::string head;
  const file_identity opened = identify(handle);
  if (same_file(opened, identity) && opened.regular) {
    head.resize(precious_head_size);
    DWORD size = 0;
    std::size_t got = 0;
    while (got < head.size() &&
           ReadFile(handle, &head[got], static_cast<DWORD>(head.size() - got),
                    &size, nullptr) != 0 &&
           size > 0)
      got += size;
    head.resize(got);
  }
  (void)CloseHandle(handle);
  return precious(head);
}

int close_stream(std::FILE* stream) { return std::fclose(stream); }

bool sync_stream(std::FILE* stream) {
  return FlushFileBuffers(reinterpret_cast<HANDLE>(
             _get_osfhandle(_fileno(stream)))) != 0;
}

// ReplaceFileW gives the new file the old one's attributes and security.
// Where it fails having taken the old file away, the new one takes its
// name all the same.
bool rename_file(const system_name& temporary, const system_name& target,
                 bool replacing) {
  if (replacing) {
    if (ReplaceFileW(target.c_str(), temporary.c_str(), nullptr,
                     REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr,
                     nullptr) != 0)
      return true;
    if (GetLastError() != ERROR_UNABLE_TO_MOVE_REPLACEMENT)
      return false;
  }
  return MoveFileExW(temporary.c_str(), target.c_str(),
                     MOVEFILE_REPLACE_EXISTING) != 0;
}

#else

bool same_file(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The name's folder part, its last slash included: empty for a name in the
// working folder.
system_name folder_of(const system_name& name) {
  return name.substr(0, name.find_last_of('/') + 1);
}

bool stat_folder(const system_name& name, struct stat& folder) {
  const system_name part = folder_of(name);
  return stat(part.empty() ? "." : part.c_str(), &folder) == 0;
}

// Whether name is a link that the kernel's rule for shared folders would
// not follow: in a sticky folder that others may write, one owned by
// neither this user nor the folder's owner. The rule is kept here too,
// since a system may have it switched off.
bool planted_link(const char* name) {
  struct stat link {};
  if (lstat(name, &link) != 0 || !S_ISLNK(link.st_mode))
    return false;
  struct stat folder {};
  if (!stat_folder(name, folder))
    return true;
  return (folder.st_mode & S_ISVTX) != 0 && (folder.st_mode & S_IWOTH) != 0 &&
         link.st_uid != geteuid() && link.st_uid != folder.st_uid;
}

// Whether this user may rename over the file: in a sticky folder only the
// file's owner, the folder's and root may.
bool renamable(const system_name& target, const struct stat& file) {
  struct stat folder {};
  if (!stat_folder(target, folder))
    return false;
  const uid_t user = geteuid();
  return (folder.st_mode & S_ISVTX) == 0 || user == 0 ||
         user == file.st_uid || user == folder.st_uid;
}

// Descriptors below this are looked at for one the output's name leads to:
// far more than a shell's redirections give.
constexpr int held_descriptor_limit = 256;

// A descriptor the program was given open for writing on the file, other
// than the two it opened itself, or -1.
int held_descriptor(const struct stat& file, int input, int opened) {
  for (int held = 0; held < held_descriptor_limit; ++held) {
    struct stat status {};
    if (held == input || held == opened)
      continue;
    const int flags = fcntl(held, F_GETFL);
    if (flags >= 0 && (flags & O_ACCMODE) != O_RDONLY &&
        fstat(held, &status) == 0 && same_file(status, file))
      return held;
  }
  return -1;
}

// The file a link leads to, which is what is replaced, so that the link
// stays; the name itself for any other file. Empty unless the name still
// leads to the file that was opened.
system_name replaced_name(const char* name, const struct stat& file) {
  struct stat status {};
  if (lstat(name, &status) != 0 || !S_ISLNK(status.st_mode))
    return name;
  char* resolved = realpath(name, nullptr);
  if (resolved == nullptr)
    return system_name();
  system_name target = resolved;
  std::free(resolved);  // NOLINT(cppcoreguidelines-no-malloc)
  if (stat(target.c_str(), &status) != 0 || !same_file(status, file))
    return system_name();
  return target;
}

// Whether the regular file at name, still the one stat gave, is precious by
// its first bytes; a file that cannot be read cannot tell. It is opened
// without waiting, so that whatever took its name meanwhile cannot hold the
// run.
bool is_precious(const system_name& name, const struct stat& file,
                 precious_test precious) {
  if (precious == nullptr)
    return false;
  const int descriptor = ::open(
      name.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC);
  if (descriptor < 0)
    return false;
  std::string head;
  struct stat status {};
  if (fstat(descriptor, &status) == 0 && same_file(status, file) &&
      S_ISREG(status.st_mode)) {
    head.resize(precious_head_size);
    std::size_t got = 0;
    while (got < head.size()) {
      const ssize_t size = read(descriptor, &head[got], head.size() - got);
      if (size < 0 && errno == EINTR)
        continue;
      if (size <= 0)
        break;
      got += static_cast<std::size_t>(size);
    }
    head.resize(got);
  }
  (void)close(descriptor);
  return precious(head);
}

// The new file takes the old one's owner and group as far as this user may
// give them (the group alone when the owner cannot be kept), its mode, and
// its access control list. The set-ID bits stay only with their owner.
void keep_attributes(int replaced, int descriptor) {
  struct stat old {};
  if (fstat(replaced, &old) != 0)
    return;
  mode_t mode = old.st_mode & 07777;
  if (fchown(descriptor, old.st_uid, old.st_gid) != 0) {
    mode &= ~static_cast<mode_t>(S_ISUID | S_ISGID);
    (void)fchown(descriptor, static_cast<uid_t>(-1), old.st_gid);
  }
  (void)fchmod(descriptor, mode);
#ifdef __linux__
  // The list holds eight bytes an entry; far fewer fit a file system's
  // attribute block than this room.
  constexpr char acl_name[] = "system.posix_acl_access";
  char acl[8192];
  const ssize_t size = fgetxattr(replaced, acl_name, acl, sizeof acl);
  if (size > 0)
    (void)fsetxattr(descriptor, acl_name, acl, static_cast<std::size_t>(size), 0);
#endif
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

// Holds the ending signals back, and gives back the mask there was.
sigset_t hold_ending_signals() {
  sigset_t held;
  sigset_t saved;
  (void)sigemptyset(&held);
  for (const int signal_number : ending_signals)
    (void)sigaddset(&held, signal_number);
  (void)sigprocmask(SIG_BLOCK, &held, &saved);
  return saved;
}

class pending_held {
 public:
  pending_held() : saved_(hold_ending_signals()) {}
  ~pending_held() { (void)sigprocmask(SIG_SETMASK, &saved_, nullptr); }
  pending_held(const pending_held&) = delete;
  pending_held& operator=(const pending_held&) = delete;

 private:
  sigset_t saved_;
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

void remove_temporary(const system_name& temporary) {
  const pending_held held;
  (void)unlink(temporary.c_str());
  pending = nullptr;
}

int close_stream(std::FILE* stream) { return std::fclose(stream); }

bool sync_stream(std::FILE* stream) { return fsync(fileno(stream)) == 0; }

bool rename_file(const system_name& temporary, const system_name& target,
                 bool /*replacing*/) {
  return rename(temporary.c_str(), target.c_str()) == 0;
}

#endif

}  // namespace

const commit_calls system_commit_calls = {close_stream, sync_stream,
                                          rename_file};

#ifdef _WIN32

open_outcome output_file::open(std::FILE* input, const char* name,
                                precious_test precious) {
  const system_name wide = wide_name(name);
  const file_identity input_identity =
      identify(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(input))));
  // Asking for the attributes alone opens a file that another program holds
  // open without sharing, and a folder.
  const HANDLE probe =
      CreateFileW(wide.c_str(), FILE_READ_ATTRIBUTES, share_all, nullptr,
                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (probe == INVALID_HANDLE_VALUE)
    return GetLastError() == ERROR_FILE_NOT_FOUND && stage(wide, -1)
               ? open_outcome::opened
               : open_outcome::failed;
  const file_identity identity = identify(probe);
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  const system_name target =
      attributes != INVALID_FILE_ATTRIBUTES &&
              (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0
          ? final_name(probe)
          : wide;
  (void)CloseHandle(probe);
  if (same_file(input_identity, identity))
    return open_outcome::is_input;
  if (identity.folder || target.empty())
    return open_outcome::failed;
  if (!identity.regular) {
    // A device such as NUL or CON is written as it is.
    const int descriptor = _wopen(wide.c_str(), _O_WRONLY | _O_TEXT);
    stream_ = descriptor < 0 ? nullptr : _fdopen(descriptor, "w");
    if (stream_ == nullptr) {
      if (descriptor >= 0)
        (void)_close(descriptor);
      return open_outcome::failed;
    }
    state_ = state::direct;
    return open_outcome::opened;
  }
  if (is_precious(target, identity, precious))
    return open_outcome::precious;
  // The replacing call must open the old file to write and delete it: a
  // spreadsheet that holds it open refuses both, and so does the read-only
  // attribute.
  const HANDLE old = CreateFileW(target.c_str(), GENERIC_WRITE | DELETE,
                                 share_all, nullptr, OPEN_EXISTING, 0, nullptr);
  if (old == INVALID_HANDLE_VALUE)
    return open_outcome::failed;
  const int replaced = _open_osfhandle(reinterpret_cast<intptr_t>(old), _O_WRONLY);
  if (replaced < 0) {
    (void)CloseHandle(old);
    return open_outcome::failed;
  }
  const bool staged = stage(target, replaced);
  (void)_close(replaced);
  return staged ? open_outcome::opened : open_outcome::failed;
}

namespace {

// The replacing call takes full names only (as wine has it), and a full name
// stays right whatever the working folder.
system_name full_name(const system_name& name) {
  std::wstring full(GetFullPathNameW(name.c_str(), 0, nullptr, nullptr), L'\0');
  const DWORD size = GetFullPathNameW(name.c_str(), static_cast<DWORD>(full.size()),
                                      full.data(), nullptr);
  if (size == 0 || size >= full.size())
    return name;
  full.resize(size);
  return full;
}

}  // namespace

bool output_file::stage(const system_name& target, int replaced) {
  target_ = full_name(target);
  const system_name folder = target_.substr(0, target_.find_last_of(L"/\\:") + 1);
  replacing_ = replaced >= 0;
  (void)SetConsoleCtrlHandler(remove_pending, TRUE);
  for (int attempt = 0; attempt < temporary_attempts; ++attempt) {
    temporary_ = folder + L".qsoflat-" +
                 std::to_wstring(GetCurrentProcessId()) + L"-" +
                 std::to_wstring(attempt) + L".tmp";
    const pending_held held;
    pending.name = temporary_;
    const HANDLE handle =
        CreateFileW(temporary_.c_str(), GENERIC_WRITE,
                    FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      pending.name.clear();
      if (GetLastError() == ERROR_FILE_EXISTS)
        continue;
      return false;
    }
    state_ = state::staged;
    // The output is text, so that its rows end in CR LF.
    const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle),
                                           _O_WRONLY | _O_TEXT);
    stream_ = descriptor < 0 ? nullptr : _fdopen(descriptor, "w");
    if (stream_ == nullptr) {
      if (descriptor < 0)
        (void)CloseHandle(handle);
      else
        (void)_close(descriptor);
      (void)DeleteFileW(temporary_.c_str());
      pending.name.clear();
      state_ = state::closed;
      return false;
    }
    return true;
  }
  return false;
}

// A console event may have taken the file away already; the process is then
// ending.
bool output_file::put_in_place(const commit_calls& calls) {
  const pending_held held;
  if (pending.name.empty())
    return false;
  pending.placing = true;
  const bool placed = calls.rename(temporary_, target_, replacing_);
  if (!placed) {
    (void)DeleteFileW(temporary_.c_str());
    pending.placing = false;
  }
  pending.name.clear();
  return placed;
}

#else

open_outcome output_file::open(std::FILE* input, const char* name,
                                precious_test precious) {
  // A file-size limit then fails a write, which the run reports, where its
  // signal would end the run with nothing said and the temporary file left.
  (void)std::signal(SIGXFSZ, SIG_IGN);
  if (planted_link(name))
    return open_outcome::failed;
  // The input is told by a look at the name, which needs no leave to write.
  const int input_descriptor = fileno(input);
  struct stat input_status {};
  struct stat file {};
  if (fstat(input_descriptor, &input_status) == 0 && stat(name, &file) == 0 &&
      same_file(input_status, file))
    return open_outcome::is_input;
  // The system's own open applies its rules to the name, and tells what
  // kind of file it leads to. A FIFO with no reader yet is waited for, as a
  // shell's redirection does.
  int descriptor = ::open(name, O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (descriptor < 0 && errno == ENXIO)
    descriptor = ::open(name, O_WRONLY | O_NOCTTY | O_CLOEXEC);
  if (descriptor < 0) {
    // A name not yet taken is made; a dangling link leads to no file that
    // could be replaced.
    struct stat link {};
    const bool absent = errno == ENOENT && lstat(name, &link) != 0;
    return absent && stage(name, -1) ? open_outcome::opened
                                     : open_outcome::failed;
  }
  open_outcome outcome = open_outcome::failed;
  if (fstat(descriptor, &file) != 0) {
    // failed
  } else if (same_file(input_status, file)) {
    outcome = open_outcome::is_input;
  } else if (const int held =
                 held_descriptor(file, input_descriptor, descriptor);
             S_ISREG(file.st_mode) && held < 0) {
    const system_name target = replaced_name(name, file);
    if (target.empty())
      outcome = open_outcome::failed;
    else if (is_precious(target, file, precious))
      outcome = open_outcome::precious;
    else if (renamable(target, file) && stage(target, descriptor))
      outcome = open_outcome::opened;
  } else {
    // Written as it is: a descriptor the program was given, appending or
    // into a pipe as the shell opened it, and a FIFO or a device.
    const int direct = fcntl(held >= 0 ? held : descriptor, F_DUPFD_CLOEXEC, 0);
    if (direct >= 0 && held < 0)
      (void)fcntl(direct, F_SETFL, fcntl(direct, F_GETFL) & ~O_NONBLOCK);
    stream_ = direct < 0 ? nullptr : fdopen(direct, "w");
    if (stream_ != nullptr) {
      state_ = state::direct;
      outcome = open_outcome::opened;
    } else if (direct >= 0) {
      (void)close(direct);
    }
  }
  (void)close(descriptor);
  return outcome;
}

// The file is created as a plain create would make the output, so the umask
// applies, and then takes the replaced file's attributes. It is never one
// that was there before, nor a link.
bool output_file::stage(const system_name& target, int replaced) {
  const system_name folder = folder_of(target);
  target_ = target;
  replacing_ = replaced >= 0;
  catch_ending_signals();
  for (int attempt = 0; attempt < temporary_attempts; ++attempt) {
    temporary_ = folder + ".qsoflat-" + std::to_string(getpid()) + "-" +
                 std::to_string(attempt) + ".tmp";
    const pending_held held;
    pending_name = temporary_;
    const int descriptor =
        ::open(temporary_.c_str(),
               O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (descriptor < 0) {
      if (errno == EEXIST)
        continue;
      return false;
    }
    pending = pending_name.c_str();
    state_ = state::staged;
    if (replaced >= 0)
      keep_attributes(replaced, descriptor);
    stream_ = fdopen(descriptor, "w");
    if (stream_ == nullptr) {
      (void)close(descriptor);
      (void)unlink(temporary_.c_str());
      pending = nullptr;
      state_ = state::closed;
      return false;
    }
    return true;
  }
  return false;
}

// Once the rename has begun the ending signals stay held back for the rest
// of the run: the new file may be in place, and the run must say so. Where
// the rename fails, a signal that came meanwhile ends the run, the old file
// kept.
bool output_file::put_in_place(const commit_calls& calls) {
  const sigset_t saved = hold_ending_signals();
  const bool placed = calls.rename(temporary_, target_, replacing_);
  if (!placed)
    (void)unlink(temporary_.c_str());
  pending = nullptr;
  if (!placed)
    (void)sigprocmask(SIG_SETMASK, &saved, nullptr);
  return placed;
}

#endif

bool output_file::commit(const commit_calls& calls) {
  if (state_ == state::closed)
    return false;
  const bool staged = state_ == state::staged;
  // The rows reach the disk before the name does, so that a crash cannot
  // leave an empty file where the old one was.
  bool written = !staged || (std::fflush(stream_) == 0 && calls.sync(stream_));
  written = calls.close(stream_) == 0 && written;
  stream_ = nullptr;
  state_ = state::closed;
  if (!staged)
    return written;
  if (!written) {
    remove_temporary(temporary_);
    return false;
  }
  return put_in_place(calls);
}

void output_file::discard() {
  if (stream_ != nullptr)
    (void)std::fclose(stream_);
  stream_ = nullptr;
  if (state_ == state::staged)
    remove_temporary(temporary_);
  state_ = state::closed;
}
