#include "app/qsoflat.h"

#include <algorithm>
#include <cstdio>
#include <new>

#include "app/conversion.h"
#include "system/console.h"

namespace qsoflat {

// Messages go to standard error unchecked: when it fails, nothing is left
// to tell of it, and the exit status still tells.

namespace {

// A command line that cannot be carried out ends its run with the usage
// line.
int usage() {
  (void)std::fputs(usage_line, stderr);
  return 1;
}

// Writes the help or the version to standard output, the one thing the
// program writes there, and says whether it got there.
int show(request wanted) {
  const std::string text =
      wanted == request::help ? help_text() : version_text();
  (void)std::fputs(text.c_str(), stdout);
  return std::fflush(stdout) != 0 || std::ferror(stdout) != 0 ? 1 : 0;
}

// Converts one report and tells the user what became of it.
ending convert_and_tell(const std::string& input_name,
                        const std::string& output_name,
                        const run_options& options) {
  ending end = convert(input_name, output_name, options);
  print_message("%s", end.messages.c_str());
  return end;
}

// Converts the report named on a command line, where an unknown field can
// only be answered by running again.
int convert_named(const std::vector<std::string>& names,
                  const run_options& options) {
  const std::string& input_name = names[0];
  const ending end = convert_and_tell(
      input_name,
      names.size() == 2 ? names[1] : output_name_for(input_name, options),
      options);
  if (end.stopped_at_unknown)
    (void)std::fputs(
        "Run again with --skip-unknown to skip the fields that "
        "qsoflat does not know and read the whole report\n",
        stderr);
  return end.status;
}

}  // namespace

program_end convert_dropped(const std::vector<std::string>& names,
                            const run_options& options, const asker& ask) {
  int worst = 0;
  for (std::size_t i = 0; i < names.size(); ++i) {
    const bool last = i + 1 == names.size();
    const std::string output_name = output_name_for(names[i], options);
    ending end = convert_and_tell(names[i], output_name, options);
    if (end.stopped_at_unknown) {
      // Broken where an 80-column console would break it.
      const std::string answer = ask(
          last ? "Type S and press Enter to read the whole report, skipping "
                 "the fields\nqsoflat does not know; press Enter alone to "
                 "close. "
               : "Type S and press Enter to read the whole report, skipping "
                 "the fields\nqsoflat does not know; press Enter alone to go "
                 "on with the next one. ");
      if (answer == "S" || answer == "s") {
        run_options whole = options;
        whole.skip_unknown = true;
        end = convert_and_tell(names[i], output_name, whole);
      } else if (last) {
        return {std::max(worst, end.status), true};
      }
    }
    worst = std::max(worst, end.status);
  }
  return {worst};
}

program_end qsoflat_main(int argc, char** argv) {
  try {
    (void)std::fputs(banner().c_str(), stderr);
    const command_line line = parse_command_line(argc, argv);
    if (!line.error.empty()) {
      print_message("%s", line.error.c_str());
      return {usage()};
    }
    if (line.wanted != request::convert)
      return {show(line.wanted)};
    // Explorer gives a program a console of its own, and every name it
    // passes is a file dropped on the program.
    const bool dropped = has_console_of_its_own();
    if (line.names.empty() && dropped) {
      (void)usage();
      (void)std::fputs(guide_text(), stderr);
      return {1};
    }
    if (line.names.empty() || (line.names.size() > 2 && !dropped))
      return {usage()};
    if (dropped)
      return convert_dropped(line.names, line.options, ask);
    return {convert_named(line.names, line.options)};
  } catch (const std::bad_alloc&) {
    (void)std::fputs("Out of memory\n", stderr);
    return {1};
  }
}

}  // namespace qsoflat
