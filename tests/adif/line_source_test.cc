#include "adif/line_source.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/test_files.h"

namespace qsoflat {

namespace {

using namespace std::string_literals;

// A caller that keeps whole the lines starting with "K", passes over those
// starting with "P", and of the others keeps their head and value.
line_keep keep_by_first_byte(const line& start) {
  if (start.text.empty() || start.text[0] == 'K')
    return line_keep::all;
  return start.text[0] == 'P' ? line_keep::none : line_keep::head_and_value;
}

constexpr std::size_t head = 4;

// Each line's text, with "|" before its value when it has one.
std::vector<std::string> lines_of(const std::string& input, std::size_t size,
                                  std::size_t* largest = nullptr) {
  std::FILE* in = file_holding(input);
  line_source source(in, size, head);
  std::vector<std::string> lines;
  line got;
  while (source.next(got, keep_by_first_byte)) {
    std::string text(got.text);
    if (got.value_start != std::string_view::npos)
      text.insert(got.value_start, "|");
    lines.push_back(text);
    if (largest != nullptr)
      *largest = std::max(*largest, source.capacity());
  }
  std::fclose(in);
  return lines;
}

TEST(LineSource, HandsOutEachLineAtAnyCapacity) {
  const std::string long_text(1000, 'x');
  const struct {
    const char* what;
    std::string input;
    std::vector<std::string> lines;
  } cases[] = {
      {"line feeds, CR LF and leading CRs",
       "Ka\n\r\rKb\r\n\nK>c",
       {"Ka", "Kb", "", "K>|c"}},
      {"a CR or NUL ends the text, the rest of the line is dropped",
       "Ka\rb>\nK\0c\n"s,
       {"Ka", "K"}},
      {"a long kept line, and its value",
       "K" + long_text + ">" + long_text + "\nKz",
       {"K" + long_text + ">|" + long_text, "Kz"}},
      {"a long line passed over",
       "P" + long_text + "\nP" + long_text + "\r" + long_text + "\nKz\n",
       {"", "", "Kz"}},
      {"a long head cut to its value",
       "H" + long_text + ">v\nH" + long_text + "\r>v\nH" + long_text + "\nKz",
       {"Hxxx>|v", "Hxxx", "Hxxx", "Kz"}},
      {"empty input", "", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    for (const std::size_t size : {1, 2, 7, 64})
      EXPECT_EQ(lines_of(c.input, size), c.lines) << size;
  }
  // A line cut to its head may be cut or not as the buffer falls, but the
  // bytes after its text's end never join it, even where the text ends as
  // the buffer fills.
  const std::vector<std::string> whole = {"Habcde", "Kz"}, cut = {"Habc", "Kz"};
  for (std::size_t size = 1; size <= 16; ++size) {
    const std::vector<std::string> got = lines_of("Habcde\r>v\nKz", size);
    EXPECT_TRUE(got == whole || got == cut) << size << " " << got[0];
  }
}

// A kept line costs the buffer at most half as much again as the line, as
// it grows by half at a time; a line passed over, or cut to its head,
// costs nothing, and a grown buffer is given back at the next read.
TEST(LineSource, HoldsAKeptLineInAtMostHalfAsMuchAgain) {
  const std::string long_text(1000, 'x');
  const struct {
    const char* what;
    std::size_t size;
    std::string input;
    std::size_t line;  // the longest line kept whole, with its line end
  } cases[] = {
      {"from one byte", 1, "K" + long_text, 1001},
      {"from a few bytes", 7, "K" + long_text + "\nKa\n", 1002},
      {"just past what doubling would fit", 64,
       "K" + long_text + std::string(29, 'y') + "\nKa\n", 1031},
      {"passed over and cut to the head", 64,
       "P" + long_text + "\nH" + long_text + ">v\n", 0},
  };
  for (const auto& c : cases) {
    std::size_t largest = 0;
    lines_of(c.input, c.size, &largest);
    EXPECT_GE(largest, c.line) << c.what;
    EXPECT_LE(largest, std::max(c.size, c.line * 3 / 2)) << c.what;
  }
  std::string input = "K" + long_text + "\n";
  for (int i = 0; i < 100; ++i)
    input += "Ka\n";
  std::FILE* in = file_holding(input);
  line_source source(in, 64, head);
  line got;
  while (source.next(got, keep_by_first_byte))
    ;
  EXPECT_EQ(source.capacity(), 64u);
  std::fclose(in);
}

}  // namespace

}  // namespace qsoflat
