// The output file from its name to its place: it refuses the input, writes a
// file under a temporary name beside the one it replaces, and puts it in
// place or discards it; a descriptor, a pipe or a device it writes directly.
#ifndef QSOFLAT_OUTPUT_FILE_H_
#define QSOFLAT_OUTPUT_FILE_H_

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

// A file name as the system's calls take it: UTF-16 on Windows.
#ifdef _WIN32
using system_name = std::wstring;
#else
using system_name = std::string;
#endif

// The system calls that a commit makes, which a test replaces to make one
// of them fail.
struct commit_calls {
  int (*close)(std::FILE* stream);  // as fclose
  bool (*sync)(std::FILE* stream);  // whether the bytes reached the disk
  // Gives the temporary file the target's name; replacing tells whether a
  // file had that name when the output was opened.
  bool (*rename)(const system_name& temporary, const system_name& target,
                 bool replacing);
};
extern const commit_calls system_commit_calls;

enum class open_outcome { opened, is_input, precious, failed };

// Tells from a file's first bytes, at most precious_head_size of them,
// whether it must be kept rather than replaced.
using precious_test = bool (*)(std::string_view head);
constexpr std::size_t precious_head_size = std::size_t{64} * 1024;

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
  // name in its folder until the commit. A link's target is what is
  // replaced. Until the commit or discard, an interrupting signal or
  // console event removes the temporary file before the process ends.
  // A regular file to be replaced that precious finds precious is refused;
  // a FIFO, a device or a descriptor is never read for it.
  open_outcome open(std::FILE* input, const char* name,
                    precious_test precious = nullptr);

  // Where the rows go; null unless opened.
  std::FILE* stream() const { return stream_; }

  // Closes the output and puts it in place of the old file, which keeps
  // its mode, group and access control list where the system allows. False
  // when closing or replacing failed, which leaves the old file as it was.
  // Once the rename has begun, the run ends as it would without an
  // interrupting signal, so that its messages tell what became of the file.
  bool commit(const commit_calls& calls = system_commit_calls);

  // Closes the output and removes the temporary file: the old file stays
  // as it was.
  void discard();

 private:
  enum class state {
    closed,  // nothing open: before open, after a refusal, and when done
    direct,  // stream_ writes the named file, device or descriptor itself
    staged,  // stream_ writes temporary_, which is to take target_'s name
  };
  // Makes the temporary file for target. replaced is a descriptor open for
  // writing on the file to replace, whose attributes the new file takes, or
  // -1 for a name not yet taken.
  bool stage(const system_name& target, int replaced);
  bool put_in_place(const commit_calls& calls);

  state state_ = state::closed;
  std::FILE* stream_ = nullptr;
  system_name target_;     // staged: the name the file takes at the commit
  system_name temporary_;  // staged: the name it has until then
  bool replacing_ = false;  // staged: whether a file has target_'s name
};

#endif  // QSOFLAT_OUTPUT_FILE_H_
