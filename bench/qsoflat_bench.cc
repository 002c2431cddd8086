// Measures converters on generated LoTW-shaped reports, beside the floors of
// the same work: `wc -l` on the file, reading it once (`cat FILE >
// /dev/null`), and writing a copy of as many bytes as the CSV holds. Every
// command runs a few times, the commands taking turns, and the median time
// and the highest peak resident memory are shown.
//
//   qsoflat_bench PROGRAM [PROGRAM ...] [SHAPE ...] [columns] [xlsx] [QSOS ...]
//   qsoflat_bench -w plain|owncall|detailed QSOS FILE
//   qsoflat_bench -c 15|25
//
// Arguments that are numbers are report sizes in QSOs (default: 10000 200000
// 1000000), and plain, owncall and detailed choose shapes (default: all
// three); the others are converters, each measured on every report, so
// that a build can be held against an older one in the same run. A
// converter is its command's words, split at spaces, so that
// "build/qsoflat --skip-unknown" runs it with the option. A run that ends
// with status 1, as the default mode does on the detailed shape, is shown
// so; any other failure ends the benchmark. With the word columns, each
// converter is measured with the columns that a user chooses instead:
// --skip-unknown, and --columns with the 15 columns, with 25 (the 15 and
// the further fields that operators ask for) and all. With the word xlsx,
// the output is an .xlsx workbook, and the floor of writing it is
// xlsx_alone, built beside the benchmark, writing the same cells straight
// through the library in place of the copy of the CSV. The reports are
// written to TMPDIR. With -w, only one report is written, for a profiler to
// be run on; -c 15|25 prints the list of --columns for a profiler's command.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

extern char** environ;

namespace {

constexpr int runs = 5;

struct measurement {
  double seconds = 0;
  long peak_kib = 0;
  int status = 0;
};

const char* const bands[] = {"20M", "40M", "17M", "15M", "10M", "80M", "6M"};
const char* const modes[] = {"FT8", "SSB", "CW", "FT4", "RTTY"};
const char* const groups[] = {"DATA", "PHONE", "CW", "DATA", "DATA"};
const char* const frequencies[] = {"14.07400", "7.07400",  "18.10000",
                                   "21.07400", "28.07400", "3.57300",
                                   "50.31300"};
const char* const counties[] = {"OK,OKLAHOMA // Oklahoma",
                                "AR,SALINE // Saline",
                                "OH,MAHONING // Mahoning"};

// Three shapes of report. Today's plain download has no own-call line, so
// the whole report is read with the fields the program does not know
// skipped: the frequency, the mode group and the commented time stamps. The
// owncall shape names the own call in every QSO and holds the 17 known
// fields and nothing else, so that every line is captured and every column
// written. The detailed shape is today's download with QSL details: the own
// call, the own station's fields, the frequency, LoTW's application fields
// and comments, about 35 lines a QSO, which only --skip-unknown reads whole.
enum class shape { plain, owncall, detailed };
const char* const shape_names[] = {"plain", "owncall", "detailed"};

void write_plain_qso(std::FILE* out, long i) {
  const char* band = bands[i % 7];
  const char* mode = modes[i % 5];
  const long year = 2010 + i % 17, month = 1 + i % 12, day = 1 + i % 28;
  const long hour = i % 24, minute = i % 60, second = (i * 7) % 60;
  std::fprintf(out,
               "<CALL:6>Q%05ld\r\n<BAND:%zu>%s\r\n<FREQ:%zu>%s\r\n"
               "<MODE:%zu>%s\r\n<APP_LoTW_MODEGROUP:%zu>%s\r\n"
               "<QSO_DATE:8>%04ld%02ld%02ld\r\n",
               i % 100000, std::strlen(band), band,
               std::strlen(frequencies[i % 7]), frequencies[i % 7],
               std::strlen(mode), mode, std::strlen(groups[i % 5]),
               groups[i % 5], year, month, day);
  std::fprintf(out,
               "<APP_LoTW_RXQSO:19>%04ld-%02ld-%02ld %02ld:%02ld:%02ld // QSO "
               "record inserted/modified at LoTW\r\n"
               "<TIME_ON:6>%02ld%02ld%02ld\r\n"
               "<APP_LoTW_QSO_TIMESTAMP:20>%04ld-%02ld-%02ldT%02ld:%02ld:"
               "%02ldZ // QSO Date & Time; ISO-8601\r\n",
               year, month, day, hour, minute, second, hour, minute, second,
               year, month, day, hour, minute, second);
  std::fprintf(out,
               "<QSL_RCVD:1>Y\r\n<QSLRDATE:8>%04ld%02ld%02ld\r\n"
               "<APP_LoTW_RXQSL:19>%04ld-%02ld-%02ld 23:31:22 // QSL record "
               "matched/modified at LoTW\r\n<eor>\r\n\r\n",
               year, month, day, year, month, day);
}

void write_owncall_qso(std::FILE* out, long i) {
  const char* band = bands[i % 7];
  const char* mode = modes[i % 5];
  const char* county = counties[i % 3];
  const long year = 2010 + i % 17, month = 1 + i % 12, day = 1 + i % 28;
  const long hour = i % 24, minute = i % 60, second = (i * 7) % 60;
  std::fprintf(out,
               "<APP_LoTW_OWNCALL:6>N0CALL\r\n<STATION_CALLSIGN:6>N0CALL\r\n"
               "<CALL:6>Q%05ld\r\n<BAND:%zu>%s\r\n<MODE:%zu>%s\r\n"
               "<QSO_DATE:8>%04ld%02ld%02ld\r\n"
               "<TIME_ON:6>%02ld%02ld%02ld\r\n",
               i % 100000, std::strlen(band), band, std::strlen(mode), mode,
               year, month, day, hour, minute, second);
  std::fprintf(out,
               "<QSL_RCVD:1>Y\r\n<QSLRDATE:8>%04ld%02ld%02ld\r\n"
               "<DXCC:3>%03ld\r\n<PFX:2>N%ld\r\n<GRIDSQUARE:4>EM%02ld\r\n"
               "<CQZ:2>%02ld\r\n<ITUZ:2>%02ld\r\n<IOTA:6>NA-%03ld\r\n",
               year, month, day, 1 + i % 500, i % 10, i % 100, 1 + i % 40,
               1 + i % 90, 1 + i % 200);
  std::fprintf(out,
               "<STATE:2>%.2s // Oklahoma\r\n<CNTY:%zu>%s\r\n<eor>\r\n\r\n",
               county, std::strcspn(county, " "), county);
}

void write_detailed_qso(std::FILE* out, long i) {
  const char* band = bands[i % 7];
  const char* mode = modes[i % 5];
  const char* county = counties[i % 3];
  const long year = 2010 + i % 17, month = 1 + i % 12, day = 1 + i % 28;
  const long hour = i % 24, minute = i % 60, second = (i * 7) % 60;
  std::fputs(
      "<APP_LoTW_OWNCALL:6>N0CALL\r\n<STATION_CALLSIGN:6>N0CALL\r\n"
      "<MY_DXCC:3>291\r\n<MY_COUNTRY:24>UNITED STATES OF AMERICA\r\n"
      "<APP_LoTW_MY_DXCC_ENTITY_STATUS:7>Current\r\n"
      "<MY_GRIDSQUARE:6>EM15FK\r\n<MY_STATE:2>OK // Oklahoma\r\n"
      "<MY_CNTY:11>OK,OKLAHOMA // Oklahoma\r\n<MY_CQ_ZONE:1>4\r\n"
      "<MY_ITU_ZONE:1>7\r\n",
      out);
  std::fprintf(out,
               "<CALL:6>Q%05ld\r\n<BAND:%zu>%s\r\n<FREQ:%zu>%s\r\n"
               "<MODE:%zu>%s\r\n<APP_LoTW_MODEGROUP:%zu>%s\r\n"
               "<QSO_DATE:8>%04ld%02ld%02ld\r\n",
               i % 100000, std::strlen(band), band,
               std::strlen(frequencies[i % 7]), frequencies[i % 7],
               std::strlen(mode), mode, std::strlen(groups[i % 5]),
               groups[i % 5], year, month, day);
  std::fprintf(out,
               "<APP_LoTW_RXQSO:19>%04ld-%02ld-%02ld %02ld:%02ld:%02ld // QSO "
               "record inserted/modified at LoTW\r\n"
               "<TIME_ON:6>%02ld%02ld%02ld\r\n"
               "<APP_LoTW_QSO_TIMESTAMP:20>%04ld-%02ld-%02ldT%02ld:%02ld:"
               "%02ldZ // QSO Date & Time; ISO-8601\r\n",
               year, month, day, hour, minute, second, hour, minute, second,
               year, month, day, hour, minute, second);
  std::fprintf(out,
               "<QSL_RCVD:1>Y\r\n<QSLRDATE:8>%04ld%02ld%02ld\r\n"
               "<APP_LoTW_RXQSL:19>%04ld-%02ld-%02ld 23:31:22 // QSL record "
               "matched/modified at LoTW\r\n"
               "<DXCC:3>%03ld\r\n<COUNTRY:24>UNITED STATES OF AMERICA\r\n"
               "<APP_LoTW_DXCC_ENTITY_STATUS:7>Current\r\n"
               "<APP_LoTW_2xQSL:1>Y\r\n<PFX:2>N%ld\r\n",
               year, month, day, year, month, day, 1 + i % 500, i % 10);
  std::fprintf(out,
               "<GRIDSQUARE:4>EM%02ld\r\n<STATE:2>%.2s // Oklahoma\r\n"
               "<CNTY:%zu>%s\r\n<CQZ:2>%02ld\r\n<ITUZ:2>%02ld\r\n"
               "<eor>\r\n\r\n",
               i % 100, county, std::strcspn(county, " "), county, 1 + i % 40,
               1 + i % 90);
}

// Writes a report as a LoTW download comes: a free-form header, CR LF line
// ends, one field per line, comments after some values.
void generate(const std::string& path, long qsos, shape kind) {
  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) {
    std::perror(path.c_str());
    std::exit(1);
  }
  std::fprintf(out,
               "ARRL Logbook of the World Status Report\r\n"
               "Generated at 2026-12-08 01:00:00\r\nfor N0CALL\r\nQuery:\r\n"
               "    QSL ONLY: YES\r\n\r\n<PROGRAMID:4>LoTW\r\n\r\n"
               "<APP_LoTW_NUMREC:%zu>%ld\r\n\r\n<eoh>\r\n\r\n",
               std::to_string(qsos).size(), qsos);
  for (long i = 0; i < qsos; ++i) {
    if (kind == shape::plain)
      write_plain_qso(out, i);
    else if (kind == shape::owncall)
      write_owncall_qso(out, i);
    else
      write_detailed_qso(out, i);
  }
  std::fputs("<APP_LoTW_EOF>\r\n", out);
  if (std::fclose(out) != 0) {
    std::perror(path.c_str());
    std::exit(1);
  }
}

// The words of a converter's command, split at spaces, with the input
// and the output after them.
std::vector<std::string> converter_command(const std::string& converter,
                                           const std::string& input,
                                           const std::string& output) {
  std::vector<std::string> words;
  std::size_t start = 0;
  while (start < converter.size()) {
    std::size_t stop = converter.find(' ', start);
    if (stop == std::string::npos)
      stop = converter.size();
    if (stop > start)
      words.push_back(converter.substr(start, stop - start));
    start = stop + 1;
  }
  words.push_back(input);
  words.push_back(output);
  return words;
}

// A command to measure, and its times so far.
struct command {
  command(std::string name, std::vector<std::string> words)
      : label(std::move(name)), argv(std::move(words)) {}

  std::string label;
  std::vector<std::string> argv;
  std::vector<measurement> times;
};

// Runs the command with its output streams sent nowhere, and returns its
// wall time and the peak resident memory of that one child. The child starts
// as a copy of this process, so the peak is never below this process's own,
// some 3 MiB.
measurement run(const command& c) {
  std::vector<char*> argv;
  for (const std::string& word : c.argv)
    argv.push_back(const_cast<char*>(word.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  const auto start = std::chrono::steady_clock::now();
  pid_t child;
  if (posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ) !=
      0) {
    std::fprintf(stderr, "cannot run %s\n", argv[0]);
    std::exit(1);
  }
  int status;
  rusage usage;
  wait4(child, &status, 0, &usage);
  const auto stop = std::chrono::steady_clock::now();
  posix_spawn_file_actions_destroy(&actions);
  if (!WIFEXITED(status) || WEXITSTATUS(status) > 1) {
    std::fprintf(stderr, "%s failed\n", argv[0]);
    std::exit(1);
  }
  return {std::chrono::duration<double>(stop - start).count(), usage.ru_maxrss,
          WEXITSTATUS(status)};
}

// Runs every command once per round, in turn, so that a busy moment of the
// machine falls on all of them alike. The file named by scratch is removed
// before each run, so that each run writes a new file rather than first
// freeing the last run's output; earlier files still being written back
// would throttle a run's writes, so they are flushed first.
void measure(std::vector<command>& commands, const std::string& scratch) {
  for (int round = 0; round < runs; ++round) {
    for (command& c : commands) {
      std::filesystem::remove(scratch);
      sync();
      c.times.push_back(run(c));
    }
  }
}

measurement median_of(std::vector<measurement> times) {
  std::sort(times.begin(), times.end(),
            [](const measurement& a, const measurement& b) {
              return a.seconds < b.seconds;
            });
  measurement result = times[times.size() / 2];
  for (const measurement& m : times) {
    result.peak_kib = std::max(result.peak_kib, m.peak_kib);
    result.status = std::max(result.status, m.status);
  }
  return result;
}

// The columns of --columns that the word columns measures, by their count.
const char* const fifteen_columns =
    "CALL,BAND,MODE,QSO_DATE,TIME_ON,QSL_RCVD,QSLRDATE,DXCC,PFX,CQZ,ITUZ,"
    "IOTA,GRIDSQUARE,STATE,CNTY";
const std::string twenty_five_columns =
    std::string(fifteen_columns) +
    ",COUNTRY,FREQ,SUBMODE,PROP_MODE,SAT_NAME,APP_LoTW_QSO_TIMESTAMP,"
    "MY_GRIDSQUARE,MY_STATE,MY_CNTY,CREDIT_GRANTED";

// A converter to measure: its label in the table and its command's words
// before the input and the output.
struct converter {
  std::string label;
  std::string words;
};

bool is_number(const char* text) {
  return *text != '\0' && std::strspn(text, "0123456789") == std::strlen(text);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "-c") == 0) {
    std::puts(std::strcmp(argv[2], "15") == 0 ? fifteen_columns
                                              : twenty_five_columns.c_str());
    return 0;
  }
  if (argc == 5 && std::strcmp(argv[1], "-w") == 0) {
    const auto named = std::find_if(
        std::begin(shape_names), std::end(shape_names),
        [&](const char* name) { return std::strcmp(name, argv[2]) == 0; });
    if (named == std::end(shape_names)) {
      std::fprintf(stderr, "no shape %s\n", argv[2]);
      return 2;
    }
    generate(argv[4], std::atol(argv[3]),
             static_cast<shape>(named - std::begin(shape_names)));
    return 0;
  }
  std::vector<converter> programs;
  std::vector<long> sizes;
  std::vector<shape> shapes;
  bool columns = false;
  bool xlsx = false;
  for (int i = 1; i < argc; ++i) {
    const auto named = std::find_if(
        std::begin(shape_names), std::end(shape_names),
        [&](const char* name) { return std::strcmp(name, argv[i]) == 0; });
    if (is_number(argv[i]))
      sizes.push_back(std::atol(argv[i]));
    else if (named != std::end(shape_names))
      shapes.push_back(static_cast<shape>(named - std::begin(shape_names)));
    else if (std::strcmp(argv[i], "columns") == 0)
      columns = true;
    else if (std::strcmp(argv[i], "xlsx") == 0)
      xlsx = true;
    else
      programs.push_back({argv[i], argv[i]});
  }
  if (columns) {
    std::vector<converter> chosen;
    for (const converter& program : programs) {
      chosen.push_back({program.label + " --skip-unknown",
                        program.words + " --skip-unknown"});
      chosen.push_back({program.label + " --columns (15)",
                        program.words + " --columns " + fifteen_columns});
      chosen.push_back({program.label + " --columns (25)",
                        program.words + " --columns " + twenty_five_columns});
      chosen.push_back(
          {program.label + " --columns all", program.words + " --columns all"});
    }
    programs = chosen;
  }
  if (programs.empty()) {
    std::fputs(
        "usage: qsoflat_bench PROGRAM [PROGRAM ...] [SHAPE ...] "
        "[columns] [xlsx] [QSOS ...]\n",
        stderr);
    return 2;
  }
  if (sizes.empty())
    sizes = {10000, 200000, 1000000};
  if (shapes.empty())
    shapes = {shape::plain, shape::owncall, shape::detailed};

  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() /
      ("qsoflat-bench-" + std::to_string(getpid()));
  std::filesystem::create_directories(folder);
  const std::string input = (folder / "lotwreport.adi").string();
  const std::string output =
      (folder / (xlsx ? "lotwreport.xlsx" : "lotwreport.csv")).string();
  const std::string alone =
      (std::filesystem::path(argv[0]).parent_path() / "xlsx_alone").string();

  std::printf("reports in %s; median of %d runs taken in turn\n",
              folder.string().c_str(), runs);
  std::printf("%-8s %8s %7s  %-28s %8s %7s %9s %8s\n", "shape", "QSOs", "MB",
              "command", "seconds", "MB/s", "peak KiB", "x wc -l");
  for (shape kind : shapes) {
    for (long qsos : sizes) {
      generate(input, qsos, kind);
      const double mb =
          static_cast<double>(std::filesystem::file_size(input)) / 1e6;
      std::vector<command> commands = {
          {"wc -l", {"wc", "-l", input}},
          {"cat FILE > /dev/null", {"cat", input}},
      };
      if (xlsx) {
        commands.push_back({"xlsx_alone",
                            {alone, shape_names[static_cast<int>(kind)],
                             std::to_string(qsos), output, folder.string()}});
      } else {
        // One conversion first, for the size of the CSV that the copy
        // floor writes: by the first converter that reads the report
        // whole, if any.
        for (const converter& program : programs)
          if (run(command("", converter_command(program.words, input, output)))
                  .status == 0)
            break;
        const std::string csv_bytes =
            std::to_string(std::filesystem::file_size(output));
        commands.push_back(
            {"copy of the CSV's bytes",
             {"dd", "if=" + input, "of=" + output, "bs=64K",
              "count=" + csv_bytes, "iflag=count_bytes", "status=none"}});
      }
      for (const converter& program : programs)
        commands.push_back(
            {program.label, converter_command(program.words, input, output)});
      measure(commands, output);

      const double lines = median_of(commands.front().times).seconds;
      for (const command& c : commands) {
        const measurement m = median_of(c.times);
        std::printf("%-8s %8ld %7.1f  %-28s %8.3f %7.0f %9ld %7.1fx%s\n",
                    shape_names[static_cast<int>(kind)], qsos, mb,
                    c.label.c_str(), m.seconds, mb / m.seconds, m.peak_kib,
                    m.seconds / lines, m.status != 0 ? "  status 1" : "");
      }
    }
  }
  std::filesystem::remove_all(folder);
  return 0;
}
