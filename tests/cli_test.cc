// Runs the built program as a user would, each case in a fresh folder, and
// checks its exit status, standard error and standard output, and which files
// it made or changed there: the output, and never the input.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <ostream>
#include <regex>
#include <string>

#ifndef _WIN32
#include <sys/wait.h>
#endif

namespace fs = std::filesystem;

namespace {

using files = std::map<std::string, std::string>;  // relative path: bytes

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
const std::string examples = QSOFLAT_EXAMPLES;

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

files files_in(const fs::path& folder) {
  files found;
  for (const auto& entry : fs::recursive_directory_iterator(folder))
    if (!entry.is_directory())
      found[fs::relative(entry.path(), folder).generic_string()] =
          read_file(entry.path());
  return found;
}

struct run_result {
  std::string command;
  int status = -1;
  std::string out, err;
  files changed;
};

std::ostream& operator<<(std::ostream& os, const run_result& r) {
  os << "\ncommand: " << r.command << "\nstatus: " << r.status
     << "\nstderr: [" << r.err << "]\nstdout: [" << r.out << "]";
  for (const auto& [name, bytes] : r.changed)
    os << "\nwrote " << name << ": [" << bytes << "]";
  return os;
}

int run_shell(const fs::path& folder, const std::string& command) {
  const int raw = std::system(("cd \"" + folder.string() + "\" && " + command).c_str());
#ifdef _WIN32
  return raw;
#else
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
#endif
}

struct cli_case {
  const char* what;
  files inputs;
  std::string setup;  // a shell command run in the folder beforehand
  std::string limit;  // one run in the program's own shell, as a ulimit
  std::string args;
  int status;
  std::string err;  // after the banner
  files changed;
};

// Runs one case in a fresh folder below the temporary folder, keeping the
// program's standard streams beside it rather than in it.
run_result run(const cli_case& c) {
  static int serial = 0;
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch();
  const fs::path root = fs::temp_directory_path() /
                        ("qsoflat-cli-" + std::to_string(stamp.count()) + "-" +
                         std::to_string(++serial));
  fs::remove_all(root);
  const fs::path work = root / "work";
  fs::create_directories(work);
  for (const auto& [name, bytes] : c.inputs)
    std::ofstream(work / name, std::ios::binary) << bytes;
  if (!c.setup.empty()) {
    EXPECT_EQ(run_shell(work, c.setup), 0) << c.setup;
  }
  const files before = files_in(work);

  run_result r;
  const std::string limit = c.limit.empty() ? "" : c.limit + " && ";
  r.command = limit + "qsoflat " + c.args;
  r.status = run_shell(work, limit + "\"" QSOFLAT_BINARY "\" " + c.args +
                                 " >\"" + (root / "out").string() + "\" 2>\"" +
                                 (root / "err").string() + "\"");
  r.out = read_file(root / "out");
  r.err = read_file(root / "err");
  for (const auto& [name, bytes] : files_in(work)) {
    const auto old = before.find(name);
    if (old == before.end() || old->second != bytes)
      r.changed[name] = bytes;
  }
  fs::remove_all(root);
  return r;
}

// Standard error less the banner, which must come first and be whole.
std::string after_banner(const std::string& err) {
  static const std::regex banner(
      "\nConvert LoTW ADIF to CSV format - Version 1\\.3\n"
      "Brevandel, Q9ZZ - [A-Z][a-z]{2} [ 1-3][0-9] [0-9]{4} "
      "[0-9]{2}:[0-9]{2}:[0-9]{2}\n\n");
  std::smatch found;
  if (!std::regex_search(err, found, banner,
                         std::regex_constants::match_continuous))
    return "<no banner> " + err;
  return found.suffix();
}

const cli_case cli_cases[] = {
    {"no arguments", {}, "", "", "", 1, usage_line, {}},
    {"three arguments", {{"a", "x"}}, "", "", "a b c", 1, usage_line, {}},
    {"missing input", {}, "", "", "nope.adi", 1, "Could not open LoTW file nope.adi\n\n" + usage_line, {}},
    {"folder as input", {}, "mkdir sub.adi", "", "sub.adi", 1, "Could not open LoTW file sub.adi\n\n" + usage_line, {}},
    {"output cannot be opened", {{"log.adi", worked_report}}, "", "", "log.adi no/out.csv", 1, "Could not open output file no/out.csv\n\n" + usage_line, {}},
    {"worked run", {{"log.adi", worked_report}}, "", "", "log.adi", 0, "Wrote 1 QSOs to log.csv\n", {{"log.csv", header + worked_row}}},
    {"example report", {}, "cp \"" + examples + "/lotwreport.adi\" .", "", "lotwreport.adi", 0, "Wrote 4 QSOs to lotwreport.csv\n", {{"lotwreport.csv", read_file(examples + "/lotwreport.csv")}}},
    {"CR LF report", {{"log.adi", "<APP_LoTW_OWNCALL:1>N\r\n<CALL:5>Q1AAA\r\n<eor>\r\n"}}, "", "", "log.adi", 0, "Wrote 1 QSOs to log.csv\n", {{"log.csv", header + "Q1AAA,,,,,,,,,,,,,,\n"}}},
    {"given output name", {{"log.adi", worked_report}}, "", "", "log.adi out.txt", 0, "Wrote 1 QSOs to out.txt\n", {{"out.txt", header + worked_row}}},
    {"existing output is truncated", {{"log.adi", worked_report}, {"out.csv", std::string(9000, 'z')}}, "", "", "log.adi out.csv", 0, "Wrote 1 QSOs to out.csv\n", {{"out.csv", header + worked_row}}},
    {"no complete record", {{"log.adi", "<APP_LoTW_OWNCALL:1>N\n<CALL:1>A\n"}}, "", "", "log.adi", 0, "Wrote 0 QSOs to log.csv\n", {{"log.csv", header}}},
    {"unknown field ends the reading", {{"log.adi", "<APP_LoTW_OWNCALL:1>N\n<CALL:1>A\n<eor>\n<MY_DXCC:3>291\n<eor>\n"}}, "", "", "log.adi", 0, "Unrecognized ADIF field <MY_DXCC:3>291\nWrote 1 QSOs to log.csv\n", {{"log.csv", header + "A,,,,,,,,,,,,,,\n"}}},
    {"name without a dot", {{"lotwreport", worked_report}}, "", "", "lotwreport", 0, "Wrote 1 QSOs to lotwreport.csv\n", {{"lotwreport.csv", header + worked_row}}},
    {"dot in a folder name", {}, "mkdir sub.d && printf '<eor>\\n' > sub.d/log.adi", "", "sub.d/log.adi", 0, "Wrote 1 QSOs to sub.d/log.csv\n", {{"sub.d/log.csv", header + ",,,,,,,,,,,,,,\n"}}},
    {"derived name is the input", {{"x.csv", worked_report}}, "", "", "x.csv", 1, "Output file x.csv is the input file\n\n" + usage_line, {}},
    {"given name is the input", {{"log.adi", worked_report}}, "", "", "log.adi ./log.adi", 1, "Output file ./log.adi is the input file\n\n" + usage_line, {}},
    {"given name is a hard link to the input", {{"log.adi", worked_report}}, "ln log.adi link.csv", "", "log.adi link.csv", 1, "Output file link.csv is the input file\n\n" + usage_line, {}},
    {"given name is a symbolic link to the input", {{"log.adi", worked_report}}, "ln -s log.adi link.csv", "", "log.adi link.csv", 1, "Output file link.csv is the input file\n\n" + usage_line, {}},
    {"long value is written whole", {{"log.adi", "<CNTY:1>" + std::string(100000, 'y') + "\n<eor>\n"}}, "", "", "log.adi", 0, "Wrote 1 QSOs to log.csv\n", {{"log.csv", header + ",,,,,,,,,,,,,,\"" + std::string(100000, 'y') + "\"\n"}}},
#ifdef __linux__
    {"full disk", {{"log.adi", worked_report}}, "", "", "log.adi /dev/full", 1, "Could not write output file /dev/full\n", {}},
    {"read error", {}, "", "", "/proc/self/mem mem.csv", 1, "Could not read LoTW file /proc/self/mem\n", {{"mem.csv", header}}},
    {"out of memory", {}, "head -c 50000000 /dev/zero | tr '\\0' A > big.adi", "ulimit -v 40000", "big.adi", 1, "Out of memory\n", {{"big.csv", header}}},
#endif
};

TEST(Cli, RunsAsTheTableSays) {
  for (const cli_case& c : cli_cases) {
    SCOPED_TRACE(c.what);
    const run_result r = run(c);
    EXPECT_EQ(r.status, c.status) << r;
    EXPECT_EQ(after_banner(r.err), c.err) << r;
    EXPECT_EQ(r.out, "") << r;
    EXPECT_EQ(r.changed, c.changed) << r;
  }
}

}  // namespace
