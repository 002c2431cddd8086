// Runs the built program as a user would, each case in a fresh folder, and
// checks its exit status, standard error and standard output, the file it
// writes and that it leaves its input as it was.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/wait.h>
#endif

namespace fs = std::filesystem;

namespace {

using namespace std::string_literals;

const std::string usage_line = "Usage:\tqsoflat <input.ADI> [output.CSV]\n\n";
const std::string header =
    "CALL,BAND,MODE,QSO_DATE,TIME_ON,QSL_RCVD,QSLRDATE,DXCC,PFX,CQZ,ITUZ,"
    "IOTA,GRIDSQUARE,STATE,CNTY\n";
const std::string worked_report =
    "Status report header\n<PROGRAMID:4>LoTW\n<eoh>\n\n"
    "<APP_LoTW_OWNCALL:6>N0CALL\n<STATION_CALLSIGN:6>N0CALL\n<CALL:5>Q1AAA\n"
    "<BAND:3>20M\n<MODE:3>SSB\n<QSO_DATE:8>20121003\n<TIME_ON:6>101220\n"
    "<QSL_RCVD:1>Y\n<QSLRDATE:8>20121013\n<DXCC:3>291\n<CNTY:11>CT,HARTFORD\n"
    "<eor>\n\n<APP_LoTW_EOF>\n";
const std::string worked_row =
    "Q1AAA,20M,SSB,3-Oct-2012,1012,Y,13-Oct-2012,291,,,,,,,\"CT,HARTFORD\"\n";

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void write_file(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// Every file below the folder by its relative path, with its bytes.
std::map<std::string, std::string> files_in(const fs::path& folder) {
  std::map<std::string, std::string> files;
  for (const fs::directory_entry& entry :
       fs::recursive_directory_iterator(folder))
    if (!entry.is_directory())
      files[fs::relative(entry.path(), folder).generic_string()] =
          read_file(entry.path());
  return files;
}

// A fresh folder below the system's temporary folder: "work" is where the
// program runs, and its standard streams are kept beside it.
class scratch {
 public:
  scratch() {
    static int serial = 0;
    const auto stamp =
        std::chrono::steady_clock::now().time_since_epoch().count();
    do {
      root_ = fs::temp_directory_path() /
              ("qsoflat-cli-" + std::to_string(stamp) + "-" +
               std::to_string(++serial));
    } while (!fs::create_directory(root_));
    fs::create_directory(work());
  }
  ~scratch() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  fs::path work() const { return root_ / "work"; }
  fs::path root() const { return root_; }

 private:
  fs::path root_;
};

struct run_result {
  std::string command;
  int status = -1;
  std::string out;
  std::string err;
  std::map<std::string, std::string> changed;  // files made or altered
};

std::ostream& operator<<(std::ostream& os, const run_result& r) {
  os << "\ncommand: " << r.command << "\nstatus: " << r.status
     << "\nstderr: [" << r.err << "]\nstdout: [" << r.out << "]";
  for (const auto& [name, bytes] : r.changed)
    os << "\nwrote " << name << ": [" << bytes << "]";
  return os;
}

// Runs the program in the folder. Setup is a shell command run there first,
// limit one run in the program's own shell, such as a ulimit.
run_result run(const scratch& dir, const std::string& setup,
               const std::string& args, const std::string& limit = "") {
  run_result r;
  const std::string prefix = limit.empty() ? "" : limit + " && ";
  r.command = (setup.empty() ? "" : setup + " && ") + prefix + "qsoflat " + args;
  if (!setup.empty()) {
    const std::string shell = "cd \"" + dir.work().string() + "\" && " + setup;
    EXPECT_EQ(std::system(shell.c_str()), 0) << setup;
  }
  const auto before = files_in(dir.work());
  const std::string shell = "cd \"" + dir.work().string() + "\" && " +
                            prefix + "\"" +
                            QSOFLAT_BINARY + "\" " + args + " >\"" +
                            (dir.root() / "stdout").string() + "\" 2>\"" +
                            (dir.root() / "stderr").string() + "\"";
  const int raw = std::system(shell.c_str());
#ifdef _WIN32
  r.status = raw;
#else
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
#endif
  r.out = read_file(dir.root() / "stdout");
  r.err = read_file(dir.root() / "stderr");
  for (const auto& [name, bytes] : files_in(dir.work())) {
    const auto old = before.find(name);
    if (old == before.end() || old->second != bytes)
      r.changed[name] = bytes;
  }
  return r;
}

// Standard error less the banner, which must come first and be whole.
std::string after_banner(const std::string& err) {
  const std::string start =
      "\nConvert LoTW ADIF to CSV format - Version 1.3\nBrevandel, Q9ZZ - ";
  const std::string stamp_shape = "Aaa dd dddd dd:dd:dd\n\n";
  bool whole = err.compare(0, start.size(), start) == 0 &&
               err.size() >= start.size() + stamp_shape.size();
  for (std::size_t i = 0; whole && i < stamp_shape.size(); ++i) {
    const char c = err[start.size() + i];
    const char shape = stamp_shape[i];
    if (shape == 'd')
      whole = std::isdigit(static_cast<unsigned char>(c)) || (i == 4 && c == ' ');
    else if (shape == 'A' || shape == 'a')
      whole = std::isalpha(static_cast<unsigned char>(c));
    else
      whole = c == shape;
  }
  return whole ? err.substr(start.size() + stamp_shape.size())
               : "<no banner> " + err;
}

struct cli_case {
  const char* what;
  std::map<std::string, std::string> inputs;
  std::string setup;
  std::string args;
  int status;
  std::string err;                              // after the banner
  std::map<std::string, std::string> changed;  // the output, if any
};

const cli_case cli_cases[] = {
    {"no arguments", {}, "", "", 1, usage_line, {}},
    {"three arguments", {{"a", "x"}}, "", "a b c", 1, usage_line, {}},
    {"missing input", {}, "", "nope.adi", 1, "Could not open LoTW file nope.adi\n\n" + usage_line, {}},
    {"folder as input", {}, "mkdir sub.adi", "sub.adi", 1, "Could not open LoTW file sub.adi\n\n" + usage_line, {}},
    {"output cannot be opened", {{"log.adi", worked_report}}, "", "log.adi no/out.csv", 1, "Could not open output file no/out.csv\n\n" + usage_line, {}},
    {"worked run", {{"log.adi", worked_report}}, "", "log.adi", 0, "Wrote 1 QSOs to log.csv\n", {{"log.csv", header + worked_row}}},
    {"CR LF report", {{"log.adi", "<APP_LoTW_OWNCALL:1>N\r\n<CALL:5>Q1AAA\r\n<eor>\r\n"}}, "", "log.adi", 0, "Wrote 1 QSOs to log.csv\n", {{"log.csv", header + "Q1AAA,,,,,,,,,,,,,,\n"}}},
    {"given output name", {{"log.adi", worked_report}}, "", "log.adi out.txt", 0, "Wrote 1 QSOs to out.txt\n", {{"out.txt", header + worked_row}}},
    {"existing output is truncated", {{"log.adi", worked_report}}, "seq 1000 > out.csv", "log.adi out.csv", 0, "Wrote 1 QSOs to out.csv\n", {{"out.csv", header + worked_row}}},
    {"no complete record", {{"log.adi", "<APP_LoTW_OWNCALL:1>N\n<CALL:1>A\n"}}, "", "log.adi", 0, "Wrote 0 QSOs to log.csv\n", {{"log.csv", header}}},
    {"unknown field ends the reading", {{"log.adi", "<APP_LoTW_OWNCALL:1>N\n<CALL:1>A\n<eor>\n<MY_DXCC:3>291\n<eor>\n"}}, "", "log.adi", 0, "Unrecognized ADIF field <MY_DXCC:3>291\nWrote 1 QSOs to log.csv\n", {{"log.csv", header + "A,,,,,,,,,,,,,,\n"}}},
    {"name without a dot", {{"lotwreport", worked_report}}, "", "lotwreport", 0, "Wrote 1 QSOs to lotwreport.csv\n", {{"lotwreport.csv", header + worked_row}}},
    {"dot in a folder name", {}, "mkdir sub.d && printf '<eor>\\n' > sub.d/log.adi", "sub.d/log.adi", 0, "Wrote 1 QSOs to sub.d/log.csv\n", {{"sub.d/log.csv", header + ",,,,,,,,,,,,,,\n"}}},
    {"derived name is the input", {{"x.csv", worked_report}}, "", "x.csv", 1, "Output file x.csv is the input file\n\n" + usage_line, {}},
    {"given name is the input", {{"log.adi", worked_report}}, "", "log.adi ./log.adi", 1, "Output file ./log.adi is the input file\n\n" + usage_line, {}},
    {"given name is a hard link to the input", {{"log.adi", worked_report}}, "ln log.adi link.csv", "log.adi link.csv", 1, "Output file link.csv is the input file\n\n" + usage_line, {}},
    {"long value is written whole", {{"log.adi", "<CNTY:1>" + std::string(5000, 'y') + "\n<eor>\n"}}, "", "log.adi", 0, "Wrote 1 QSOs to log.csv\n", {{"log.csv", header + ",,,,,,,,,,,,,,\"" + std::string(5000, 'y') + "\"\n"}}},
#ifdef __linux__
    {"full disk", {{"log.adi", worked_report}}, "", "log.adi /dev/full", 1, "Could not write output file /dev/full\n", {}},
    {"read error", {}, "", "/proc/self/mem mem.csv", 1, "Could not read LoTW file /proc/self/mem\n", {{"mem.csv", header}}},
#endif
};

TEST(Cli, RunsAsTheTableSays) {
  for (const cli_case& c : cli_cases) {
    SCOPED_TRACE(c.what);
    scratch dir;
    for (const auto& [name, bytes] : c.inputs)
      write_file(dir.work() / name, bytes);
    const run_result r = run(dir, c.setup, c.args);
    EXPECT_EQ(r.status, c.status) << r;
    EXPECT_EQ(after_banner(r.err), c.err) << r;
    EXPECT_EQ(r.out, "") << r;
    EXPECT_EQ(r.changed, c.changed) << r;
  }
}

TEST(Cli, ConvertsTheExampleReport) {
  scratch dir;
  const fs::path examples = QSOFLAT_EXAMPLES;
  write_file(dir.work() / "lotwreport.adi",
             read_file(examples / "lotwreport.adi"));
  const run_result r = run(dir, "", "lotwreport.adi");
  EXPECT_EQ(r.status, 0) << r;
  EXPECT_EQ(after_banner(r.err), "Wrote 4 QSOs to lotwreport.csv\n") << r;
  const std::map<std::string, std::string> expected = {
      {"lotwreport.csv", read_file(examples / "lotwreport.csv")}};
  EXPECT_EQ(r.changed, expected) << r;
}

#ifdef __linux__
TEST(Cli, ReportsOutOfMemory) {
  scratch dir;
  write_file(dir.work() / "big.adi", "<CALL:1>" + std::string(50000000, 'A'));
  const run_result r = run(dir, "", "big.adi", "ulimit -v 40000");
  EXPECT_EQ(r.status, 1) << r;
  EXPECT_EQ(after_banner(r.err), "Out of memory\n") << r;
  const std::map<std::string, std::string> header_only = {{"big.csv", header}};
  EXPECT_EQ(r.changed, header_only) << r;
}
#endif

}  // namespace
