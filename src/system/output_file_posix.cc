#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>

#include "system/output_file.h"
#include "system/output_system.h"
#include "system/temporary_file.h"

namespace qsoflat {

namespace {

// Temporary names are tried in turn until one is free.
constexpr int temporary_attempts = 100;

// Descriptors below this are looked at for one the output's name leads to:
// far more than a shell's redirections give.
constexpr int held_descriptor_limit = 256;

// The access control list, kept whole by its extended attribute.
constexpr char acl_attribute[] = "system.posix_acl_access";

bool same_file(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool stat_folder(const system_name& name, struct stat& folder) {
  return stat(folder_of(name).c_str(), &folder) == 0;
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
  return (folder.st_mode & S_ISVTX) == 0 || user == 0 || user == file.st_uid ||
         user == folder.st_uid;
}

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

// What the output's name leads to, decided here alone.
struct destination {
  enum class kind {
    refused,  // no file this run may write: error says why
    input,    // the input file, under any name
    absent,   // a name not yet taken, which the run makes
    regular,  // a regular file to replace: target, by descriptor
    direct,   // written as it is, by descriptor: a FIFO, a device, or a
              // descriptor the program was given
  };
  kind what = kind::refused;
  int error = 0;
  system_name target;
  int descriptor = -1;  // open for writing; the caller closes it
  struct stat file {};
};

destination refused(int error) {
  destination d;
  d.error = error;
  return d;
}

// Opens the name for writing as the system's rules let this user. A FIFO
// with no reader yet is waited for, as a shell's redirection does.
int open_to_write(const char* name) {
  const int descriptor =
      ::open(name, O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (descriptor < 0 && errno == ENXIO)
    return ::open(name, O_WRONLY | O_NOCTTY | O_CLOEXEC);
  return descriptor;
}

// What a name that could not be opened for the error leads to: a name not
// yet taken is made; a dangling link leads to no file that could be
// replaced.
destination unopened(const char* name, int error) {
  struct stat link {};
  if (error != ENOENT || lstat(name, &link) == 0)
    return refused(error);
  destination d;
  d.what = destination::kind::absent;
  return d;
}

// A descriptor of the output's own on what is written directly, from the
// one the name was opened as (whose waiting for room is given back, as any
// other writer waits) or one the program was given (kept as the shell
// opened it, appending or into a pipe); -1 on a failure, with errno.
int direct_descriptor(int from, bool opened_by_name) {
  const int copy = fcntl(from, F_DUPFD_CLOEXEC, 0);
  if (copy >= 0 && opened_by_name)
    (void)fcntl(copy, F_SETFL, fcntl(copy, F_GETFL) & ~O_NONBLOCK);
  return copy;
}

// What the descriptor that the name was opened as for writing leads to,
// with the input's status where it is known. The destination takes the
// descriptor of a regular file; any other is closed.
destination destination_of_open(int descriptor, const char* name, int input,
                                const struct stat* input_status) {
  destination d;
  if (fstat(descriptor, &d.file) != 0) {
    d.error = errno;
  } else if (input_status != nullptr && same_file(*input_status, d.file)) {
    d.what = destination::kind::input;
  } else if (const int held = held_descriptor(d.file, input, descriptor);
             S_ISREG(d.file.st_mode) && held < 0) {
    d.target = replaced_name(name, d.file);
    if (!d.target.empty()) {
      d.what = destination::kind::regular;
      d.descriptor = descriptor;
      return d;
    }
    d.error = ENOENT;
  } else {
    d.descriptor = direct_descriptor(held >= 0 ? held : descriptor, held < 0);
    if (d.descriptor >= 0)
      d.what = destination::kind::direct;
    else
      d.error = errno;
  }
  (void)close(descriptor);
  return d;
}

// What the output's name leads to, for a run that reads the descriptor
// input.
destination destination_of(int input, const char* name) {
  if (planted_link(name))
    return refused(EACCES);
  // The input is told by a look at the name, which needs no leave to write.
  struct stat input_status {};
  const bool input_known = fstat(input, &input_status) == 0;
  struct stat named {};
  if (input_known && stat(name, &named) == 0 &&
      same_file(input_status, named)) {
    destination d;
    d.what = destination::kind::input;
    return d;
  }
  // The system's own open applies its rules to the name, and tells what
  // kind of file it leads to.
  const int descriptor = open_to_write(name);
  if (descriptor < 0)
    return unopened(name, errno);
  return destination_of_open(descriptor, name, input,
                             input_known ? &input_status : nullptr);
}

// Reads up to count bytes at offset, as read_call does.
std::size_t read_some_at(int descriptor, char* bytes, std::size_t count,
                         std::uint64_t offset) {
  for (;;) {
    const ssize_t size =
        pread(descriptor, bytes, count, static_cast<off_t>(offset));
    if (size >= 0 || errno != EINTR)
      return size > 0 ? static_cast<std::size_t>(size) : 0;
  }
}

// Why the regular file at name, still the one stat gave, is precious by its
// first and last bytes, or 0; a file that cannot be read cannot tell. It is
// opened without waiting, so that whatever took its name meanwhile cannot
// hold the run.
int why_precious(const system_name& name, const struct stat& file,
                 precious_test precious) {
  if (precious == nullptr)
    return 0;
  const int descriptor = ::open(
      name.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC);
  if (descriptor < 0)
    return 0;
  int kind = 0;
  struct stat status {};
  if (fstat(descriptor, &status) == 0 && same_file(status, file) &&
      S_ISREG(status.st_mode))
    kind = test_head_and_tail(
        static_cast<std::uint64_t>(status.st_size),
        [descriptor](char* bytes, std::size_t count, std::uint64_t offset) {
          return read_some_at(descriptor, bytes, count, offset);
        },
        precious);
  (void)close(descriptor);
  return kind;
}

// Whether the error says only that the file system keeps no such attribute.
bool no_attribute(int error) { return error == ENODATA || error == ENOTSUP; }

// The new file takes the old one's access control list whole, whatever its
// size, or none where the old one had none.
bool copy_acl(int from, int to) {
  std::string acl;
  for (;;) {
    ssize_t size = fgetxattr(from, acl_attribute, nullptr, 0);
    if (size < 0 && no_attribute(errno))
      return fremovexattr(to, acl_attribute) == 0 || no_attribute(errno);
    if (size < 0)
      return false;
    acl.resize(static_cast<std::size_t>(size));
    size = fgetxattr(from, acl_attribute, acl.data(), acl.size());
    if (size >= 0) {
      acl.resize(static_cast<std::size_t>(size));
      break;
    }
    if (errno != ERANGE)  // the list grew meanwhile: its size is asked again
      return false;
  }
  return fsetxattr(to, acl_attribute, acl.data(), acl.size(), 0) == 0;
}

// A descriptor on an empty file made as a plain create makes the output,
// beside target, under the umask and the folder's default access control
// list, whose attributes a new output takes at the commit; it is removed
// at once, the ending signals held back meanwhile, so that none leaves it
// behind. -1 where none could be made.
int plain_create_probe(const system_name& target) {
  const registry_lock held;
  for (int attempt = 0; attempt < temporary_attempts; ++attempt) {
    const system_name name = temporary_name(target, "mode-", attempt);
    const int descriptor =
        ::open(name.c_str(),
               O_RDONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (descriptor >= 0)
      (void)unlink(name.c_str());
    if (descriptor >= 0 || errno != EEXIST)
      return descriptor;
  }
  return -1;
}

}  // namespace

int last_error() { return errno; }

void remove_file(const system_name& name) { (void)unlink(name.c_str()); }

void close_descriptor(int descriptor) {
  if (descriptor >= 0)
    (void)close(descriptor);
}

std::string utf8_name(const system_name& name) { return name; }

unsigned long process_number() { return static_cast<unsigned long>(getpid()); }

bool system_error::held_by_another_program() const { return false; }

bool names_stream(const char* name) {
  struct stat status {};
  return stat(name, &status) == 0 && !S_ISREG(status.st_mode) &&
         !S_ISDIR(status.st_mode);
}

namespace {

int close_stream(std::FILE* stream) { return std::fclose(stream); }

bool sync_stream(std::FILE* stream) { return fsync(fileno(stream)) == 0; }

bool rename_file(const system_name& temporary, const system_name& target,
                 bool /*replacing*/) {
  return rename(temporary.c_str(), target.c_str()) == 0;
}

}  // namespace

const commit_calls system_commit_calls = {close_stream, sync_stream,
                                          rename_file};

open_result output_file::open_name(std::FILE* input, const char* name,
                                   precious_test precious) {
  // A file-size limit then fails a write, which the run reports, where its
  // signal would end the run with nothing said and the temporary file left.
  (void)std::signal(SIGXFSZ, SIG_IGN);
  destination d = destination_of(fileno(input), name);
  open_result result;
  switch (d.what) {
    case destination::kind::refused:
      result.cause.code = d.error;
      break;
    case destination::kind::input:
      result.outcome = open_outcome::is_input;
      break;
    case destination::kind::absent:
      if (stage(name, false, plain_create_probe(name)))
        result.outcome = open_outcome::opened;
      else
        result.cause.code = errno;
      break;
    case destination::kind::regular:
      result.precious_kind = why_precious(d.target, d.file, precious);
      if (result.precious_kind != 0) {
        result.outcome = open_outcome::precious;
      } else if (!renamable(d.target, d.file)) {
        result.cause.code = EACCES;
      } else {
        // The output holds the descriptor until the commit, or closes it.
        const int source = d.descriptor;
        d.descriptor = -1;
        if (stage(d.target, true, source))
          result.outcome = open_outcome::opened;
        else
          result.cause.code = errno;
      }
      break;
    case destination::kind::direct:
      stream_ = fdopen(d.descriptor, "w");
      if (stream_ != nullptr) {
        state_ = state::direct;
        result.outcome = open_outcome::opened;
        d.descriptor = -1;
      } else {
        result.cause.code = errno;
      }
      break;
  }
  close_descriptor(d.descriptor);
  return result;
}

// The file is made private: this user alone may read it, whatever the
// umask and the folder's default access control list, until the commit
// gives it the attributes it is to have. It is never one that was there
// before, nor a link.
bool output_file::stage(const system_name& target, bool replacing, int source) {
  if (source < 0)
    return false;  // errno tells why it could not be made
  target_ = target;
  replacing_ = replacing;
  catch_interruptions();
  for (int attempt = 0; attempt < temporary_attempts; ++attempt) {
    temporary_ = temporary_name(target, "", attempt);
    const registry_lock held;
    const int descriptor =
        ::open(temporary_.c_str(),
               O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (descriptor < 0 && errno == EEXIST)
      continue;
    if (descriptor < 0)
      break;
    register_temporary(temporary_);
    if (fremovexattr(descriptor, acl_attribute) == 0 || no_attribute(errno))
      stream_ = fdopen(descriptor, "w");
    if (stream_ != nullptr) {
      state_ = state::staged;
      source_ = source;
      return true;
    }
    const int error = errno;
    (void)close(descriptor);
    remove_temporary();
    errno = error;
    break;
  }
  const int error = errno;
  close_descriptor(source);
  errno = error;
  return false;
}

// The owner and group as far as this user may give them (the group alone
// when the owner cannot be kept), the access control list, then the mode,
// which sets the list's mask to the old one's. The set-ID bits stay only
// with their owner.
bool output_file::take_attributes() {
  const int descriptor = fileno(stream_);
  struct stat old {};
  if (fstat(source_, &old) != 0)
    return fail(errno);
  mode_t mode = old.st_mode & 07777;
  if (fchown(descriptor, old.st_uid, old.st_gid) != 0) {
    mode &= ~static_cast<mode_t>(S_ISUID | S_ISGID);
    (void)fchown(descriptor, static_cast<uid_t>(-1), old.st_gid);
  }
  if (!copy_acl(source_, descriptor) || fchmod(descriptor, mode) != 0)
    return fail(errno);
  return true;
}

}  // namespace qsoflat
