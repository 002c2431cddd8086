// Files for the tests: in-memory-like streams, where a temporary file stands
// in for an input or output, since that works on every platform's standard
// library; the files of a folder; and text as UTF-16.
#ifndef QSOFLAT_TEST_FILES_H_
#define QSOFLAT_TEST_FILES_H_

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
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

// The bytes of the file at path; empty where there is none.
inline std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The regular files below a folder, by their path from it written with "/",
// and their bytes. A FIFO is left out, since reading it would wait for a
// writer.
using files = std::map<std::string, std::string>;
inline files files_in(const std::filesystem::path& folder) {
  files found;
  for (const auto& entry :
       std::filesystem::recursive_directory_iterator(folder))
    if (entry.is_regular_file())
      found[std::filesystem::relative(entry.path(), folder)
                .generic_u8string()] = read_file(entry.path());
  return found;
}

// ASCII text as UTF-16: little-endian after its byte-order mark, or
// big-endian without one.
inline std::string utf16_of_ascii(std::string_view text, bool little = true) {
  std::string wide = little ? "\xFF\xFE" : "";
  for (const char c : text)
    wide += little ? std::string{c, '\0'} : std::string{'\0', c};
  return wide;
}

}  // namespace qsoflat

#endif  // QSOFLAT_TEST_FILES_H_
