// In-memory-like streams for the unit tests: a temporary file stands in for
// an input or output, since that works on every platform's standard library.
#ifndef QSOFLAT_TEST_FILES_H_
#define QSOFLAT_TEST_FILES_H_

#include <cstdio>
#include <string>
#include <string_view>

namespace qsoflat {

// A temporary file holding the bytes, positioned at its start.
inline std::FILE* file_holding(std::string_view bytes) {
  std::FILE* file = std::tmpfile();
  if (file != nullptr) {
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::rewind(file);
  }
  return file;
}

// Everything written to the file so far.
inline std::string contents_of(std::FILE* file) {
  std::fflush(file);
  std::rewind(file);
  std::string bytes;
  char chunk[4096];
  std::size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
    bytes.append(chunk, got);
  return bytes;
}

}  // namespace qsoflat

#endif  // QSOFLAT_TEST_FILES_H_
