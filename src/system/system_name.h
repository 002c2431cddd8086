// A file name as the system's calls take it: UTF-16 on Windows.
#ifndef QSOFLAT_SYSTEM_SYSTEM_NAME_H_
#define QSOFLAT_SYSTEM_SYSTEM_NAME_H_

#include <string>

namespace qsoflat {

#ifdef _WIN32
using system_name = std::wstring;
#else
using system_name = std::string;
#endif

}  // namespace qsoflat

#endif  // QSOFLAT_SYSTEM_SYSTEM_NAME_H_
