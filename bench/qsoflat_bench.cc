// Measures the converter on generated LoTW-shaped reports: throughput beside
// `wc -l` on the same file, and peak resident memory as the input grows.
//
//   qsoflat_bench PROGRAM [QSOS ...]    (default: 10000 200000 1000000)
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

namespace {

constexpr int runs = 5;

struct measurement {
  double seconds = 0;
  long peak_kib = 0;
};

const char* const bands[] = {"20M", "40M", "17M", "15M", "10M", "80M", "6M"};
const char* const modes[] = {"FT8", "SSB", "CW", "FT4", "RTTY"};
const char* const groups[] = {"DATA", "PHONE", "CW", "DATA", "DATA"};

// The two shapes LoTW has delivered. The current one has no own-call line, so
// the whole report is read with the fields the program does not know
// skipped; the older one names the own call in every QSO and holds only
// known fields after it.
enum class shape { current, owncall };

void write_qso(std::FILE* out, long i, shape kind) {
  const char* band = bands[i % 7];
  const char* mode = modes[i % 5];
  const long year = 2010 + i % 17, month = 1 + i % 12, day = 1 + i % 28;
  const long hour = i % 24, minute = i % 60, second = (i * 7) % 60;
  if (kind == shape::owncall)
    std::fputs("<APP_LoTW_OWNCALL:6>N0CALL\r\n<STATION_CALLSIGN:6>N0CALL\r\n",
               out);
  std::fprintf(out, "<CALL:6>Q%05ld\r\n<BAND:%zu>%s\r\n", i % 100000,
               std::strlen(band), band);
  if (kind == shape::current)
    std::fputs("<FREQ:8>14.07400\r\n", out);
  std::fprintf(out, "<MODE:%zu>%s\r\n", std::strlen(mode), mode);
  if (kind == shape::current)
    std::fprintf(out, "<APP_LoTW_MODEGROUP:%zu>%s\r\n",
                 std::strlen(groups[i % 5]), groups[i % 5]);
  std::fprintf(out, "<QSO_DATE:8>%04ld%02ld%02ld\r\n", year, month, day);
  if (kind == shape::current)
    std::fputs("<APP_LoTW_RXQSO:19>2026-12-08 02:25:25 // QSO record "
               "inserted/modified at LoTW\r\n", out);
  std::fprintf(out, "<TIME_ON:6>%02ld%02ld%02ld\r\n", hour, minute, second);
  if (kind == shape::current)
    std::fprintf(out,
                 "<APP_LoTW_QSO_TIMESTAMP:20>%04ld-%02ld-%02ldT%02ld:%02ld:"
                 "%02ldZ // QSO Date & Time; ISO-8601\r\n",
                 year, month, day, hour, minute, second);
  std::fputs("<QSL_RCVD:1>Y\r\n<QSLRDATE:8>20261208\r\n", out);
  if (kind == shape::current)
    std::fputs("<APP_LoTW_RXQSL:19>2026-12-08 23:31:22 // QSL record "
               "matched/modified at LoTW\r\n", out);
  std::fprintf(out, "<DXCC:3>%03ld\r\n", 1 + i % 500);
  if (kind == shape::current)
    std::fputs("<COUNTRY:24>UNITED STATES OF AMERICA\r\n"
               "<APP_LoTW_DXCC_ENTITY_STATUS:7>Current\r\n", out);
  std::fprintf(out, "<PFX:2>N%ld\r\n", i % 10);
  if (kind == shape::current)
    std::fputs("<APP_LoTW_2xQSL:1>Y\r\n", out);
  std::fprintf(out,
               "<GRIDSQUARE:4>EM%02ld\r\n<STATE:2>OK // Oklahoma\r\n"
               "<CNTY:11>OK,OKLAHOMA // Oklahoma\r\n<CQZ:2>%02ld\r\n"
               "<ITUZ:2>%02ld\r\n<eor>\r\n\r\n",
               i % 100, 1 + i % 40, 1 + i % 90);
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
               "    QSL ONLY: NO\r\n\r\n<PROGRAMID:4>LoTW\r\n\r\n"
               "<APP_LoTW_NUMREC:%zu>%ld\r\n\r\n<eoh>\r\n\r\n",
               std::to_string(qsos).size(), qsos);
  for (long i = 0; i < qsos; ++i)
    write_qso(out, i, kind);
  std::fputs("<APP_LoTW_EOF>\r\n", out);
  if (std::fclose(out) != 0) {
    std::perror(path.c_str());
    std::exit(1);
  }
}

// Runs the command with its output streams sent nowhere, and returns its
// wall time and the peak resident memory of that one child.
measurement run(const std::vector<std::string>& command) {
  std::vector<char*> argv;
  for (const std::string& word : command)
    argv.push_back(const_cast<char*>(word.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  const auto start = std::chrono::steady_clock::now();
  pid_t child;
  if (posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(),
                   environ) != 0) {
    std::fprintf(stderr, "cannot run %s\n", argv[0]);
    std::exit(1);
  }
  int status;
  rusage usage;
  wait4(child, &status, 0, &usage);
  const auto stop = std::chrono::steady_clock::now();
  posix_spawn_file_actions_destroy(&actions);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "%s failed\n", argv[0]);
    std::exit(1);
  }
  return {std::chrono::duration<double>(stop - start).count(), usage.ru_maxrss};
}

// The fastest of a few runs and the highest peak, so that a warm page cache and a quiet moment
// are what is measured. A file named by scratch is removed before each run,
// so that each conversion writes a new file rather than first freeing the
// last run's output.
measurement best_of(const std::vector<std::string>& command,
                    const std::string& scratch = "") {
  measurement best{1e9, 0};
  for (int i = 0; i < runs; ++i) {
    if (!scratch.empty())
      std::filesystem::remove(scratch);
    // Earlier files still being written back would throttle this run's
    // writes, so they are flushed first.
    sync();
    const measurement next = run(command);
    best.seconds = std::min(best.seconds, next.seconds);
    best.peak_kib = std::max(best.peak_kib, next.peak_kib);
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs("usage: qsoflat_bench PROGRAM [QSOS ...]\n", stderr);
    return 2;
  }
  std::vector<long> sizes;
  for (int i = 2; i < argc; ++i)
    sizes.push_back(std::atol(argv[i]));
  if (sizes.empty())
    sizes = {10000, 200000, 1000000};

  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() /
      ("qsoflat-bench-" + std::to_string(getpid()));
  std::filesystem::create_directories(folder);
  const std::string input = (folder / "lotwreport.adi").string();
  const std::string output = (folder / "lotwreport.csv").string();

  std::printf("%-8s %9s %8s %9s %7s %9s %10s %6s\n", "shape", "QSOs", "MB",
              "qsoflat", "MB/s", "peak KiB", "wc -l MB/s", "ratio");
  for (shape kind : {shape::current, shape::owncall}) {
    for (long qsos : sizes) {
      generate(input, qsos, kind);
      const double mb =
          static_cast<double>(std::filesystem::file_size(input)) / 1e6;
      const measurement convert = best_of({argv[1], input, output}, output);
      const measurement count = best_of({"wc", "-l", input});
      std::printf("%-8s %9ld %8.1f %8.3fs %7.0f %9ld %10.0f %5.1fx\n",
                  kind == shape::current ? "current" : "owncall", qsos, mb,
                  convert.seconds, mb / convert.seconds, convert.peak_kib,
                  mb / count.seconds, convert.seconds / count.seconds);
    }
  }
  std::filesystem::remove_all(folder);
  return 0;
}
