#include "app/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qsoflat {

namespace {

// What the command line asks for, in a few words: help, the version, or
// a conversion with its names and each option that differs from its
// default; or the error.
std::string asked(std::vector<const char*> arguments) {
  arguments.insert(arguments.begin(), "qsoflat");
  const command_line line =
      parse_command_line(static_cast<int>(arguments.size()), arguments.data());
  if (!line.error.empty())
    return "error " + line.error;
  if (line.wanted != request::convert)
    return line.wanted == request::help ? "help" : "version";
  const run_options& options = line.options;
  std::string words = "convert";
  for (const std::string& name : line.names)
    words += " [" + name + "]";
  if (options.skip_unknown)
    words += " skip-unknown";
  if (options.columns == column_choice::all)
    words += " all";
  for (std::size_t i = 0;
       options.columns == column_choice::list && i < options.list.size(); ++i)
    words += (i == 0 ? " columns=" : ",") + std::string(options.list.name(i));
  if (options.iso_dates)
    words += " iso-dates";
  if (options.xlsx)
    words += " xlsx";
  if (options.awards)
    words += " awards";
  if (options.separator != ',')
    words += " separator=" + std::string(1, options.separator);
  return words;
}

// More columns than are walked by their first byte, so that a name is found
// through the hash table: F0 to F39, then f7 again.
const std::string forty_names_and_f7 = [] {
  std::string names = "F0";
  for (int i = 1; i < 40; ++i)
    names += ",F" + std::to_string(i);
  return names + ",f7";
}();

TEST(ParseCommandLine, TakesOptionsAndNames) {
  const struct {
    std::vector<const char*> arguments;
    std::string asked;
  } cases[] = {
      {{}, "convert"},
      {{"log.adi", "out.txt", "third"}, "convert [log.adi] [out.txt] [third]"},
      {{"log.adi", "--skip-unknown", "out.csv"},
       "convert [log.adi] [out.csv] skip-unknown"},
      {{"--iso-dates", "--xlsx", "log.adi", "--awards"},
       "convert [log.adi] iso-dates xlsx awards"},
      {{"-", "-x.adi", "--", "--help", "--"},
       "convert [-] [-x.adi] [--help] [--]"},
      {{"--columns", "CALL,qso_date", "log.adi"},
       "convert [log.adi] columns=CALL,qso_date"},
      {{"--columns=All"}, "convert all"},
      {{"--columns", "all", "--columns", "BAND"}, "convert columns=BAND"},
      {{"--columns", "BAND", "--columns=ALL"}, "convert all"},
      {{"--columns", "--xlsx"}, "error Bad field name --xlsx in --columns\n\n"},
      {{"--columns"}, "error Bad field name  in --columns\n\n"},
      {{"--columns", "CALL,,BAND"}, "error Bad field name  in --columns\n\n"},
      {{"--columns=CALL,BAND,Call"},
       "error Bad field name Call in --columns\n\n"},
      {{"--columns", "CALL,MY-CALL"},
       "error Bad field name MY-CALL in --columns\n\n"},
      {{"--columns", forty_names_and_f7.c_str()},
       "error Bad field name f7 in --columns\n\n"},
      {{"--columns", "CALL,MY\x1b"},
       "error Bad field name MY? in --columns\n\n"},
      {{"--separator", ";"}, "convert separator=;"},
      {{"--separator=TAB"}, "convert separator=\t"},
      {{"--separator", "\t"}, "convert separator=\t"},
      {{"--separator=,"}, "convert"},
      {{"--separator", "|"}, "error Bad separator | in --separator\n\n"},
      {{"--separator"}, "error Bad separator  in --separator\n\n"},
      {{"log.adi", "--help", "--version", "--bogus"}, "help"},
      {{"--version", "--help"}, "version"},
      {{"--help", "--columns", "CALL,,BAND", "--separator", "|"}, "help"},
      {{"--bogus", "--help"}, "error Unknown option --bogus\n\n"},
      {{"--columns", "CALL,,BAND", "--help"},
       "error Bad field name  in --columns\n\n"},
      {{"--skip", "log.adi"}, "error Unknown option --skip\n\n"},
      {{"--\x07"}, "error Unknown option --?\n\n"},
  };
  for (const auto& c : cases) {
    std::string arguments;
    for (const char* argument : c.arguments)
      arguments += std::string(" ") + argument;
    EXPECT_EQ(asked(c.arguments), c.asked) << "arguments:" << arguments;
  }
}

// The help names every option that the command line takes, each where its
// line starts, and fits an 80-column console.
TEST(HelpText, NamesEveryOptionWithinEightyColumns) {
  const std::string help = help_text();
  EXPECT_EQ(help.rfind(usage_line, 0), 0u);
  const struct {
    const char* option;
    const char* argument;
  } options[] = {{"--skip-unknown", "log.adi"},
                 {"--columns", "CALL"},
                 {"--iso-dates", "log.adi"},
                 {"--xlsx", "log.adi"},
                 {"--awards", "log.adi"},
                 {"--separator", ";"},
                 {"--help", "log.adi"},
                 {"--version", "log.adi"},
                 {"--", "log.adi"}};
  for (const auto& [option, argument] : options) {
    EXPECT_NE(help.find(std::string("\n  ") + option + " "), std::string::npos)
        << option;
    EXPECT_EQ(asked({option, argument}).find("error"), std::string::npos)
        << option;
  }
  EXPECT_EQ(asked({"--bogus"}), "error Unknown option --bogus\n\n");
  for (std::size_t start = 0, end; start < help.size(); start = end + 1) {
    end = help.find('\n', start);
    ASSERT_NE(end, std::string::npos) << "the last line has no line end";
    EXPECT_LT(end - start, 80u) << help.substr(start, end - start);
  }
}

TEST(DeriveOutputName, CutsAtTheFirstDotOfTheLastComponent) {
  const struct {
    const char* input;
    const char* output;
  } cases[] = {
      {"log.adi", "log.csv"},
      {"my.log.adi", "my.csv"},
      {"../x.adi", "../x.csv"},
      {"sub.d/log.adi", "sub.d/log.csv"},
      {"sub.d\\log.adi", "sub.d\\log.csv"},
      {"C:\\Ham.Radio\\LoTW\\report.ADI", "C:\\Ham.Radio\\LoTW\\report.csv"},
      {"lotwreport", "lotwreport.csv"},
      {"sub.d/lotwreport", "sub.d/lotwreport.csv"},
      {"x.csv", "x.csv"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(derive_output_name(c.input), c.output) << c.input;
  run_options xlsx;
  xlsx.xlsx = true;
  EXPECT_EQ(output_name_for("C:\\Ham\\my.log.adi", xlsx), "C:\\Ham\\my.xlsx");
  run_options awards;
  awards.awards = true;
  EXPECT_EQ(output_name_for("log.adi", awards), "log.xlsx");
}

}  // namespace

}  // namespace qsoflat
