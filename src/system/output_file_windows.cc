#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include "system/output_file.h"
#include "system/output_system.h"
#include "system/temporary_file.h"
#include "text/utf16.h"

namespace qsoflat {

namespace {

// Temporary names are tried in turn until one is free.
constexpr int temporary_attempts = 100;

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
  identity.file = (static_cast<unsigned long long>(info.nFileIndexHigh) << 32) |
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

// The replacing call takes full names only (as wine has it), and a full name
// stays right whatever the working folder.
system_name full_name(const system_name& name) {
  std::wstring full(GetFullPathNameW(name.c_str(), 0, nullptr, nullptr), L'\0');
  const DWORD size = GetFullPathNameW(
      name.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
  if (size == 0 || size >= full.size())
    return name;
  full.resize(size);
  return full;
}

// What the output's name leads to, decided here alone.
struct destination {
  enum class kind {
    refused,  // no file this run may write: error says why
    input,    // the input file, under any name
    absent,   // a name not yet taken, which the run makes
    regular,  // a regular file to replace: target
    device,   // a device such as NUL or CON, written as it is
  };
  kind what = kind::refused;
  DWORD error = 0;
  system_name target;
  file_identity identity;
};

// What the output's name leads to, for a run that reads input.
destination destination_of(std::FILE* input, const system_name& name) {
  destination d;
  const file_identity input_identity =
      identify(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(input))));
  // Asking for the attributes alone opens a file that another program holds
  // open without sharing, and a folder.
  const HANDLE probe =
      CreateFileW(name.c_str(), FILE_READ_ATTRIBUTES, share_all, nullptr,
                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (probe == INVALID_HANDLE_VALUE) {
    d.error = GetLastError();
    if (d.error == ERROR_FILE_NOT_FOUND)
      d.what = destination::kind::absent;
    return d;
  }
  d.identity = identify(probe);
  const DWORD attributes = GetFileAttributesW(name.c_str());
  d.target = attributes != INVALID_FILE_ATTRIBUTES &&
                     (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0
                 ? final_name(probe)
                 : name;
  (void)CloseHandle(probe);
  if (same_file(input_identity, d.identity))
    d.what = destination::kind::input;
  else if (d.identity.folder)
    d.error = ERROR_DIRECTORY;
  else if (d.target.empty())
    d.error = ERROR_PATH_NOT_FOUND;
  else
    d.what = d.identity.regular ? destination::kind::regular
                                : destination::kind::device;
  return d;
}

// Reads up to count bytes at offset, as read_call does.
std::size_t read_some_at(HANDLE handle, char* bytes, std::size_t count,
                         std::uint64_t offset) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD size = 0;
  return ReadFile(handle, bytes, static_cast<DWORD>(count), &size, &at) != 0
             ? size
             : 0;
}

// Why the regular file at name, still the one identified, is precious by
// its first and last bytes, or 0; a file that cannot be read cannot tell.
int why_precious(const system_name& name, const file_identity& identity,
                 precious_test precious) {
  if (precious == nullptr)
    return 0;
  const HANDLE handle = CreateFileW(name.c_str(), GENERIC_READ, share_all,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE)
    return 0;
  int kind = 0;
  const file_identity opened = identify(handle);
  LARGE_INTEGER size{};
  if (same_file(opened, identity) && opened.regular &&
      GetFileSizeEx(handle, &size) != 0)
    kind = test_head_and_tail(
        static_cast<std::uint64_t>(size.QuadPart),
        [handle](char* bytes, std::size_t count, std::uint64_t offset) {
          return read_some_at(handle, bytes, count, offset);
        },
        precious);
  (void)CloseHandle(handle);
  return kind;
}

int close_stream(std::FILE* stream) { return std::fclose(stream); }

bool sync_stream(std::FILE* stream) {
  return FlushFileBuffers(
             reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)))) != 0;
}

// Whether the old file may still be written and deleted, as ReplaceFileW
// must: a program that opened it meanwhile, as a spreadsheet does, refuses
// both, and the cause is left in GetLastError. Asked first, since wine's
// ReplaceFileW leaves a file of its own behind where it fails so.
bool replaceable(const system_name& target) {
  const HANDLE old = CreateFileW(target.c_str(), GENERIC_WRITE | DELETE,
                                 share_all, nullptr, OPEN_EXISTING, 0, nullptr);
  if (old == INVALID_HANDLE_VALUE)
    return false;
  (void)CloseHandle(old);
  return true;
}

// ReplaceFileW gives the new file the old one's attributes and security.
// Where it fails having taken the old file away, the new one takes its
// name all the same.
bool rename_file(const system_name& temporary, const system_name& target,
                 bool replacing) {
  if (replacing) {
    if (!replaceable(target))
      return false;
    if (ReplaceFileW(target.c_str(), temporary.c_str(), nullptr,
                     REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr) != 0)
      return true;
    if (GetLastError() != ERROR_UNABLE_TO_MOVE_REPLACEMENT)
      return false;
  }
  return MoveFileExW(temporary.c_str(), target.c_str(),
                     MOVEFILE_REPLACE_EXISTING) != 0;
}

}  // namespace

const commit_calls system_commit_calls = {close_stream, sync_stream,
                                          rename_file};

int last_error() { return static_cast<int>(GetLastError()); }

void remove_file(const system_name& name) { (void)DeleteFileW(name.c_str()); }

void close_descriptor(int descriptor) {
  if (descriptor >= 0)
    (void)_close(descriptor);
}

std::string utf8_name(const system_name& name) { return utf8_of(name); }

unsigned long process_number() { return GetCurrentProcessId(); }

bool system_error::held_by_another_program() const {
  return code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION;
}

// Asking for the attributes alone opens no device for writing; a device
// such as NUL or CON, a pipe or a console is no disk file.
bool names_stream(const char* name) {
  const HANDLE probe =
      CreateFileW(utf16_of(name).c_str(), FILE_READ_ATTRIBUTES, share_all,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (probe == INVALID_HANDLE_VALUE)
    return false;
  const bool stream = GetFileType(probe) != FILE_TYPE_DISK;
  (void)CloseHandle(probe);
  return stream;
}

open_result output_file::open_name(std::FILE* input, const char* name,
                                   precious_test precious) {
  const system_name wide = utf16_of(name);
  const destination d = destination_of(input, wide);
  open_result result;
  switch (d.what) {
    case destination::kind::refused:
      result.cause.code = static_cast<int>(d.error);
      return result;
    case destination::kind::input:
      result.outcome = open_outcome::is_input;
      return result;
    case destination::kind::absent:
      break;
    case destination::kind::device: {
      const int descriptor = _wopen(wide.c_str(), _O_WRONLY | _O_TEXT);
      stream_ = descriptor < 0 ? nullptr : _fdopen(descriptor, "w");
      if (stream_ == nullptr) {
        result.cause.code = last_error();
        close_descriptor(descriptor);
        return result;
      }
      state_ = state::direct;
      result.outcome = open_outcome::opened;
      return result;
    }
    case destination::kind::regular: {
      result.precious_kind = why_precious(d.target, d.identity, precious);
      if (result.precious_kind != 0) {
        result.outcome = open_outcome::precious;
        return result;
      }
      // The read-only attribute refuses it too.
      if (!replaceable(d.target)) {
        result.cause.code = last_error();
        return result;
      }
      break;
    }
  }
  const bool replacing = d.what == destination::kind::regular;
  if (stage(replacing ? d.target : wide, replacing, -1))
    result.outcome = open_outcome::opened;
  else
    result.cause.code = last_error();
  return result;
}

// The file shares no reading while the run writes it, so that no other
// program can read it before it is complete; the run itself may read it
// through the stream's handle, as the .xlsx writer reads back what the
// library wrote. It shares writing, which only those whom its folder lets
// write there can ask for, so that a writer that opens files by name, as
// the .xlsx library does, writes it in place.
bool output_file::stage(const system_name& target, bool replacing,
                        int /*source*/) {
  target_ = full_name(target);
  replacing_ = replacing;
  catch_interruptions();
  for (int attempt = 0; attempt < temporary_attempts; ++attempt) {
    temporary_ = temporary_name(target_, "", attempt);
    const registry_lock held;
    const HANDLE handle =
        CreateFileW(temporary_.c_str(), GENERIC_READ | GENERIC_WRITE,
                    FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS)
      continue;
    if (handle == INVALID_HANDLE_VALUE)
      return false;
    register_temporary(temporary_);
    // The output is text, so that its rows end in CR LF.
    const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle),
                                           _O_WRONLY | _O_TEXT);
    stream_ = descriptor < 0 ? nullptr : _fdopen(descriptor, "w");
    if (stream_ != nullptr) {
      state_ = state::staged;
      return true;
    }
    const DWORD error = GetLastError();
    if (descriptor < 0)
      (void)CloseHandle(handle);
    else
      (void)_close(descriptor);
    remove_temporary();
    SetLastError(error);
    return false;
  }
  return false;
}

// ReplaceFileW gives the file the old one's attributes and security as it
// puts it in place.
bool output_file::take_attributes() { return true; }

}  // namespace qsoflat
