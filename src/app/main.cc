#include <algorithm>

#include "app/qsoflat.h"
#include "system/console.h"

// Every run ends here, through end_program, which waits where the
// program's window would close with it.
#ifdef _WIN32
// Linked with -municode, the program starts here rather than at main, with
// its arguments in UTF-16, so that any file name reaches it whatever the
// code page; the program takes them on as UTF-8.
extern "C" int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> arguments = qsoflat::utf8_arguments(argc, argv);
  std::vector<char*> pointers(arguments.size() + 1, nullptr);
  std::transform(arguments.begin(), arguments.end(), pointers.begin(),
                 [](std::string& argument) { return argument.data(); });
  const qsoflat::program_end end = qsoflat::qsoflat_main(argc, pointers.data());
  qsoflat::end_program(end.status, end.closed_by_answer);
}
#else
int main(int argc, char** argv) {
  const qsoflat::program_end end = qsoflat::qsoflat_main(argc, argv);
  qsoflat::end_program(end.status, end.closed_by_answer);
}
#endif
