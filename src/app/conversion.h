// One report converted: the input opened, the output opened or refused
// before a byte of the input is read, the writer of the output's kind, and
// the rows copied through it.
#ifndef QSOFLAT_APP_CONVERSION_H_
#define QSOFLAT_APP_CONVERSION_H_

#include <string>

#include "app/command_line.h"
#include "app/ending.h"

namespace qsoflat {

// Converts the report of that name into the output of that name, or
// refuses to, leaving every file as it was, and gives what the user is to
// be told, which it does not write itself.
ending convert(const std::string& input_name, const std::string& output_name,
               const run_options& options);

}  // namespace qsoflat

#endif  // QSOFLAT_APP_CONVERSION_H_
