// A file name as the system's calls take it: UTF-16 on Windows.
#ifndef QSOFLAT_SYSTEM_SYSTEM_NAME_H_
#define QSOFLAT_SYSTEM_SYSTEM_NAME_H_

#include <string>

namespace qsoflat {

// name_separators: the characters after which the last part of a name, the
// file's own name in its folder, begins.
#ifdef _WIN32
using system_name = std::wstring;
inline constexpr wchar_t name_separators[] = L"/\\:";
#else
using system_name = std::string;
inline constexpr char name_separators[] = "/";
#endif

}  // namespace qsoflat

#endif  // QSOFLAT_SYSTEM_SYSTEM_NAME_H_
