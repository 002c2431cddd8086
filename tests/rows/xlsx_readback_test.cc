#include "rows/xlsx_readback.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "rows/xlsx_library.h"
#include "rows/xlsx_writer.h"

namespace qsoflat {

namespace {

namespace fs = std::filesystem;

// Whether the bytes, as a file of their own, read back whole with those
// facts.
bool reads_whole(const xlsx_library& library, const std::string& bytes,
                 const std::vector<sheet_facts>& facts) {
  const fs::path name =
      fs::temp_directory_path() / "qsoflat-readback-copy.xlsx";
  std::FILE* file = std::fopen(name.string().c_str(), "w+b");
  if (file == nullptr) {
    ADD_FAILURE() << "could not make " << name;
    return false;
  }
  EXPECT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), file), bytes.size());
  EXPECT_EQ(std::fflush(file), 0);
  std::rewind(file);
  const bool whole = workbook_is_whole(library, file, facts);
  std::fclose(file);
  fs::remove(name);
  return whole;
}

// A workbook of the header and two QSOs, as the writer makes it, and the
// facts that it reads back whole with: the rows' size is the one size for
// which it does, found by trying each, so that the test does not take it
// from the code it checks.
struct written_book {
  std::string bytes;
  std::vector<sheet_facts> facts;
};

written_book two_qsos(const xlsx_library& library) {
  const fs::path file = fs::temp_directory_path() / "qsoflat-readback.xlsx";
  {
    xlsx_writer writer(file.string().c_str(), nullptr, fixed_columns());
    writer.header();
    qso_record record(fixed_columns().slot_count());
    record.set(2, "Q1AAA");
    EXPECT_TRUE(writer.row(record));
    record.clear();
    record.set(2, "Q1AAB & <Q1AAC>");
    EXPECT_TRUE(writer.row(record));
    EXPECT_TRUE(writer.finish());
  }
  std::ifstream in(file, std::ios::binary);
  written_book book{{std::istreambuf_iterator<char>(in), {}}, {{0, 3, 3}}};
  in.close();
  fs::remove(file);
  for (auto& size = book.facts[0].rows_bytes; size < 65536; ++size)
    if (reads_whole(library, book.bytes, book.facts))
      return book;
  ADD_FAILURE() << "no size of the rows reads the workbook back whole";
  return book;
}

// The byte at which the sheet's compressed XML begins, past its local
// header.
std::size_t sheet_data_at(const std::string& bytes) {
  const std::string name = "xl/worksheets/sheet1.xml";
  const std::size_t header = bytes.find(name) - 30;
  const auto u16 = [&](std::size_t at) {
    return static_cast<unsigned char>(bytes[at]) |
           static_cast<unsigned char>(bytes[at + 1]) << 8;
  };
  return header + 30 + u16(header + 26) + u16(header + 28);
}

// A workbook reads back whole with its own facts only: a byte short or
// over, a byte of a sheet changed, or facts that tell of more than was
// written, each fail it.
TEST(XlsxReadback, TellsAWholeWorkbookFromADamagedOne) {
  const xlsx_library* library = xlsx_library_functions();
  if (library == nullptr)
    GTEST_SKIP() << "libxlsxwriter could not be loaded";
  const written_book book = two_qsos(*library);
  ASSERT_GT(book.facts[0].rows_bytes, 0u);

  using sheets = std::vector<sheet_facts>;
  struct damage {
    const char* name;
    void (*apply)(std::string& bytes, sheets& facts);
  };
  const damage cases[] = {
      {"the last byte cut off", [](std::string& b, sheets&) { b.pop_back(); }},
      {"a byte after the end", [](std::string& b, sheets&) { b += '\0'; }},
      {"a byte of the sheet changed",
       [](std::string& b, sheets&) { b[sheet_data_at(b) + 8] ^= 0x01; }},
      {"a row more", [](std::string&, sheets& f) { ++f[0].rows; }},
      {"a later last row", [](std::string&, sheets& f) { ++f[0].last_row; }},
      {"a byte more of rows",
       [](std::string&, sheets& f) { ++f[0].rows_bytes; }},
      {"a byte less of rows",
       [](std::string&, sheets& f) { --f[0].rows_bytes; }},
      {"a second sheet", [](std::string&, sheets& f) { f.push_back(f[0]); }},
  };
  for (const damage& d : cases) {
    std::string bytes = book.bytes;
    sheets facts = book.facts;
    d.apply(bytes, facts);
    EXPECT_FALSE(reads_whole(*library, bytes, facts)) << d.name;
  }
}

}  // namespace

}  // namespace qsoflat
