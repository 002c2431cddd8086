// What differs between Windows and other systems: the arguments, opening the
// two files, and writing a message. Inside the program a file name is UTF-8
// on Windows, whatever the code page, and elsewhere the bytes it came as.
#ifndef QSOFLAT_PLATFORM_H_
#define QSOFLAT_PLATFORM_H_

#include <cstdio>
#include <string>
#include <vector>

// Opens the input to read its bytes as they are. Null when it cannot be
// opened, and for a folder, which opens on some systems but holds no text.
std::FILE* open_input_file(const char* name);

struct output_file {
  std::FILE* stream;  // open for writing as text, emptied; null if not
  bool is_input;      // the name leads to the input file
};

// Opens the output unless it is the input under another name, a link, or
// another drive: the identity of the open files decides, not the spelling.
// Only a regular file is emptied, and only after that check.
output_file open_output_file(std::FILE* input, const char* name);

// Writes a message to standard error as fprintf would. On Windows a console
// shows every name as Explorer does; a redirected standard error gets the
// ANSI code page, with "?" for what it cannot hold.
void print_message(const char* format, ...)  // NOLINT(cert-dcl50-cpp)
    __attribute__((format(printf, 1, 2)));

// The arguments that Windows hands wmain in UTF-16, as the UTF-8 that the
// program takes every name in. Defined on Windows only.
std::vector<std::string> utf8_arguments(int argc, wchar_t** argv);

#endif  // QSOFLAT_PLATFORM_H_
