// What differs between Windows and other systems: the arguments, opening the
// two files, putting the output in place, and writing a message. Inside the
// program a file name is UTF-8 on Windows, whatever the code page, and
// elsewhere the bytes it came as.
#ifndef QSOFLAT_PLATFORM_H_
#define QSOFLAT_PLATFORM_H_

#include <cstdio>
#include <string>
#include <vector>

// Opens the input to read its bytes as they are. Null when it cannot be
// opened, and for a folder, which opens on some systems but holds no text.
std::FILE* open_input_file(const char* name);

// A file name as the system's calls take it: UTF-16 on Windows.
#ifdef _WIN32
using system_name = std::wstring;
#else
using system_name = std::string;
#endif

struct output_file {
  std::FILE* stream = nullptr;  // open for writing as text; null if not
  bool is_input = false;        // the name leads to the input file
  system_name target;     // what commit_output replaces; empty when written
                          // directly
  system_name temporary;  // where the stream writes until then
};

// Opens the output unless it is the input under another name, a link, or
// another drive: the identity of the files decides, not the spelling. A
// regular file, or a name not yet taken, is written under a temporary name
// in its folder, so that the old file stays whole until commit_output; it
// opens only when the old file could be replaced and the folder takes a new
// one. A new file gets the permission bits a plain create gives, a replaced
// one keeps its own. Any other output (a FIFO, a terminal, /dev/null, NUL)
// is written directly. Until the commit or discard, an interrupting signal
// or console event removes the temporary file before the process ends.
output_file open_output_file(std::FILE* input, const char* name);

// Closes the output and puts it in place of the old file. False when
// closing or replacing failed, which leaves the old file as it was.
bool commit_output(output_file& out);

// Closes the output and removes the temporary file: the old file stays as
// it was.
void discard_output(output_file& out);

// Writes a message to standard error as fprintf would. On Windows a console
// shows every name as Explorer does; a redirected standard error gets the
// ANSI code page, with "?" for what it cannot hold.
void print_message(const char* format, ...)  // NOLINT(cert-dcl50-cpp)
    __attribute__((format(printf, 1, 2)));

// The arguments that Windows hands wmain in UTF-16, as the UTF-8 that the
// program takes every name in. Defined on Windows only.
std::vector<std::string> utf8_arguments(int argc, wchar_t** argv);

#endif  // QSOFLAT_PLATFORM_H_
