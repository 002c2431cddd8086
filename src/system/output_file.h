// The output file from its name to its place: it refuses the input, writes a
// file under a temporary name beside the one it replaces, and puts it in
// place or discards it; a descriptor, a pipe or a device it writes directly.
// What both systems share is here and in output_file.cc; the opening and
// staging of each system are in output_file_posix.cc and
// output_file_windows.cc, and the registry of the temporary file that an
// interruption removes is temporary_file.h.
#ifndef QSOFLAT_SYSTEM_OUTPUT_FILE_H_
#define QSOFLAT_SYSTEM_OUTPUT_FILE_H_

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

#include "system/system_name.h"

namespace qsoflat {

// The system calls that a commit makes, which a test replaces to make one
// of them fail. Each failure leaves its cause in errno or GetLastError.
struct commit_calls {
  int (*close)(std::FILE* stream);  // as fclose
  bool (*sync)(std::FILE* stream);  // whether the bytes reached the disk
  // Gives the temporary file the target's name; replacing tells whether a
  // file had that name when the output was opened.
  bool (*rename)(const system_name& temporary, const system_name& target,
                 bool replacing);
};
extern const commit_calls system_commit_calls;

// Why a call failed, as the system said: errno, or GetLastError on Windows;
// 0 where no call said.
struct system_error {
  int code = 0;
  // Whether another program holds the file open (Windows' sharing and lock
  // violations; never on POSIX systems).
  bool held_by_another_program() const;
};

enum class open_outcome { opened, is_input, precious, failed };

struct open_result {
  open_outcome outcome = open_outcome::failed;
  int precious_kind = 0;  // precious: what the caller's test said
  system_error cause;     // failed: why
};

// Tells from a file's first bytes and its last ones, at most
// precious_part_size of each, why it must be kept rather than replaced,
// or 0 where it need not be. The tail starts at an even offset of the file,
// after the head or overlapping it, and is empty for a file the head holds
// whole.
using precious_test = int (*)(std::string_view head, std::string_view tail);
constexpr std::size_t precious_part_size = std::size_t{64} * 1024;

class output_file {
 public:
  output_file() = default;
  output_file(const output_file&) = delete;
  output_file& operator=(const output_file&) = delete;
  // Whatever ends the run before the commit, the old file stays as it was
  // and no temporary file is left.
  ~output_file() { discard(); }

  // Opens the output as the system lets this user open the name: the input
  // under any name is refused, and so is a link that another user planted
  // in a shared folder, or a file this user could not replace. A name that
  // leads to a descriptor the program holds, as the shell opened it, is
  // written through that descriptor, and a FIFO or device as it is; a
  // regular file, or a name not yet taken, is written under a temporary
  // name in its folder until the commit. The temporary file is private to
  // this user until the commit. A link's target is what is replaced. Until
  // the commit or discard, an interrupting signal or console event removes
  // the temporary file before the process ends. A regular file to be
  // replaced that precious finds precious is refused; a FIFO, a device or a
  // descriptor is never read for it.
  open_result open(std::FILE* input, const char* name,
                   precious_test precious = nullptr);

  // Where the rows go; null unless opened.
  std::FILE* stream() const { return stream_; }

  // Whether the output is written to a regular temporary file, which a
  // writer that opens files by name may write in place by staged_name();
  // the commit then gives it its attributes and its place as it would the
  // stream's bytes. Otherwise the output is a pipe, a device or a
  // descriptor, which only the stream reaches.
  bool is_staged() const { return state_ == state::staged; }
  // The temporary file's name in UTF-8; empty unless staged.
  std::string staged_name() const;
  // The folder of the temporary file in UTF-8, as a name the system's calls
  // take ("." for the working folder), where such a writer may keep files
  // of its own; empty unless staged.
  std::string staged_folder() const;

  // Closes the output and puts it in place of the old file, which keeps
  // its mode, group and access control list: the new file takes them only
  // now, complete. False, with the cause in failure(), when closing,
  // keeping those or replacing failed, which leaves the old file as it
  // was. Once the rename has begun, the run ends as it would without an
  // interrupting signal, so that its messages tell what became of the file.
  bool commit(const commit_calls& calls = system_commit_calls);

  // Why the last open or commit failed.
  system_error failure() const { return failure_; }

  // Closes the output and removes the temporary file: the old file stays
  // as it was.
  void discard();

 private:
  enum class state {
    closed,  // nothing open: before open, after a refusal, and when done
    direct,  // stream_ writes the named file, device or descriptor itself
    staged,  // stream_ writes temporary_, which is to take target_'s name
  };
  // Each system's own, in its file.
  open_result open_name(std::FILE* input, const char* name,
                        precious_test precious);
  // The temporary file is made beside target. source is a descriptor on
  // the file whose attributes the new file takes at the commit (POSIX) or
  // -1; the object keeps it until then.
  bool stage(const system_name& target, bool replacing, int source);
  // Gives the complete temporary file the attributes it is to have.
  bool take_attributes();
  bool put_in_place(const commit_calls& calls);
  void remove_temporary();
  bool fail(int code);
  // Invariant: the stream is open exactly when the state is not closed, and
  // only a staged file keeps a source of attributes.
  bool holds_invariant() const {
    return (state_ == state::closed) == (stream_ == nullptr) &&
           (source_ == -1 || state_ == state::staged);
  }

  state state_ = state::closed;
  std::FILE* stream_ = nullptr;
  system_name target_;      // staged: the name the file takes at the commit
  system_name temporary_;   // staged: the name it has until then
  bool replacing_ = false;  // staged: whether a file has target_'s name
  int source_ = -1;         // staged: whose attributes it takes, or -1
  system_error failure_;
};

// Whether the name leads to a FIFO, a terminal, a device or a socket, told
// from what the system says of the name without opening it, so that nothing
// waits for a FIFO's reader; false for a file, a folder or a name not taken.
bool names_stream(const char* name);

}  // namespace qsoflat

#endif  // QSOFLAT_SYSTEM_OUTPUT_FILE_H_
