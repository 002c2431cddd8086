#include "app/qsoflat.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstddef>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace qsoflat {

namespace {

namespace fs = std::filesystem;

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Reports dropped on the program that stop at a field it does not know are
// each read again whole when the user answers S, in either case, and left
// as they stopped for any other answer, which after the last report closes
// the window.
TEST(ConvertDropped, ReadsAReportWholeOnlyWhenAnsweredS) {
  const std::string report =
      "<APP_LoTW_OWNCALL:6>N0CALL\n<CALL:5>Q1AAA\n<eor>\n"
      "<CALL:5>Q1AAB\n<MY_DXCC:3>291\n<eor>\n<APP_LoTW_EOF>\n";
  const std::string header =
      "CALL,BAND,MODE,QSO_DATE,TIME_ON,QSL_RCVD,QSLRDATE,DXCC,PFX,CQZ,ITUZ,"
      "IOTA,GRIDSQUARE,STATE,CNTY\n";
  const std::string stopped = header + "Q1AAA,,,,,,,,,,,,,,\n";
  const std::string whole = stopped + "Q1AAB,,,,,,,,,,,,,,\n";
  const struct {
    std::vector<std::string> answers;  // one for each report, in order
    std::vector<std::string> outputs;
    int status;
    bool closed_by_answer;
  } cases[] = {
      {{"S"}, {whole}, 0, false},
      {{"s"}, {whole}, 0, false},
      {{""}, {stopped}, 1, true},
      {{"SS"}, {stopped}, 1, true},
      {{"", "S"}, {stopped, whole}, 1, false},
  };
  const fs::path folder = fs::temp_directory_path() /
                          ("qsoflat-dropped-" + std::to_string(getpid()));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.answers.front());
    fs::remove_all(folder);
    fs::create_directories(folder);
    std::vector<std::string> names;
    for (std::size_t i = 0; i < c.answers.size(); ++i) {
      names.push_back((folder / ("r" + std::to_string(i) + ".adi")).u8string());
      std::ofstream(fs::u8path(names.back()), std::ios::binary) << report;
    }
    std::size_t asked = 0;
    const program_end end =
        convert_dropped(names, run_options(),
                        [&](const char*) { return c.answers.at(asked++); });
    EXPECT_EQ(asked, c.answers.size());
    EXPECT_EQ(end.status, c.status);
    EXPECT_EQ(end.closed_by_answer, c.closed_by_answer);
    for (std::size_t i = 0; i < c.outputs.size(); ++i)
      EXPECT_EQ(read_file(folder / ("r" + std::to_string(i) + ".csv")),
                c.outputs[i]);
  }
  fs::remove_all(folder);
}

}  // namespace

}  // namespace qsoflat
