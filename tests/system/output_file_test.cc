#include "system/output_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#ifdef _WIN32
#include <windows.h>
#endif

#include "support/test_files.h"
#include "system/temporary_file.h"

namespace qsoflat {

namespace fs = std::filesystem;

namespace {

int failing_close(std::FILE* stream) {
  (void)std::fclose(stream);
  return EOF;
}
bool failing_sync(std::FILE* /*stream*/) { return false; }
bool failing_rename(const system_name& /*temporary*/,
                    const system_name& /*target*/, bool /*replacing*/) {
  return false;
}
#ifndef _WIN32
// An interrupting signal that comes once the rename has begun.
bool interrupted_rename(const system_name& temporary, const system_name& target,
                        bool replacing) {
  (void)std::raise(SIGTERM);
  return system_commit_calls.rename(temporary, target, replacing);
}
#endif

// Whichever call of the commit fails, the old file stays as it was and no
// temporary file is left; once the rename has begun, a signal does not end
// the run.
TEST(OutputFile, CommitLeavesTheOldFileOrTheNew) {
  const struct {
    const char* what;
    commit_calls calls;  // a null call is the system's
    const char* left;
  } cases[] = {
      {"close fails", {failing_close, nullptr, nullptr}, "old"},
      {"sync fails", {nullptr, failing_sync, nullptr}, "old"},
      {"rename fails", {nullptr, nullptr, failing_rename}, "old"},
#ifndef _WIN32
      {"signal during the rename",
       {nullptr, nullptr, interrupted_rename},
       "new"},
#endif
  };
  const fs::path folder = fs::temp_directory_path() /
                          ("qsoflat-output-" + std::to_string(getpid()));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(folder);
    fs::create_directories(folder);
    std::ofstream(folder / "out.csv") << "old";
    std::FILE* input = std::tmpfile();
    ASSERT_NE(input, nullptr);
    {
      output_file out;
      ASSERT_EQ(
          out.open(input, (folder / "out.csv").u8string().c_str()).outcome,
          open_outcome::opened);
      (void)std::fputs("new", out.stream());
      commit_calls calls = system_commit_calls;
      calls.close = c.calls.close != nullptr ? c.calls.close : calls.close;
      calls.sync = c.calls.sync != nullptr ? c.calls.sync : calls.sync;
      calls.rename = c.calls.rename != nullptr ? c.calls.rename : calls.rename;
      EXPECT_EQ(out.commit(calls), std::string(c.left) == "new");
    }
    EXPECT_EQ(files_in(folder), (files{{"out.csv", c.left}}));
    (void)std::fclose(input);
  }
  fs::remove_all(folder);
}

// The sizes of the head and the tail that the last test was given.
std::size_t head_size = 0;
std::size_t tail_size = 0;

// A file is precious by a marker in its first or last 64 KiB, the tail
// starting at an even offset; its middle is never read, and a small file
// is the head alone.
TEST(OutputFile, ReadsTheFirstAndLast64KiB) {
  constexpr std::size_t part = precious_part_size;
  const struct {
    std::size_t size, marker_at;
    bool precious;
    std::size_t tail;
  } cases[] = {
      {200000, part - 5, true, part},
      {200000, part - 4, false, part},
      {200000, 200000 - part - 1, false, part},
      {200000, 200000 - 5, true, part},
      {200001, 200001 - part + 1, true, part - 1},
      {200001, 200001 - part, false, part - 1},
      {100, 95, true, 0},
  };
  const fs::path folder =
      fs::temp_directory_path() / ("qsoflat-head-" + std::to_string(getpid()));
  fs::create_directories(folder);
  std::FILE* input = std::tmpfile();
  ASSERT_NE(input, nullptr);
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.size) + " " + std::to_string(c.marker_at));
    std::string bytes(c.size, ',');
    bytes.replace(c.marker_at, 5, "<eor>");
    std::ofstream(folder / "out.csv", std::ios::binary) << bytes;
    output_file out;
    const open_result opened =
        out.open(input, (folder / "out.csv").u8string().c_str(),
                 [](std::string_view head, std::string_view tail) {
                   head_size = head.size();
                   tail_size = tail.size();
                   return head.find("<eor>") != std::string_view::npos ||
                                  tail.find("<eor>") != std::string_view::npos
                              ? 7
                              : 0;
                 });
    EXPECT_EQ(opened.outcome,
              c.precious ? open_outcome::precious : open_outcome::opened);
    EXPECT_EQ(opened.precious_kind, c.precious ? 7 : 0);
    EXPECT_EQ(head_size, std::min(c.size, part));
    EXPECT_EQ(tail_size, c.tail);
  }
  (void)std::fclose(input);
  fs::remove_all(folder);
}

#ifdef _WIN32
// A spreadsheet that opens the old file while the run writes the new one
// keeps it, and the failure says that another program holds it.
TEST(OutputFile, CommitTellsOfAFileHeldMeanwhile) {
  const fs::path folder =
      fs::temp_directory_path() / ("qsoflat-held-" + std::to_string(getpid()));
  fs::create_directories(folder);
  std::ofstream(folder / "out.csv") << "old";
  std::FILE* input = std::tmpfile();
  ASSERT_NE(input, nullptr);
  {
    output_file out;
    ASSERT_EQ(out.open(input, (folder / "out.csv").u8string().c_str()).outcome,
              open_outcome::opened);
    (void)std::fputs("new", out.stream());
    const HANDLE held =
        CreateFileW((folder / "out.csv").c_str(), GENERIC_READ | GENERIC_WRITE,
                    FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(out.commit());
    EXPECT_TRUE(out.failure().held_by_another_program()) << out.failure().code;
    (void)CloseHandle(held);
  }
  EXPECT_EQ(files_in(folder), (files{{"out.csv", "old"}}));
  (void)std::fclose(input);
  fs::remove_all(folder);
}
#else
// An interruption removes the temporary file and ends the process by its
// signal, however the signal mask stands when the handler is called.
TEST(TemporaryFileDeathTest, InterruptionRemovesTheFileAndEndsByTheSignal) {
  const fs::path file = fs::temp_directory_path() /
                        ("qsoflat-registered-" + std::to_string(getpid()));
  std::ofstream(file) << "temporary";
  EXPECT_EXIT(
      {
        catch_interruptions();
        {
          const registry_lock held;
          register_temporary(file.string());
        }
        sigset_t blocked;
        (void)sigemptyset(&blocked);
        (void)sigaddset(&blocked, SIGTERM);
        (void)sigprocmask(SIG_BLOCK, &blocked, nullptr);
        struct sigaction action {};
        (void)sigaction(SIGTERM, nullptr, &action);
        action.sa_handler(SIGTERM);
        std::_Exit(0);
      },
      testing::KilledBySignal(SIGTERM), "");
  EXPECT_FALSE(fs::exists(file));
  fs::remove(file);
}
#endif

}  // namespace

}  // namespace qsoflat
