// The program's side toward the user: the arguments and the file names as
// they come, the input opened by its name, and the messages on standard
// error, shown so that no name or line can steer the terminal. Inside the
// program a name is UTF-8 on Windows, whatever the code page, and elsewhere
// the bytes it came as.
#ifndef QSOFLAT_SYSTEM_CONSOLE_H_
#define QSOFLAT_SYSTEM_CONSOLE_H_

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace qsoflat {

// The text with each control character but tab shown as "?": the bytes
// below 0x20, DEL, the C1 controls U+0080 to U+009F, and the raw bytes 0x80
// to 0x9F that are no part of valid UTF-8, which some terminals also take
// as controls. Every other byte, valid UTF-8 or not, stays as it is.
std::string printable(std::string_view text);

// Writes a message to standard error as fprintf would. On Windows a console
// shows every name as Explorer does; a redirected standard error gets the
// ANSI code page, with "?" for what it cannot hold.
void print_message(const char* format, ...)  // NOLINT(cert-dcl50-cpp)
    __attribute__((format(printf, 1, 2)));

// Whether the program has a console of its own, as Explorer gives it to a
// program that is double-clicked or has files dropped on it: the program is
// the console's only process, and standard input and standard error are
// that console. A command prompt, PowerShell or a script shares its console
// with the program, and a redirection takes a stream away from it. Always
// false on systems without such consoles.
bool has_console_of_its_own();

// Writes the question to standard error and gives the line typed in
// answer, without its line end; empty at the end of the input.
std::string ask(const char* question);

// Ends the process with the status. With a console of its own, the window
// would close with the process, so the program first says so and waits
// for Enter, unless the user's last answer already closed it. Every way the
// program ends passes through here.
[[noreturn]] void end_program(int status, bool closed_by_answer = false);

// Opens the input to read its bytes as they are. Null when it cannot be
// opened, and for a folder, which opens on some systems but holds no text.
std::FILE* open_input_file(const char* name);

#ifdef _WIN32
// The arguments that Windows hands wmain in UTF-16, as the UTF-8 that the
// program takes every name in.
std::vector<std::string> utf8_arguments(int argc, wchar_t** argv);
#endif

}  // namespace qsoflat

#endif  // QSOFLAT_SYSTEM_CONSOLE_H_
