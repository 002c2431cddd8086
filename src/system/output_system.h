// What the shared part of the output unit asks of each system, defined in
// output_file_posix.cc and output_file_windows.cc.
#ifndef QSOFLAT_SYSTEM_OUTPUT_SYSTEM_H_
#define QSOFLAT_SYSTEM_OUTPUT_SYSTEM_H_

#include <string>

#include "system/system_name.h"

namespace qsoflat {

// The cause the last failed call left: errno, or GetLastError.
int last_error();
// Removes the file, if it is there.
void remove_file(const system_name& name);
// Closes a descriptor that the output holds, unless it is -1.
void close_descriptor(int descriptor);
// The name in UTF-8.
std::string utf8_name(const system_name& name);

}  // namespace qsoflat

#endif  // QSOFLAT_SYSTEM_OUTPUT_SYSTEM_H_
