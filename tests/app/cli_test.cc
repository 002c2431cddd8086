// Runs the built program as a user would, each case in a fresh folder, and
// checks its exit status, standard error and standard output, and which files
// it made or changed there: the output, and never the input.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <ostream>
#include <random>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "app/command_line.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#endif

#include "support/test_files.h"

namespace qsoflat {

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
const std::string examples = QSOFLAT_EXAMPLES;

struct run_result {
  std::string skipped;  // why the case could not be made here
  std::string command;
  int status = -1;
  std::string out, err;
  files changed;
};

std::ostream& operator<<(std::ostream& os, const run_result& r) {
  os << "\ncommand: " << r.command << "\nstatus: " << r.status;
#ifdef _WIN32
  if (r.status == 9009)
    os << " (cmd could not start the program)";
  if (r.status == -1)
    os << " (cmd itself could not be started)";
#endif
  os << "\nstderr: [" << r.err << "]\nstdout: [" << r.out << "]";
  for (const auto& [name, bytes] : r.changed)
    os << "\nwrote " << name << ": [" << bytes << "]";
  return os;
}

// Names in the command are UTF-8; on Windows they go through the wide
// function, since the narrow one can pass only what the code page holds.
int run_shell(const fs::path& folder, const std::string& command) {
#ifdef _WIN32
  return _wsystem(
      fs::u8path("cd /d \"" + folder.u8string() + "\" && " + command).c_str());
#else
  const int raw =
      std::system(("cd \"" + folder.string() + "\" && " + command).c_str());
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
#endif
}

// The program under test, by an absolute name, since each case runs it from
// its own folder (on another drive, under wine).
std::string binary() {
  return fs::absolute(QSOFLAT_BINARY).make_preferred().string();
}

struct cli_case {
  const char* what;
  files inputs;  // a name ending in "/" makes a folder
  // Prepares the folder; gives why the case cannot be made here, or null.
  const char* (*setup)(const fs::path& work);
  std::string prefix;  // put before the program in its shell command
  std::string args;
  int status;
  std::string err;  // after the banner
  files changed;
  std::string out = {};  // standard output, which only --help and --version use
};

// Shown for a case in the test list and in failures.
void PrintTo(const cli_case& c, std::ostream* os) { *os << c.what; }

// The 100 MB value stands in the table as this mark and is made only when a
// case that holds it runs, so that listing the tests takes little memory.
const std::string big_value = "<100 MB of y>";
std::string expand(std::string bytes) {
  for (std::size_t at; (at = bytes.find(big_value)) != std::string::npos;)
    bytes.replace(at, big_value.size(), std::string(100'000'000, 'y'));
  return bytes;
}

// A folder below the temporary folder that no other case uses: the process
// id keeps cases that run at once in other processes apart.
fs::path fresh_root() {
  static int serial = 0;
  return fs::temp_directory_path() /
         ("qsoflat-cli-" + std::to_string(getpid()) + "-" +
          std::to_string(++serial));
}

#ifdef _WIN32
// A file held as a spreadsheet holds an open one: others may read it, but
// not write, replace or delete it. The run closes it once the program is
// done.
HANDLE held_file = INVALID_HANDLE_VALUE;
#endif

// Runs one case in the folder work below a fresh root folder, keeping the
// program's standard streams beside it rather than in it.
// An .xlsx stands in the table as this mark and what an independent reader
// finds in it (tests/rows/xlsx_check.py), never as its bytes.
const std::string xlsx_cells = "<cells of an .xlsx>\n";
// What stands for the cells where no reader runs beside the test.
const std::string kept_mark = "kept for reading back\n";

bool is_xlsx(const std::string& name) {
  std::string end =
      name.substr(name.size() - std::min<std::size_t>(name.size(), 5));
  std::transform(end.begin(), end.end(), end.begin(),
                 [](unsigned char c) { return std::tolower(c); });
  return end == ".xlsx";
}

// What the reader finds in the file, or where it cannot tell, why.
std::string cells_of(const fs::path& file) {
#ifdef QSOFLAT_XLSX_CHECK
  const std::string command = std::string(QSOFLAT_PYTHON) + " " +
                              QSOFLAT_XLSX_CHECK + " \"" + file.string() +
                              "\" 2>&1";
  std::FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr)
    return "could not run " + command;
  std::string cells;
  char chunk[4096];
  for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;)
    cells.append(chunk, got);
  (void)pclose(pipe);
  return cells;
#elif defined(_WIN32)
  // Under wine no reader runs beside the test: a copy is kept where
  // QSOFLAT_XLSX_KEEP says, for ctest's read-back step to read with the
  // Linux openpyxl (tests/rows/xlsx_kept_check.cmake).
  static int kept = 0;
  if (const char* keep = std::getenv("QSOFLAT_XLSX_KEEP"))
    fs::copy_file(file, fs::u8path(keep) / (std::to_string(++kept) + ".xlsx"),
                  fs::copy_options::overwrite_existing);
  return kept_mark;
#else
  return "no reader of .xlsx files here: " + file.string();
#endif
}

run_result run(const cli_case& c, const fs::path& root) {
  fs::remove_all(root);
  const fs::path work = root / "work";
  fs::create_directories(work);
  for (const auto& [name, bytes] : c.inputs) {
    const fs::path path = work / fs::u8path(name);
    if (name.back() == '/') {
      fs::create_directories(path);
      continue;
    }
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << expand(bytes);
  }
  run_result r;
  if (const char* why = c.setup != nullptr ? c.setup(work) : nullptr) {
    r.skipped = why;
    fs::remove_all(root);
    return r;
  }
  const files before = files_in(work);

  r.command = c.prefix + "qsoflat " + c.args;
  const std::string command = c.prefix + "\"" + binary() + "\" " + c.args +
                              " >\"" + (root / "out").string() + "\" 2>\"" +
                              (root / "err").string() + "\"";
  r.status = run_shell(work, command);
#ifdef _WIN32
  // Under load, wine's cmd now and then fails to start the program and
  // gives 9009, its status for a command not found, and _wsystem now and
  // then fails to start cmd itself and gives -1. The program never ran, so
  // nothing in the folder changed, and the case is run again.
  for (int retry = 0; retry < 3 && (r.status == 9009 || r.status == -1);
       ++retry)
    r.status = run_shell(work, command);
#endif
#ifdef _WIN32
  if (held_file != INVALID_HANDLE_VALUE) {
    (void)CloseHandle(held_file);
    held_file = INVALID_HANDLE_VALUE;
  }
#endif
  r.out = read_file(root / "out");
  r.err = read_file(root / "err");
  for (const auto& [name, bytes] : files_in(work)) {
    const auto old = before.find(name);
    if (old == before.end() || old->second != bytes)
      r.changed[name] =
          is_xlsx(name)
              ? as_text(xlsx_cells + cells_of(work / fs::u8path(name)))
              : bytes;
  }
  // A folder a case made read-only must be writable again to be removed.
  for (const auto& entry : fs::recursive_directory_iterator(root))
    if (entry.is_directory())
      fs::permissions(entry.path(), fs::perms::owner_all,
                      fs::perm_options::add);
  fs::remove_all(root);
  return r;
}

// Standard error less the banner, which must come first and be whole.
std::string after_banner(const std::string& err) {
  static const std::regex banner(
      as_text("\nConvert LoTW ADIF to CSV format - Version 1\\.3\n"
              "Brevandel, Q9ZZ - [A-Z][a-z]{2} [ 1-3][0-9] [0-9]{4} "
              "[0-9]{2}:[0-9]{2}:[0-9]{2}\n\n"));
  std::smatch found;
  if (!std::regex_search(err, found, banner,
                         std::regex_constants::match_continuous))
    return "<no banner> " + err;
  return found.suffix();
}

const std::string example_report = read_file(examples + "/lotwreport.adi");

// Enough records, with LF and CR LF line ends by turns, to take several
// reads of the input.
std::string many_records() {
  std::string report = "<APP_LoTW_OWNCALL:1>N\n";
  for (int i = 0; i < 5000; ++i) {
    const std::string line_end = i % 2 == 0 ? "\n" : "\r\n";
    report += "<CALL:5>Q1AAA" + line_end + "<BAND:3>20M" + line_end + "<eor>" +
              line_end;
  }
  return report;
}
std::string many_rows() {
  std::string rows = header;
  for (int i = 0; i < 5000; ++i)
    rows += "Q1AAA,20M,,,,,,,,,,,,,\n";
  return rows;
}

#ifndef _WIN32
// A QSO of that many fields, F0 and on.
std::string wide_report(int fields) {
  std::string report;
  for (int i = 0; i < fields; ++i)
    report += "<F" + std::to_string(i) + ":1>x\n";
  return report + "<eor>\n";
}

// The cells of wide_report's workbook: F0 and on over the header, and an x
// under each.
std::string wide_cells(int fields) {
  std::vector<std::string> letters;
  for (int i = 0; i < fields; ++i) {
    std::string letter;
    for (int n = i + 1; n > 0; n = (n - 1) / 26)
      letter.insert(letter.begin(), static_cast<char>('A' + (n - 1) % 26));
    letters.push_back(letter);
  }
  std::string cells = xlsx_cells +
                      "sheet QSOs freeze=A2 filter=A1:" + letters.back() +
                      "2 widths fit\n";
  for (int i = 0; i < fields; ++i)
    cells += letters[i] + "1 s! General F" + std::to_string(i) + "\n";
  for (int i = 0; i < fields; ++i)
    cells += letters[i] + "2 s General x\n";
  return cells;
}
#endif

// Bytes of no report at all, the same on every run and platform.
std::string random_bytes(std::size_t size) {
  std::mt19937 engine(20121003);
  std::string bytes(size, '\0');
  for (char& byte : bytes)
    byte = static_cast<char>(engine());
  return bytes;
}

// Shaped like today's download with QSL details: the own station's fields
// after the own call, fields the program does not know, LoTW's comments, a
// satellite QSO, lower-case names and markers, and a length that disagrees
// with its value.
const std::string detailed_report =
    "ARRL Logbook of the World Status Report\r\nGenerated at 2026-01-27 "
    "09:06:48\r\n"
    "for n0call\r\nQuery:\r\n    QSL ONLY: YES\r\n\r\n<PROGRAMID:4>LoTW\r\n"
    "<APP_LoTW_NUMREC:1>2\r\n\r\n<eoh>\r\n\r\n"
    "<APP_LoTW_OWNCALL:6>N0CALL\r\n<STATION_CALLSIGN:6>N0CALL\r\n"
    "<MY_DXCC:3>291\r\n<MY_COUNTRY:13>UNITED STATES\r\n"
    "<MY_STATE:2>OK // Oklahoma\r\n<MY_CNTY:11>OK,OKLAHOMA // Oklahoma\r\n"
    "<CALL:6>IC8TEM\r\n<BAND:4>23CM\r\n<BAND_RX:4>13CM\r\n<FREQ:10>1268."
    "10000\r\n"
    "<FREQ_RX:10>2400.10000\r\n<MODE:3>FT8\r\n<APP_LoTW_MODEGROUP:4>DATA\r\n"
    "<QSO_DATE:8>20260126\r\n"
    "<APP_LoTW_RXQSO:19>2026-01-27 06:51:11 // QSO record inserted/modified at "
    "LoTW\r\n"
    "<TIME_ON:6>135200\r\n<PROP_MODE:3>SAT\r\n<SAT_NAME:6>QO-100\r\n"
    "<QSL_RCVD:1>Y\r\n<QSL_RCVD_VIA:1>E\r\n<QSLRDATE:8:D>20260127\r\n<DXCC:3>"
    "248\r\n"
    "<COUNTRY:5>ITALY\r\n<APP_LoTW_2xQSL:1>Y\r\n<IOTA:6>EU-031\r\n"
    "<GRIDSQUARE:6>JN70CN\r\n<CQZ:2>15\r\n<ITUZ:2>28\r\n<EOR>\r\n\r\n"
    "<app_lotw_owncall:6>n0call\r\n<my_dxcc:3>291\r\n<call:5>q1aaa\r\n"
    "<band:3>20m\r\n<mode:3>SSB\r\n<qso_date:8>20260125\r\n<time_on:4>2137\r\n"
    "<qsl_rcvd:1>Y\r\n<pfx:2>N5\r\n<dxcc:3>291\r\n"
    "<state:2>MO // Missouri\r\n<cnty:8>MO,SALINE // Saline\r\n<eor>\r\n\r\n"
    "<app_lotw_eof>\r\n";
const std::string detailed_rows =
    header +
    "IC8TEM,23CM,FT8,26-Jan-2026,1352,Y,27-Jan-2026,248,,15,28,EU-031,JN70CN,,"
    "\n"
    "q1aaa,20m,SSB,25-Jan-2026,2137,Y,,291,N5,,,,,MO,\"MO,SALINE // Saline\"\n";
const std::string skip_hint =
    "Run again with --skip-unknown to skip the fields that qsoflat does not "
    "know and read the whole report\n";
const std::string owncall_report =
    "<APP_LoTW_OWNCALL:1>N\n<CALL:5>Q1AAA\n<eor>\n";
const std::string owncall_row = "Q1AAA,,,,,,,,,,,,,,\n";

// The example report with CR-only line ends, more than 64 KiB of them, or
// with as much of a header.
std::string long_report(bool long_header) {
  std::string report = example_report;
  report.erase(std::remove(report.begin(), report.end(), '\n'), report.end());
  const std::size_t body = report.find("<CALL:");
  const std::string more =
      long_header ? "<PROGRAMID:4>LoTW\r"
                  : report.substr(body, report.rfind("<APP_LoTW_EOF>") - body);
  std::string filler;
  while (filler.size() < 70000)
    filler += more;
  report.insert(long_header ? report.find("<eoh>") : body, filler);
  return report;
}

std::string adif_refusal(const std::string& output, const char* kind) {
  return "Output file " + output + " is " + kind + "\n\n" + usage_line;
}

// The QSOs sheet of a workbook of one QSO by the fixed table, to its
// header row.
const std::string fixed_header_cells =
    "sheet QSOs freeze=A2 filter=A1:O2 widths fit\n"
    "A1 s! General CALL\nB1 s! General BAND\nC1 s! General MODE\n"
    "D1 s! General QSO_DATE\nE1 s! General TIME_ON\nF1 s! General QSL_RCVD\n"
    "G1 s! General QSLRDATE\nH1 s! General DXCC\nI1 s! General PFX\n"
    "J1 s! General CQZ\nK1 s! General ITUZ\nL1 s! General IOTA\n"
    "M1 s! General GRIDSQUARE\nN1 s! General STATE\nO1 s! General CNTY\n";
const std::string worked_cells =
    xlsx_cells + fixed_header_cells +
    "A2 s General Q1AAA\nB2 s General 20M\nC2 s General SSB\n"
    "D2 d mm-dd-yy 2012-10-03\nE2 d hh:mm:ss 10:12:20\nF2 s General Y\n"
    "G2 d mm-dd-yy 2012-10-13\nH2 n General 291\nO2 s General CT,HARTFORD\n";

// Only the Linux cases read a workbook's cells.
#ifndef _WIN32
// What each award says of a report that holds none of the fields it counts
// by: as lines among the messages, or as the award sheets that hold them.
std::string awards_lacking(bool as_sheets) {
  const std::pair<const char*, const char*> lacks[] = {
      {"DXCC",
       "no QSO has a DXCC field; a LoTW download with QSL details has it"},
      {"WAS",
       "no QSO has a US state (a STATE with DXCC 291, 6 or 110); a LoTW "
       "download with QSL details has them"},
      {"WAZ",
       "no QSO has a CQ zone (CQZ 1 to 40); a LoTW download with QSL details "
       "has it"},
      {"VUCC",
       "no QSO from 6 m up has a grid square (GRIDSQUARE or VUCC_GRIDS); a "
       "LoTW download with QSL details has them"}};
  std::string text;
  for (const auto& [award, why] : lacks) {
    if (as_sheets)
      text += "sheet " + std::string(award) +
              " freeze=None filter=None widths fit\nA1 s General ";
    text += std::string(award) + ": nothing to count, since " + why + "\n";
  }
  return text;
}
#endif

// What run() finds in the worked report's .xlsx: its cells, or under wine
// the mark of the copy kept to be read back against them.
#ifdef _WIN32
const std::string worked_cells_here = xlsx_cells + kept_mark;
#else
const std::string& worked_cells_here = worked_cells;
#endif

std::string refusal(const std::string& output) {
  return "Output file " + output + " is the input file\n\n" + usage_line;
}

#ifdef _WIN32
const char* hold_output(const fs::path& work) {
  held_file =
      CreateFileW((work / "out.csv").c_str(), GENERIC_READ | GENERIC_WRITE,
                  FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  return nullptr;
}
#endif

const char* hard_link_log(const fs::path& work) {
  fs::create_hard_link(work / "log.adi", work / "link.csv");
  return nullptr;
}
#ifndef _WIN32
const char* symlink_log(const fs::path& work) {
  fs::create_symlink("log.adi", work / "link.csv");
  return nullptr;
}
#endif

#ifdef __linux__
const char* make_log_read_only(const fs::path& work) {
  fs::permissions(work / "log.adi", fs::perms::owner_read |
                                        fs::perms::group_read |
                                        fs::perms::others_read);
  return nullptr;
}

const char* make_read_only(const fs::path& work) {
  fs::permissions(work / "ro",
                  fs::perms::owner_read | fs::perms::owner_exec |
                      fs::perms::group_read | fs::perms::group_exec |
                      fs::perms::others_read | fs::perms::others_exec);
  return nullptr;
}

// Only the folder is closed to the run: the old output itself may be
// written.
const char* make_read_only_with_output(const fs::path& work) {
  fs::permissions(work / "ro" / "out.csv",
                  fs::perms::owner_read | fs::perms::owner_write |
                      fs::perms::others_read | fs::perms::others_write);
  return make_read_only(work);
}

// The listing of files leaves out links, so a link replaced by a file would
// show as a new file.
const char* symlink_output(const fs::path& work) {
  fs::create_symlink("real.csv", work / "link.csv");
  return nullptr;
}

// A FIFO input whose writer gives one QSO and then pauses, so that a signal
// meets the run with its temporary output made.
const std::string paused_report =
    "mkfifo r.adi && { (printf '<APP_LoTW_OWNCALL:1>N\\n<CALL:1>A\\n<eor>\\n'; "
    "sleep 2) >r.adi 2>/dev/null & } && ";

// Permissions do not hold back root, so a root test run drops to nobody for
// the run that must be refused a folder.
const std::string as_nobody =
    geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";

// A full disk as a device of the case's own, so that no regression can
// replace the system's.
const char* make_full_device(const fs::path& work) {
  return mknod((work / "full").c_str(), S_IFCHR | 0666, makedev(1, 7)) == 0
             ? nullptr
             : "a device node for a full disk cannot be made here (not root)";
}

// A read-only output in a folder that the run may write, so that only the
// file's own mode refuses it.
const char* make_output_read_only(const fs::path& work) {
  fs::permissions(work, fs::perms::all);
  fs::permissions(work / "out.csv",
                  fs::perms::owner_read | fs::perms::others_read);
  return nullptr;
}

// A sticky folder that everyone may write, as /tmp, holding out.csv owned
// by owner, by default another user (65533) than the one who runs the case
// (nobody): a link to nobody's own file, or a file of its own.
const char* share_with_another_user(const fs::path& work, bool link,
                                    uid_t owner = 65533) {
  if (geteuid() != 0)
    return "giving a file to another user needs root";
  fs::permissions(work, fs::perms::all);
  fs::create_directory(work / "shared");
  fs::permissions(work / "shared", fs::perms::all | fs::perms::sticky_bit);
  const fs::path out = work / "shared" / "out.csv";
  if (link) {
    fs::create_symlink("../precious.txt", out);
    return chown((work / "precious.txt").c_str(), 65534, 65534) == 0 &&
                   lchown(out.c_str(), owner, owner) == 0
               ? nullptr
               : "chown failed";
  }
  std::ofstream(out) << "theirs";
  fs::permissions(
      out, fs::perms::all & ~(fs::perms::owner_exec | fs::perms::group_exec |
                              fs::perms::others_exec));
  return chown(out.c_str(), owner, owner) == 0 ? nullptr : "chown failed";
}
const char* plant_link(const fs::path& work) {
  return share_with_another_user(work, true);
}
// The shared folder is root's, as /tmp is.
const char* link_of_folder_owner(const fs::path& work) {
  return share_with_another_user(work, true, 0);
}
const char* share_file(const fs::path& work) {
  return share_with_another_user(work, false);
}
// Nobody's own file there, which nobody may replace.
const char* share_own_file(const fs::path& work) {
  return share_with_another_user(work, false, 65534);
}
#endif

const cli_case cli_cases[] = {
    {"no arguments", {}, nullptr, "", "", 1, usage_line, {}},
    {"three arguments", {{"a", "x"}}, nullptr, "", "a b c", 1, usage_line, {}},
    {"missing input",
     {},
     nullptr,
     "",
     "nope.adi",
     1,
     "Could not open LoTW file nope.adi\n\n" + usage_line,
     {}},
    {"folder as input",
     {{"sub.adi/", ""}},
     nullptr,
     "",
     "sub.adi",
     1,
     "Could not open LoTW file sub.adi\n\n" + usage_line,
     {}},
    {"output cannot be opened",
     {{"log.adi", worked_report}},
     nullptr,
     "",
     "log.adi no/out.csv",
     1,
     "Could not open output file no/out.csv\n\n" + usage_line,
     {}},
    {"worked run",
     {{"log.adi", worked_report}},
     nullptr,
     "",
     "log.adi",
     0,
     "Wrote 1 QSOs to log.csv\n",
     {{"log.csv", header + worked_row}}},
    {"example report",
     {{"lotwreport.adi", example_report}},
     nullptr,
     "",
     "lotwreport.adi",
     0,
     "Wrote 4 QSOs to lotwreport.csv\n",
     {{"lotwreport.csv", read_file(examples + "/lotwreport.csv")}}},
    {"long report with LF and CR LF line ends",
     {{"log.adi", many_records()}},
     nullptr,
     "",
     "log.adi",
     0,
     "Wrote 5000 QSOs to log.csv\n",
     {{"log.csv", many_rows()}}},
    {"given output name",
     {{"log.adi", worked_report}},
     nullptr,
     "",
     "log.adi out.txt",
     0,
     "Wrote 1 QSOs to out.txt\n",
     {{"out.txt", header + worked_row}}},
    {"existing output is replaced",
     {{"log.adi", worked_report}, {"out.csv", std::string(9000, 'z')}},
     nullptr,
     "",
     "log.adi out.csv",
     0,
     "Wrote 1 QSOs to out.csv\n",
     {{"out.csv", header + worked_row}}},
    {"swapped arguments leave the report",
     {{"lotwreport.adi", example_report}, {"lotwreport.csv", header}},
     nullptr,
     "",
     "lotwreport.csv lotwreport.adi",
     1,
     "Output file lotwreport.adi is a LoTW report\n\n" + usage_line,
     {}},
    {"a second report is never the output",
     {{"new.adi", worked_report}, {"old.adi", detailed_report}},
     nullptr,
     "",
     "new.adi old.adi",
     1,
     "Output file old.adi is a LoTW report\n\n" + usage_line,
     {}},
    // Any ADIF file is refused as the output, by a marker in its first or
    // last 64 KiB, and kept byte for byte.
    {"a report in UTF-16 is never the output",
     {{"log.adi", worked_report}, {"old.csv", utf16_of_ascii(example_report)}},
     nullptr,
     "",
     "log.adi old.csv",
     1,
     adif_refusal("old.csv", "a LoTW report"),
     {}},
    {"a report with CR-only line ends is never the output",
     {{"log.adi", worked_report}, {"old.csv", long_report(false)}},
     nullptr,
     "",
     "log.adi old.csv",
     1,
     adif_refusal("old.csv", "a LoTW report"),
     {}},
    {"a report with a long header is never the output",
     {{"log.adi", worked_report}, {"old.csv", long_report(true)}},
     nullptr,
     "",
     "log.adi old.csv",
     1,
     adif_refusal("old.csv", "a LoTW report"),
     {}},
    {"a headerless ADIF file is never the output",
     {{"log.adi", worked_report},
      {"old.csv", "<CALL:5>Q1AAA <BAND:3>20M <EOR>"}},
     nullptr,
     "",
     "log.adi old.csv",
     1,
     adif_refusal("old.csv", "an ADIF file"),
     {}},
    {"an ADIF file with a record on its header line is never the output",
     {{"log.adi", worked_report},
      {"old.csv", "<ADIF_VER:5>3.1.4 <EOH><CALL:5>Q1AAA <EOR>"}},
     nullptr,
     "",
     "log.adi old.csv",
     1,
     adif_refusal("old.csv", "an ADIF file"),
     {}},
    {"a download cut short is never the output",
     {{"log.adi", worked_report},
      {"old.csv", "Header\r\n<eoh> // comment\r\n<CALL:5>Q1AAA\f"}},
     nullptr,
     "",
     "log.adi old.csv",
     1,
     adif_refusal("old.csv", "an ADIF file"),
     {}},
    {"award sheets into a CSV output are refused before reading",
     {{"log.adi", worked_report}, {"out.csv", "old"}},
     nullptr,
     "",
     "--awards log.adi out.csv",
     1,
     "Award sheets are written only into an .xlsx workbook: name the output "
     ".xlsx\n\n" +
         usage_line,
     {}},
#ifndef _WIN32
    // An .xlsx by --xlsx or by its name in any case; it goes only where a
    // file is put in place, and a failed run keeps the old one.
    {"--xlsx writes typed cells",
     {{"log.adi", worked_report}},
     nullptr,
     "",
     "--xlsx log.adi",
     0,
     "Wrote 1 QSOs to log.xlsx\n",
     {{"log.xlsx", worked_cells}}},
    {"--awards writes the fixed columns and says what a report lacks",
     {{"log.adi", "<CALL:5>Q1AAA\n<BAND:3>20M\n<eor>\n"}},
     nullptr,
     "",
     "--awards log.adi",
     0,
     "Wrote 1 QSOs to log.xlsx\n" + awards_lacking(false),
     {{"log.xlsx", xlsx_cells + fixed_header_cells +
                       "A2 s General Q1AAA\nB2 s General 20M\n" +
                       awards_lacking(true)}}},
    {"an .XLSX name writes an .xlsx",
     {{"log.adi", worked_report}, {"Out.XLSX", "old"}},
     nullptr,
     "",
     "log.adi Out.XLSX",
     0,
     "Wrote 1 QSOs to Out.XLSX\n",
     {{"Out.XLSX", worked_cells}}},
    {"a value longer than a cell is cut and counted",
     {{"log.adi", "<CNTY:40000>" + std::string(40000, 'x') + "\n<eor>\n"}},
     nullptr,
     "",
     "--xlsx log.adi",
     0,
     "Wrote 1 QSOs to log.xlsx\n1 value was longer than a cell holds and was "
     "cut to 32,767 characters; a CSV output keeps it whole\n",
     {{"log.xlsx",
       xlsx_cells +
           "sheet QSOs freeze=A2 filter=A1:O2 widths fit\nA1 s! General "
           "CALL\nB1 s! "
           "General BAND\nC1 s! General MODE\nD1 s! General QSO_DATE\nE1 s! "
           "General TIME_ON\nF1 s! General QSL_RCVD\nG1 s! General "
           "QSLRDATE\nH1 s! General DXCC\nI1 s! General PFX\nJ1 s! General "
           "CQZ\nK1 s! General ITUZ\nL1 s! General IOTA\nM1 s! General "
           "GRIDSQUARE\nN1 s! General STATE\nO1 s! General CNTY\nO2 s "
           "General " +
           std::string(32767, 'x') + "\n"}}},
    {"an empty download with --columns all gives an empty sheet",
     {{"log.adi",
       "Status report header\n<PROGRAMID:4>LoTW\n<eoh>\n<APP_LoTW_EOF>\n"}},
     nullptr,
     "",
     "--columns all --xlsx log.adi",
     0,
     "Wrote 0 QSOs to log.xlsx\n",
     {{"log.xlsx",
       xlsx_cells + "sheet QSOs freeze=A2 filter=None widths fit\n"}}},
    {"an .xlsx to a descriptor is refused before reading",
     {{"log.adi", worked_report}, {"out.txt", "old"}},
     nullptr,
     "",
     "--xlsx log.adi /dev/fd/3 3>>out.txt",
     1,
     "Output file /dev/fd/3 is not a file: an .xlsx workbook cannot be written "
     "to a pipe, a terminal or a device\n\n" +
         usage_line,
     {}},
    {"an .xlsx to a FIFO is refused at once, without waiting for a reader",
     {{"log.adi", worked_report}},
     nullptr,
     "mkfifo f.xlsx && timeout 5 ",
     "log.adi f.xlsx",
     1,
     "Output file f.xlsx is not a file: an .xlsx workbook cannot be written "
     "to a pipe, a terminal or a device\n\n" +
         usage_line,
     {}},
    {"an .xlsx of as many columns as a sheet holds is written",
     {{"wide.adi", wide_report(16384)}},
     nullptr,
     "",
     "--columns all wide.adi wide.xlsx",
     0,
     "Wrote 1 QSOs to wide.xlsx\n",
     {{"wide.xlsx", wide_cells(16384)}}},
    {"an .xlsx of more columns than a sheet holds is refused before any row",
     {{"wide.adi", wide_report(16400)}, {"wide.xlsx", "old"}},
     nullptr,
     "",
     "--columns all wide.adi wide.xlsx",
     1,
     "Too many columns for an .xlsx sheet in wide.xlsx: 16400, 16,384 at "
     "most; a CSV output takes them all\n\n" +
         usage_line,
     {}},
    {"an .xlsx run that finds no report keeps the old file",
     {{"log.adi", ""}, {"log.xlsx", "old"}},
     nullptr,
     "",
     "--xlsx log.adi",
     1,
     "No LoTW report found in log.adi\n",
     {}},
#endif
    // The CSV's columns by another separator; a bad one changes nothing.
    {"--separator ;",
     {{"log.adi", worked_report}},
     nullptr,
     "",
     "--separator \";\" log.adi",
     0,
     "Wrote 1 QSOs to log.csv\n",
     {{"log.csv",
       "CALL;BAND;MODE;QSO_DATE;TIME_ON;QSL_RCVD;QSLRDATE;DXCC;PFX;CQZ;ITUZ;"
       "IOTA;GRIDSQUARE;STATE;CNTY\nQ1AAA;20M;SSB;3-Oct-2012;1012;Y;13-Oct-"
       "2012;291;;;;;;;\"CT,HARTFORD\"\n"}}},
    {"--separator=TAB",
     {{"log.adi", "<CALL:5>Q1\tA\n<MODE:3>A,B\n<eor>\n"}},
     nullptr,
     "",
     "--separator=TAB log.adi",
     0,
     "Wrote 1 QSOs to log.csv\n",
     {{"log.csv",
       "CALL\tBAND\tMODE\tQSO_DATE\tTIME_ON\tQSL_"
       "RCVD\tQSLRDATE\tDXCC\tPFX\tCQZ\tITUZ\tIOTA\tGRIDSQUARE\tSTATE\tCNTY\n\""
       "Q1\tA\"\t\tA,B\t\t\t\t\t\t\t\t\t\t\t\t\n"}}},
    {"a bad separator leaves the old output",
     {{"log.adi", worked_report}, {"out.csv", "old"}},
     nullptr,
     "",
     "--separator \"|\" log.adi out.csv",
     1,
     "Bad separator | in --separator\n\n" + usage_line,
     {}},
    {"Ctrl-Z is a byte like any other",
     {{"log.adi",
       "<CALL:1>A\n<eor>\n<CALL:3>B\x1a"
       "C\n<eor>\n<CALL:1>D\n<eor>\n\x1a"}},
     nullptr,
     "",
     "log.adi",
     0,
     "Wrote 3 QSOs to log.csv\n",
     {{"log.csv", header + "A,,,,,,,,,,,,,,\nB\x1a"
                           "C,,,,,,,,,,,,,,\nD,,,,,,,,,,,,,,\n"}}},
    {"cut off in a tag",
     {{"log.adi", owncall_report + "<CALL:5>Q2BBB\n<BA"}},
     nullptr,
     "",
     "log.adi",
     1,
     "Unrecognized ADIF field <BA\nWrote 1 QSOs to log.csv\n" + skip_hint,
     {{"log.csv", header + owncall_row}}},
    {"byte-order mark before the header",
     {{"log.adi", "\xEF\xBB\xBF" + worked_report}},
     nullptr,
     "",
     "log.adi",
     0,
     "Wrote 1 QSOs to log.csv\n",
     {{"log.csv", header + worked_row}}},
    {"Latin-1 and UTF-8 values",
     {{"log.adi",
       "<CALL:5>Q1\xC4\xD6\xDC\n<STATE:3>\xE9t\xE9\n<CNTY:13>"
       "D\xC3\xBCsseldorf\n<IOTA:4>\xE2\x82\xAC\n<eor>\n"}},
     nullptr,
     "",
     "log.adi",
     0,
     "Wrote 1 QSOs to log.csv\n",
     {{"log.csv", header + "Q1\xC4\xD6\xDC,,,,,,,,,,,\xE2\x82\xAC,,\xE9t\xE9,"
                           "\"D\xC3\xBCsseldorf\"\n"}}},
    {"random binary data",
     {{"noise.bin", "\xFF\xD8\xFF\xE0" + random_bytes(1 << 16)},
      {"noise.csv", "old"}},
     nullptr,
     "",
     "noise.bin",
     1,
     "No LoTW report found in noise.bin\n",
     {}},
    {"empty file",
     {{"log.adi", ""}, {"log.csv", "old"}},
     nullptr,
     "",
     "log.adi",
     1,
     "No LoTW report found in log.adi\n",
     {}},
    {"UTF-16 with a byte-order mark",
     {{"log.adi", "\xFF\xFE<\0e\0o\0r\0>\0\r\0\n\0"s}, {"log.csv", "old"}},
     nullptr,
     "",
     "log.adi",
     1,
     "No LoTW report found in log.adi\n",
     {}},
    {"CR-only line ends",
     {{"log.adi",
       "Status report header\r<eoh>\r<CALL:1>A\r<eor>\r<APP_LoTW_EOF>\r"}},
     nullptr,
     "",
     "log.adi",
     1,
     "No LoTW report found in log.adi\n",
     {}},
    {"header cut off before any record",
     {{"log.adi", worked_report.substr(0, 35)}},
     nullptr,
     "",
     "log.adi",
     1,
     "No LoTW report found in log.adi\n",
     {}},
    {"empty report with its marker",
     {{"log.adi",
       "Status report header\n<PROGRAMID:4>LoTW\n<eoh>\n<APP_LoTW_EOF>\n"}},
     nullptr,
     "",
     "log.adi",
     0,
     "Wrote 0 QSOs to log.csv\n",
     {{"log.csv", header}}},
    {"no complete record",
     {{"log.adi", "<APP_LoTW_OWNCALL:1>N\n<CALL:1>A\n"}},
     nullptr,
     "",
     "log.adi",
     1,
     "The last QSO in log.adi has no <eor> line and was not written\nWrote 0 "
     "QSOs to log.csv\n",
     {{"log.csv", header}}},
    {"several fields on a line",
     {{"log.adi", "<CALL:1>A <BAND:3>20M <eor>\n"}},
     nullptr,
     "",
     "log.adi",
     1,
     "The last QSO in log.adi has no <eor> line and was not written\nWrote 0 "
     "QSOs to log.csv\n",
     {{"log.csv", header}}},
    {"report cut off after its count",
     {{"log.adi",
       "<APP_LoTW_NUMREC:2>2\n<app_lotw_numrec:1>1\n<CALL:1>A\n<eor>\n<CALL:1>"
       "B\n"}},
     nullptr,
     "",
     "log.adi",
     1,
     "The last QSO in log.adi has no <eor> line and was not written\nlog.adi "
     "announces 2 QSOs in APP_LoTW_NUMREC, but holds 1\nWrote 1 QSOs to "
     "log.csv\n",
     {{"log.csv", header + "A,,,,,,,,,,,,,,\n"}}},
    {"count beyond 32 bits",
     {{"log.adi", "<APP_LoTW_NUMREC:11>99999999999\n<CALL:1>A\n<eor>\n"}},
     nullptr,
     "",
     "log.adi",
     1,
     "log.adi announces 99999999999 QSOs in APP_LoTW_NUMREC, but holds "
     "1\nWrote 1 QSOs to log.csv\n",
     {{"log.csv", header + "A,,,,,,,,,,,,,,\n"}}},
    {"count below the QSOs held",
     {{"log.adi",
       "<APP_LoTW_NUMREC:1>1\n<CALL:1>A\n<eor>\n<CALL:1>B\n<eor>\n"}},
     nullptr,
     "",
     "log.adi",
     1,
     "log.adi announces 1 QSOs in APP_LoTW_NUMREC, but holds 2\nWrote 2 QSOs "
     "to log.csv\n",
     {{"log.csv", header + "A,,,,,,,,,,,,,,\nB,,,,,,,,,,,,,,\n"}}},
    {"count that matches",
     {{"log.adi",
       "<APP_LoTW_NUMREC:2>1\n<APP_LoTW_NUMREC:1>5\n<CALL:1>A\n<eor>\n"}},
     nullptr,
     "",
     "log.adi",
     0,
     "Wrote 1 QSOs to log.csv\n",
     {{"log.csv", header + "A,,,,,,,,,,,,,,\n"}}},
    {"control bytes in an echoed line are shown as question marks",
     {{"log.adi", "<APP_LoTW_OWNCALL:1>N\n<X:5>\x1b[31m\a\t\x7f\n"}},
     nullptr,
     "",
     "log.adi",
     1,
     "Unrecognized ADIF field <X:5>?[31m?\t?\nWrote 0 QSOs to log.csv\n" +
         skip_hint,
     {{"log.csv", header}}},
    {"unknown field ends the reading",
     {{"log.adi",
       "<APP_LoTW_OWNCALL:1>N\n<CALL:1>A\n<eor>\n<MY_DXCC:3>291\n<eor>\n"}},
     nullptr,
     "",
     "log.adi",
     1,
     "Unrecognized ADIF field <MY_DXCC:3>291\nWrote 1 QSOs to log.csv\n" +
         skip_hint,
     {{"log.csv", header + "A,,,,,,,,,,,,,,\n"}}},
    {"detailed download stops without the option",
     {{"log.adi", detailed_report}},
     nullptr,
     "",
     "log.adi",
     1,
     "Unrecognized ADIF field <MY_DXCC:3>291\nWrote 0 QSOs to log.csv\n" +
         skip_hint,
     {{"log.csv", header}}},
    {"detailed download is read whole with the option",
     {{"log.adi", detailed_report}},
     nullptr,
     "",
     "--skip-unknown log.adi",
     0,
     "Wrote 2 QSOs to log.csv\n",
     {{"log.csv", detailed_rows}}},
    {"option after the names",
     {{"log.adi", detailed_report}},
     nullptr,
     "",
     "log.adi out.csv --skip-unknown",
     0,
     "Wrote 2 QSOs to out.csv\n",
     {{"out.csv", detailed_rows}}},
    {"example report with the option loses the comments",
     {{"lotwreport.adi", example_report}},
     nullptr,
     "",
     "lotwreport.adi --skip-unknown",
     0,
     "Wrote 4 QSOs to lotwreport.csv\n",
     {{"lotwreport.csv",
       header +
           "Q1AAA,20M,FT8,3-Oct-2026,1012,Y,13-Oct-2026,291,Q1,05,08,,FN31,CT,"
           "\"CT,HARTFORD\"\n"
           "Q2BBB/"
           "P,40M,CW,20-Nov-2026,2205,Y,22-Nov-2026,054,Q2,16,29,,KO85TS,MO,\n"
           "Q3CCC,17M,SSB,1-Dec-2026,0005,Y,6-Dec-2026,150,Q3,,,OC-001,QF56OD,,"
           "\n"
           "Q4DDD,10M,RTTY,4-Dec-2026,1830,N,,291,Q4,,,,,WI,\"WI,PIERCE\"\n"}}},
    {"chosen columns of a detailed download",
     {{"log.adi", detailed_report}},
     nullptr,
     "",
     "--columns "
     "CALL,QSO_DATE,BAND,MODE,SUBMODE,country,DXCC,STATE,CNTY,QSLRDATE log.adi",
     0,
     "Wrote 2 QSOs to log.csv\n",
     {{"log.csv",
       "CALL,QSO_DATE,BAND,MODE,SUBMODE,country,DXCC,STATE,CNTY,QSLRDATE\n"
       "IC8TEM,26-Jan-2026,23CM,FT8,,ITALY,248,,,27-Jan-2026\n"
       "q1aaa,25-Jan-2026,20m,SSB,,,291,MO,\"MO,SALINE // Saline\",\n"}}},
    {"every column of a detailed download, in ISO dates",
     {{"log.adi", detailed_report}},
     nullptr,
     "",
     "--columns=all --iso-dates log.adi",
     0,
     "Wrote 2 QSOs to log.csv\n",
     {{"log.csv",
       "APP_LoTW_OWNCALL,STATION_CALLSIGN,MY_DXCC,MY_COUNTRY,MY_STATE,MY_CNTY,"
       "CALL,BAND,BAND_RX,FREQ,FREQ_RX,MODE,APP_LoTW_MODEGROUP,QSO_DATE,APP_"
       "LoTW_RXQSO,TIME_ON,PROP_MODE,SAT_NAME,QSL_RCVD,QSL_RCVD_VIA,QSLRDATE,"
       "DXCC,COUNTRY,APP_LoTW_2xQSL,IOTA,GRIDSQUARE,CQZ,ITUZ,pfx,state,cnty\n"
       "N0CALL,N0CALL,291,UNITED "
       "STATES,OK,\"OK,OKLAHOMA\",IC8TEM,23CM,13CM,1268.10000,2400.10000,FT8,"
       "DATA,2026-01-26,2026-01-27 "
       "06:51:11,13:52,SAT,QO-100,Y,E,2026-01-27,248,ITALY,Y,EU-031,JN70CN,15,"
       "28,,,\n"
       "n0call,,291,,,,q1aaa,20m,,,,SSB,,2026-01-25,,21:37,,,Y,,,291,,,,,,,N5,"
       "MO,\"MO,SALINE // Saline\"\n"}}},
    {"a complete empty download has only a header, in every mode",
     {{"log.adi",
       "ARRL Logbook of the World Status "
       "Report\n<PROGRAMID:4>LoTW\n<APP_LoTW_EOF>\n"}},
     nullptr,
     "",
     "--columns all log.adi",
     0,
     "Wrote 0 QSOs to log.csv\n",
     {{"log.csv", "\n"}}},
    {"a QSO cut off is told whatever fields it holds",
     {{"log.adi",
       "<eoh>\n<CALL:5>Q1AAA\n<BAND:3>20M\n<eor>\n<CALL:5>Q2BBB\n<BAND:3>"
       "40M\n"}},
     nullptr,
     "",
     "--columns COUNTRY log.adi",
     1,
     "The last QSO in log.adi has no <eor> line and was not written\nWrote 1 "
     "QSOs to log.csv\n",
     {{"log.csv", "COUNTRY\n\n"}}},
    {"a field name too long for a column leaves the old output",
     {{"log.adi",
       "<eoh>\n<CALL:5>Q1AAA\n<" + std::string(63, 'N') + ":1>x\n<eor>\n"},
      {"log.csv", "old"}},
     nullptr,
     "",
     "--columns all log.adi",
     1,
     "Field name too long in log.adi\n",
     {}},
    {"--columns all never reads a report named as the output",
     {{"new.adi", worked_report}, {"old.adi", detailed_report}},
     nullptr,
     "",
     "--columns all new.adi old.adi",
     1,
     "Output file old.adi is a LoTW report\n\n" + usage_line,
     {}},
    {"ISO dates in the 15 columns",
     {{"log.adi", worked_report}},
     nullptr,
     "",
     "--iso-dates log.adi",
     0,
     "Wrote 1 QSOs to log.csv\n",
     {{"log.csv", header + "Q1AAA,20M,SSB,2012-10-03,10:12,Y,2012-10-13,291,,,,"
                           ",,,\"CT,HARTFORD\"\n"}}},
    {"an empty field name leaves the old output",
     {{"log.adi", worked_report}, {"out.csv", "old"}},
     nullptr,
     "",
     "--columns CALL,,BAND log.adi out.csv",
     1,
     "Bad field name  in --columns\n\n" + usage_line,
     {}},
    {"help",
     {{"log.adi", worked_report}},
     nullptr,
     "",
     "log.adi --help --bogus",
     0,
     "",
     {},
     help_text()},
    {"version",
     {{"log.adi", worked_report}},
     nullptr,
     "",
     "log.adi --version",
     0,
     "",
     {},
     "qsoflat 1.3\n"},
    {"unknown option",
     {{"log.adi", worked_report}},
     nullptr,
     "",
     "--skip log.adi",
     1,
     "Unknown option --skip\n\n" + usage_line,
     {}},
    {"options after -- and one-dash arguments are names",
     {{"-x.adi", worked_report}},
     nullptr,
     "",
     "-x.adi -- --help",
     0,
     "Wrote 1 QSOs to --help\n",
     {{"--help", header + worked_row}}},
    {"an option is no name",
     {{"log.adi", worked_report}},
     nullptr,
     "",
     "--skip-unknown",
     1,
     usage_line,
     {}},
    {"name without a dot",
     {{"lotwreport", worked_report}},
     nullptr,
     "",
     "lotwreport",
     0,
     "Wrote 1 QSOs to lotwreport.csv\n",
     {{"lotwreport.csv", header + worked_row}}},
    {"dot in a folder name",
     {{"sub.d/log.adi", "<eor>\n"}},
     nullptr,
     "",
     "sub.d/log.adi",
     0,
     "Wrote 1 QSOs to sub.d/log.csv\n",
     {{"sub.d/log.csv", header + ",,,,,,,,,,,,,,\n"}}},
    {"derived name is the input",
     {{"x.csv", worked_report}},
     nullptr,
     "",
     "x.csv",
     1,
     "Output file x.csv is the input file\n\n" + usage_line,
     {}},
    {"given name is the input by a longer path",
     {{"log.adi", worked_report}, {"sub/", ""}},
     nullptr,
     "",
     "log.adi sub/../log.adi",
     1,
     "Output file sub/../log.adi is the input file\n\n" + usage_line,
     {}},
    {"given name is a hard link to the input",
     {{"log.adi", worked_report}},
     hard_link_log,
     "",
     "log.adi link.csv",
     1,
     "Output file link.csv is the input file\n\n" + usage_line,
     {}},
    {"100 MB value is written whole",
     {{"log.adi", "<CNTY:9>" + big_value + "\n<eor>\n"}},
     nullptr,
     "",
     "log.adi",
     0,
     "Wrote 1 QSOs to log.csv\n",
     {{"log.csv", header + ",,,,,,,,,,,,,,\"" + big_value + "\"\n"}}},
#ifdef _WIN32
    {"backslash separators",
     {{"sub.d/log.adi", "<eor>\n"}},
     nullptr,
     "",
     "sub.d\\log.adi",
     0,
     "Wrote 1 QSOs to sub.d\\log.csv\n",
     {{"sub.d/log.csv", header + ",,,,,,,,,,,,,,\n"}}},
    {"given name is the input in other case",
     {{"log.adi", worked_report}},
     nullptr,
     "",
     "log.adi LOG.ADI",
     1,
     "Output file LOG.ADI is the input file\n\n" + usage_line,
     {}},
    {"given name is the input by a backslash path",
     {{"log.adi", worked_report}, {"sub/", ""}},
     nullptr,
     "",
     "log.adi sub\\..\\Log.adi",
     1,
     "Output file sub\\..\\Log.adi is the input file\n\n" + usage_line,
     {}},
    {"NUL as output",
     {{"log.adi", worked_report}},
     nullptr,
     "",
     "log.adi NUL",
     0,
     "Wrote 1 QSOs to NUL\n",
     {}},
    {"output held open by a spreadsheet",
     {{"log.adi", worked_report}, {"out.csv", "old"}},
     hold_output,
     "",
     "log.adi out.csv",
     1,
     "Could not open output file out.csv\nIt is open in another program, such "
     "as a spreadsheet: close it there and try again.\n\n" +
         usage_line,
     {}},
#else
    {"given name is a symbolic link to the input",
     {{"log.adi", worked_report}},
     symlink_log,
     "",
     "log.adi link.csv",
     1,
     "Output file link.csv is the input file\n\n" + usage_line,
     {}},
    {"control bytes in a name are shown as question marks",
     {},
     nullptr,
     "n=$(printf 'x\\033[2J\\302\\233\\233\\nWrote 9999 QSOs to "
     "fake.csv\\177Отчёты') && ",
     "\"$n\"",
     1,
     "Could not open LoTW file x?[2J???Wrote 9999 QSOs to fake.csv?Отчёты\n\n" +
         usage_line,
     {}},
#endif
#ifdef __linux__
    // The limit (in sh's blocks of 512 bytes) fails the first chunk of rows
    // part way, which after the loop only the stream's error flag tells.
    {"write fails after many rows",
     {{"log.adi", many_records()}, {"log.csv", "old"}},
     nullptr,
     "ulimit -f 100 && ",
     "log.adi",
     1,
     "Could not write output file log.csv\n",
     {}},
    {"full disk",
     {{"log.adi", worked_report}},
     make_full_device,
     "",
     "log.adi full",
     1,
     "Could not write output file full\n",
     {}},
    {"read-only output",
     {{"log.adi", worked_report}, {"out.csv", "old"}},
     make_output_read_only,
     as_nobody,
     "log.adi out.csv",
     1,
     "Could not open output file out.csv\n\n" + usage_line,
     {}},
    {"link planted in a shared folder",
     {{"log.adi", worked_report}, {"precious.txt", "precious"}},
     plant_link,
     as_nobody,
     "log.adi shared/out.csv",
     1,
     "Could not open output file shared/out.csv\n\n" + usage_line,
     {}},
    {"a link of the shared folder's owner is followed",
     {{"log.adi", worked_report}, {"precious.txt", "precious"}},
     link_of_folder_owner,
     as_nobody,
     "log.adi shared/out.csv",
     0,
     "Wrote 1 QSOs to shared/out.csv\n",
     {{"precious.txt", header + worked_row}}},
    {"another user's file in a shared folder",
     {{"log.adi", worked_report}},
     share_file,
     as_nobody,
     "log.adi shared/out.csv",
     1,
     "Could not open output file shared/out.csv\n\n" + usage_line,
     {}},
    {"one's own file in a shared folder is replaced",
     {{"log.adi", worked_report}},
     share_own_file,
     as_nobody,
     "log.adi shared/out.csv",
     0,
     "Wrote 1 QSOs to shared/out.csv\n",
     {{"shared/out.csv", header + worked_row}}},
    {"descriptor output is appended to",
     {{"log.adi", worked_report}, {"log.txt", "old\n"}},
     nullptr,
     "",
     "log.adi /dev/fd/3 3>>log.txt",
     0,
     "Wrote 1 QSOs to /dev/fd/3\n",
     {{"log.txt", "old\n" + header + worked_row}}},
    {"a name at the temporary name is left alone",
     {{"log.adi", worked_report}},
     nullptr,
     "ln -s victim.txt .qsoflat-$$-0.tmp && exec ",
     "log.adi",
     0,
     "Wrote 1 QSOs to log.csv\n",
     {{"log.csv", header + worked_row}}},
    {"SIGHUP ignored at the start stays ignored",
     {},
     nullptr,
     "trap '' HUP && " + paused_report +
         "{ (sleep 1; kill -HUP $$) & } && exec ",
     "r.adi out.csv",
     0,
     "Wrote 1 QSOs to out.csv\n",
     {{"out.csv", header + "A,,,,,,,,,,,,,,\n"}}},
    {"output folder is not writable",
     {{"log.adi", worked_report}, {"ro/", ""}},
     make_read_only,
     as_nobody,
     "log.adi ro/out.csv",
     1,
     "Could not open output file ro/out.csv\n\n" + usage_line,
     {}},
    {"read-only input as its own output",
     {{"log.adi", worked_report}},
     make_log_read_only,
     as_nobody,
     "log.adi log.adi",
     1,
     refusal("log.adi"),
     {}},
    {"FIFO as output",
     {{"log.adi", worked_report}},
     nullptr,
     "mkfifo f && (cat f >/dev/null &) && ",
     "log.adi f",
     0,
     "Wrote 1 QSOs to f\n",
     {}},
    // Whatever the umask and the folder's default list, only this user can
    // open the temporary file until the commit.
    {"the temporary file is private",
     {{"out.csv", "old"}},
     nullptr,
     "umask 0 && setfacl -d -m u:65534:rwx . && " + paused_report +
         "{ (sleep 1; stat -c %a .qsoflat-*.tmp; getfacl -cs .qsoflat-*.tmp) "
         ">seen & } && exec ",
     "r.adi out.csv",
     0,
     "Wrote 1 QSOs to out.csv\n",
     {{"out.csv", header + "A,,,,,,,,,,,,,,\n"}, {"seen", "600\n"}}},
    {"SIGINT leaves the old output",
     {{"out.csv", "old"}},
     nullptr,
     paused_report + "timeout --preserve-status -s INT 1 ",
     "r.adi out.csv",
     130,
     "",
     {}},
    {"SIGTERM leaves the old output",
     {{"out.csv", "old"}},
     nullptr,
     paused_report + "timeout --preserve-status -s TERM 1 ",
     "r.adi out.csv",
     143,
     "",
     {}},
    {"SIGHUP leaves the old output",
     {{"out.csv", "old"}},
     nullptr,
     paused_report + "timeout --preserve-status -s HUP 1 ",
     "r.adi out.csv",
     129,
     "",
     {}},
    {"existing output in a folder that is not writable",
     {{"log.adi", worked_report}, {"ro/out.csv", "old"}},
     make_read_only_with_output,
     as_nobody,
     "log.adi ro/out.csv",
     1,
     "Could not open output file ro/out.csv\n\n" + usage_line,
     {}},
    {"output through a symbolic link replaces its target",
     {{"log.adi", worked_report}, {"real.csv", "old"}},
     symlink_output,
     "",
     "log.adi link.csv",
     0,
     "Wrote 1 QSOs to link.csv\n",
     {{"real.csv", header + worked_row}}},
    {"a report behind a symbolic link is never the output",
     {{"log.adi", worked_report},
      {"real.csv", "ADIF export <eoh>\n <CALL:1>A <eor>\n"}},
     symlink_output,
     "",
     "log.adi link.csv",
     1,
     "Output file link.csv is an ADIF file\n\n" + usage_line,
     {}},
    {"a report given as a descriptor is appended to",
     {{"log.adi", worked_report}, {"old.adi", worked_report}},
     nullptr,
     "",
     "log.adi /dev/fd/3 3>>old.adi",
     0,
     "Wrote 1 QSOs to /dev/fd/3\n",
     {{"old.adi", worked_report + header + worked_row}}},
    {"read error",
     {{"mem.csv", "old"}},
     nullptr,
     "",
     "/proc/self/mem mem.csv",
     1,
     "Could not read LoTW file /proc/self/mem\n",
     {}},
    {"--columns all read error",
     {{"mem.csv", "old"}},
     nullptr,
     "",
     "--columns all /proc/self/mem mem.csv",
     1,
     "Could not read LoTW file /proc/self/mem\n",
     {}},
    {"--columns all from a FIFO leaves the old output",
     {{"out.csv", "old"}},
     nullptr,
     "mkfifo r.adi && { printf '<CALL:1>A\\n<eor>\\n' >r.adi 2>/dev/null & } "
     "&& ",
     "--columns all r.adi out.csv",
     1,
     "--columns all needs a file that can be read twice: r.adi\n\n" +
         usage_line,
     {}},
#ifndef QSOFLAT_SANITIZED
    // A kept value may cost three times its size, a line not kept little.
    {"100 MB value in three times its size",
     {{"log.adi", "<CNTY:9>" + big_value + "\n<eor>\n"}},
     nullptr,
     "ulimit -v 300000 && ",
     "log.adi",
     0,
     "Wrote 1 QSOs to log.csv\n",
     {{"log.csv", header + ",,,,,,,,,,,,,,\"" + big_value + "\"\n"}}},
    {"100 MB header line in little memory",
     {{"log.adi", big_value + "\n" + worked_report}},
     nullptr,
     "ulimit -v 50000 && ",
     "log.adi",
     0,
     "Wrote 1 QSOs to log.csv\n",
     {{"log.csv", header + worked_row}}},
    {"100 MB tag, and 100 MB field line without a value, in little memory",
     {{"log.adi",
       "<CALL:" + big_value + ">Q1AAA\n<CALL:5 " + big_value + "\n<eor>\n"}},
     nullptr,
     "ulimit -v 10000 && ",
     "log.adi",
     0,
     "Wrote 1 QSOs to log.csv\n",
     {{"log.csv", header + "Q1AAA,,,,,,,,,,,,,,\n"}}},
    {"100 MB tag, and 100 MB field line without a value, in little memory with "
     "--skip-unknown",
     {{"log.adi",
       "<CALL:" + big_value + ">Q1AAA\n<CALL:5 " + big_value + "\n<eor>\n"}},
     nullptr,
     "ulimit -v 10000 && ",
     "--skip-unknown log.adi",
     0,
     "Wrote 1 QSOs to log.csv\n",
     {{"log.csv", header + "Q1AAA,,,,,,,,,,,,,,\n"}}},
    // The limit lets the first QSO through and fails the reading of the
    // second one's value.
    {"out of memory leaves no half row",
     {{"big.adi",
       "<CALL:1>A\n<eor>\n<CALL:1>B\n<CNTY:9>" + big_value + "\n<eor>\n"}},
     nullptr,
     "ulimit -v 150000 && ",
     "big.adi",
     1,
     "Out of memory\n",
     {{"big.csv", header + "A,,,,,,,,,,,,,,\n"}}},
#endif
#endif
};

void check(const cli_case& c, const fs::path& root = fresh_root()) {
  const run_result r = run(c, root);
  if (!r.skipped.empty())
    GTEST_SKIP() << r.skipped;
  files changed;
  for (const auto& [name, bytes] : c.changed)
    changed[name] = as_text(expand(bytes));
  EXPECT_EQ(r.status, c.status) << r;
  EXPECT_EQ(after_banner(r.err), as_text(c.err)) << r;
  EXPECT_EQ(r.out, as_text(c.out)) << r;
  EXPECT_EQ(r.changed, changed) << r;
}

class Cli : public testing::TestWithParam<cli_case> {};

TEST_P(Cli, Runs) { check(GetParam()); }

#ifdef __linux__
// A new output gets what a plain create gives under the umask, and a
// replaced one keeps its own permission bits.
TEST(CliOutput, KeepsPermissionBits) {
  using fs::perms;
  const fs::path root = fresh_root();
  fs::create_directories(root);
  std::ofstream(root / "log.adi") << worked_report;
  std::ofstream(root / "old.csv") << "old";
  const perms old_bits =
      perms::owner_read | perms::owner_write | perms::others_read;
  fs::permissions(root / "old.csv", old_bits);
  const std::string program = "\"" + binary() + "\" log.adi ";
  EXPECT_EQ(
      run_shell(root, "umask 027 && " + program + "new.csv 2>/dev/null && " +
                          program + "old.csv 2>/dev/null"),
      0);
  EXPECT_EQ(fs::status(root / "new.csv").permissions(),
            perms::owner_read | perms::owner_write | perms::group_read);
  EXPECT_EQ(fs::status(root / "old.csv").permissions(), old_bits);
  EXPECT_EQ(read_file(root / "old.csv"), header + worked_row);
  fs::remove_all(root);
}

// A member of a file's group who replaces another user's file cannot keep
// its owner, but keeps its group and its access control list.
TEST(CliOutput, KeepsGroupAndAccessControlList) {
  if (geteuid() != 0)
    GTEST_SKIP() << "giving a file to another user needs root";
  const fs::path root = fresh_root();
  fs::create_directories(root);
  fs::permissions(root, fs::perms::all);
  std::ofstream(root / "log.adi") << worked_report;
  std::ofstream(root / "old.csv") << "old";
  ASSERT_EQ(chown((root / "old.csv").c_str(), 65533, 1234), 0);
  const std::string acl =
      "setfacl -m u:65532:r,g::rw,o::r old.csv && getfacl -c old.csv >before "
      "&& ";
  EXPECT_EQ(
      run_shell(
          root,
          acl + "setpriv --reuid=65534 --regid=65534 --groups=1234 \"" +
              binary() +
              "\" log.adi old.csv 2>/dev/null && getfacl -c old.csv >after"),
      0);
  struct stat status {};
  ASSERT_EQ(stat((root / "old.csv").c_str(), &status), 0);
  EXPECT_EQ(status.st_uid, 65534U);
  EXPECT_EQ(status.st_gid, 1234U);
  EXPECT_EQ(read_file(root / "after"), read_file(root / "before"));
  EXPECT_EQ(read_file(root / "old.csv"), header + worked_row);
  fs::remove_all(root);
}

// The replaced file's access control list is exactly the old one's: none
// where it had none, whatever the folder's default list, and one of any
// size whole (tmpfs holds one larger than ext4's block).
TEST(CliOutput, KeepsTheAccessControlListExactly) {
  const struct {
    const char* what;
    std::string acl;  // makes d/old.csv's list
  } cases[] = {
      {"none, in a folder with a default list",
       "chmod 640 d/old.csv && setfacl -d -m u:65534:rwx d"},
      {"1,101 named entries",
       "setfacl -m g::--- d/old.csv && for u in $(seq 2000 3100); do echo "
       "u:$u:r--; done | setfacl -M - d/old.csv"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const fs::path root = fs::is_directory("/dev/shm")
                              ? "/dev/shm" / fresh_root().filename()
                              : fresh_root();
    fs::create_directories(root / "d");
    std::ofstream(root / "log.adi") << worked_report;
    std::ofstream(root / "d" / "old.csv") << "old";
    if (run_shell(root,
                  c.acl + " 2>/dev/null && getfacl -c d/old.csv >before") !=
        0) {
      fs::remove_all(root);
      GTEST_SKIP() << "this file system cannot hold the list";
    }
    EXPECT_EQ(run_shell(root, "\"" + binary() +
                                  "\" log.adi d/old.csv 2>/dev/null && getfacl "
                                  "-c d/old.csv >after"),
              0);
    EXPECT_EQ(read_file(root / "after"), read_file(root / "before"));
    EXPECT_EQ(read_file(root / "d" / "old.csv"), header + worked_row);
    fs::remove_all(root);
  }
}

// A pipe that the shell opened is written through, as "| wc -c" gives it,
// and a FIFO gets nothing from a file that holds no report.
TEST(CliOutput, WritesPipesAndFifos) {
  const fs::path root = fresh_root();
  fs::create_directories(root);
  std::ofstream(root / "log.adi") << worked_report;
  std::ofstream(root / "noise.bin") << random_bytes(100);
  const std::string program = "\"" + binary() + "\" ";
  EXPECT_EQ(
      run_shell(
          root,
          "{ " + program +
              "log.adi /dev/stdout 2>err; echo $? >status; } | cat >piped && "
              "mkfifo f && { timeout 10 cat f >from_fifo & } && " +
              program + "noise.bin f 2>/dev/null; wait"),
      0);
  EXPECT_EQ(read_file(root / "from_fifo"), "");
  EXPECT_EQ(read_file(root / "status"), "0\n");
  EXPECT_EQ(after_banner(read_file(root / "err")),
            "Wrote 1 QSOs to /dev/stdout\n");
  EXPECT_EQ(read_file(root / "piped"), header + worked_row);
  fs::remove_all(root);
}
#endif

// Names that must work whatever the code page. Each converts to the name
// derived from it; named as its own output it is refused, spelled the same,
// through a folder and back, and on Windows in other case, by its 8.3 name
// and through a second drive letter.
const struct {
  std::string input, derived, other_case;
} name_cases[] = {
    {"report – 2026.adi", "report – 2026.csv", "REPORT – 2026.ADI"},
    {"report – 2026.csv", "report – 2026.csv", "Report – 2026.CSV"},
    {"Bob’s log.adi", "Bob’s log.csv", "BOB’S LOG.adi"},
    {"отчёт.adi", "отчёт.csv", "ОТЧЁТ.ADI"},
    {"日本.adi", "日本.csv", "日本.ADI"},
    {"QSL 📡 log.adi", "QSL 📡 log.csv", "qsl 📡 LOG.adi"},
    {"my.表.adi", "my.csv", "MY.表.ADI"},
    {"Отчёты/lotwreport.adi", "Отчёты/lotwreport.csv", "оТЧЁТЫ/LotwReport.ADI"},
};

#ifdef _WIN32
// A redirected standard error holds the ANSI code page, "?" for the rest.
std::string as_message(const std::string& utf8) {
  const std::wstring text = fs::u8path(utf8).wstring();
  std::string bytes(utf8.size() * 2, '\0');
  bytes.resize(WideCharToMultiByte(GetACP(), WC_NO_BEST_FIT_CHARS, text.data(),
                                   static_cast<int>(text.size()), bytes.data(),
                                   static_cast<int>(bytes.size()), nullptr,
                                   nullptr));
  return bytes;
}

std::string native(std::string name) {
  for (char& c : name)
    if (c == '/')
      c = '\\';
  return name;
}

// The file's 8.3 name as dir /x shows it, in a folder of its own.
std::string short_name(const std::string& name) {
  const fs::path folder = fresh_root();
  fs::create_directories(folder);
  const fs::path file = folder / fs::u8path(name).filename();
  std::ofstream{file};
  wchar_t buffer[MAX_PATH];
  const DWORD size = GetShortPathNameW(file.c_str(), buffer, MAX_PATH);
  fs::remove_all(folder);
  return (fs::u8path(name).parent_path() /
          fs::path(std::wstring(buffer, size)).filename())
      .u8string();
}
#else
std::string as_message(const std::string& bytes) { return bytes; }
std::string native(const std::string& name) { return name; }
#endif

TEST(CliNames, TakesAnyFileName) {
#ifdef _WIN32
  // wine takes the code page from the locale, and from "C" where the locale
  // is missing.
  if (const char* code_page = std::getenv("QSOFLAT_CODE_PAGE")) {
    ASSERT_EQ(GetACP(), std::stoul(code_page))
        << "wine found no locale for this code page: see .ci/run";
  }
  // The cells that ctest's read-back step expects of each copy kept.
  if (const char* keep = std::getenv("QSOFLAT_XLSX_KEEP")) {
    fs::create_directories(fs::u8path(keep));
    std::ofstream(fs::u8path(keep) / "expected.txt", std::ios::binary)
        << worked_cells.substr(xlsx_cells.size());
  }
#endif
  for (const auto& n : name_cases) {
    SCOPED_TRACE(n.input);
    const files inputs = {{n.input, worked_report}, {"sub/", ""}};
    const std::string input = "\"" + native(n.input) + "\"";
    if (n.derived == n.input) {
      check({"",
             inputs,
             nullptr,
             "",
             input,
             1,
             as_message(refusal(native(n.input))),
             {}});
    } else {
      check({"",
             inputs,
             nullptr,
             "",
             input,
             0,
             as_message("Wrote 1 QSOs to " + native(n.derived) + "\n"),
             {{n.derived, header + worked_row}}});
      // An .xlsx, which the library writes by name, goes wherever a CSV goes.
      const std::string xlsx =
          n.derived.substr(0, n.derived.size() - 4) + ".xlsx";
      check({"",
             inputs,
             nullptr,
             "",
             "--xlsx " + input,
             0,
             as_message("Wrote 1 QSOs to " + native(xlsx) + "\n"),
             {{xlsx, worked_cells_here}}});
    }
    std::vector<std::string> own = {n.input, "sub/../" + n.input};
#ifdef _WIN32
    own.push_back(n.other_case);
    own.push_back(short_name(n.input));
#endif
    for (const std::string& output : own)
      check({"",
             inputs,
             nullptr,
             "",
             input + " \"" + native(output) + "\"",
             1,
             as_message(refusal(native(output))),
             {}});
#ifdef _WIN32
    // The drive named there is a second drive letter for the temporary
    // folder's drive, as a subst or a mapped drive gives.
    if (const char* drive = std::getenv("QSOFLAT_SECOND_DRIVE")) {
      const fs::path root = fresh_root();
      const std::string output =
          drive +
          (root / "work" / fs::u8path(native(n.input))).u8string().substr(2);
      check({"",
             inputs,
             nullptr,
             "",
             input + " \"" + output + "\"",
             1,
             as_message(refusal(output)),
             {}},
            root);
    }
#endif
  }
}

// Each row is a test of its own, named after what it checks, so that one
// can be run alone: ctest -R folder_as_input
std::string case_name(const testing::TestParamInfo<cli_case>& info) {
  std::string name = info.param.what;
  for (char& c : name)
    c = std::isalnum(static_cast<unsigned char>(c)) != 0 ? c : '_';
  return name;
}

INSTANTIATE_TEST_SUITE_P(, Cli, testing::ValuesIn(cli_cases), case_name);

}  // namespace

}  // namespace qsoflat
