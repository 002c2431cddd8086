// What the shared part of the output unit asks of each system, defined in
// output_file_posix.cc and output_file_windows.cc, and what it gives both.
#ifndef QSOFLAT_SYSTEM_OUTPUT_SYSTEM_H_
#define QSOFLAT_SYSTEM_OUTPUT_SYSTEM_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "system/output_file.h"
#include "system/system_name.h"

namespace qsoflat {

// Each system's own, in its file:

// The cause the last failed call left: errno, or GetLastError.
int last_error();
// Removes the file, if it is there.
void remove_file(const system_name& name);
// Closes a descriptor that the output holds, unless it is -1.
void close_descriptor(int descriptor);
// The name in UTF-8.
std::string utf8_name(const system_name& name);
// This process's number, which keeps its temporary names apart from those
// of another run.
unsigned long process_number();

// Shared by both, in output_file.cc:

// The folder that holds the named file, as a name the system's calls take:
// "." for a name in the working folder.
system_name folder_of(const system_name& name);

// The attempt-th temporary name for a file beside target, in its folder:
// ".qsoflat-", this process's number, "-", the role ("" for the output
// itself, another word and "-" for a file made for another purpose), the
// attempt and ".tmp". A file starting with a dot is hidden on POSIX
// systems, and the process's number keeps two runs apart.
system_name temporary_name(const system_name& target, std::string_view role,
                           int attempt);

// Reads up to count bytes at offset of a file into bytes, and says how many
// it read: 0 at the end of the file or on a failure.
using read_call = std::function<std::size_t(char* bytes, std::size_t count,
                                            std::uint64_t offset)>;

// What precious says of a regular file of size bytes, from its first and
// last bytes as precious_test's contract has them, read by read_some. The
// system opens the file and checks that it is the one to be replaced; this
// is where the parts are chosen.
int test_head_and_tail(std::uint64_t size, const read_call& read_some,
                       precious_test precious);

}  // namespace qsoflat

#endif  // QSOFLAT_SYSTEM_OUTPUT_SYSTEM_H_
