// What murvane-sim and murvane-board say on their command lines, from one
// place: the parse (an option that takes a value never takes the next option
// as it), the wording of every complaint (one line, "FIELD: problem", never
// the parser's own), the nearest name for a word nobody knows, and the checks
// of what a person types (a chip model, a number, a list, an output path).
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

// NOLINTNEXTLINE(readability-identifier-naming): CLI11's own namespace
namespace CLI {
class App;
}

namespace murvane_tools {

// The exit statuses both commands share: 2 for unusable input, 1 for a
// run that went wrong or anything else the command could not do.
inline constexpr int exit_bad_input = 2;
inline constexpr int exit_other = 1;

// Unusable input on the command line: what() is "FIELD: problem", the line
// the command prints after its own name.
class UsageError : public std::runtime_error {
 public:
  UsageError(const std::string& field, const std::string& problem);
};

// Runs a command's body and turns what escapes it into the one line every
// command prints and its exit code: a usage or capture error is bad input
// (exit 2, "COMMAND: what"), anything else an unexpected failure (exit 1).
int run_guarded(const char* command, int argc, char** argv, int (*body)(int, char**));

// A message folded into one line: line ends become spaces, trailing spaces go.
std::string one_line(std::string s);

// "\"text\"".
std::string quoted(const std::string& text);

// The name of names closest to word (fewest letters to change); "" when none.
std::string nearest(const std::string& word, const std::vector<std::string>& names);

// Every chip model's name, in the family list's order, then "absent".
std::vector<std::string> chip_names();
// What is wrong with a chip name ("unknown chip \"zq31o1\" (nearest known
// name: \"zq3101\"; known: zq3101 ... zq3604, or \"absent\")"), or nothing
// when a model (or "absent") has it.
std::optional<std::string> chip_problem(const std::string& name);

// --version: the command's name and the version of the driver it runs, as
// the driver logs it.
void declare_version_flag(CLI::App& app, const char* command);

// Parses the command line into app. A value-taking option followed by
// nothing or by another option is refused before the parser sees it, and
// the parser's complaints are put in the words above. Returns the exit
// status when the command ends here: 0 after --help, --version or
// --man-page (which writes the manual page from the same table), 2 after
// one line on standard error ("COMMAND: FIELD: problem (see --help)");
// nothing when it goes on.
std::optional<int> parse_command_line(CLI::App& app, int argc, char** argv, const char* command);

// A number written in decimal or with 0x, within [min, max]; what names it
// and its range in the complaint ("a 7-bit device address (0x03 ... 0x77)").
// Throws UsageError naming field.
uint32_t parse_number(const std::string& field, const std::string& text, uint32_t min, uint32_t max,
                      const std::string& what);

// One of the words allowed, or UsageError naming field and what it is.
void check_one_of(const std::string& field, const std::string& text, const std::vector<std::string>& allowed,
                  const std::string& what);

// A comma-separated list of min to max names, none empty ("SCL,SDA,RST");
// form shows the expected shape in the complaint.
std::vector<std::string> comma_list(const std::string& field, const std::string& text, size_t min, size_t max,
                                    const std::string& form);

// What --trace and --trace-format ask for.
struct TraceRequest {
  std::string path;    // "" none, "-" standard output
  std::string format;  // "jsonl" (also "") or "text"
};

// --trace FILE and --trace-format jsonl|text, into trace.
void declare_trace_options(CLI::App& app, TraceRequest& trace);
// After the parse: a format the commands write, given only with --trace.
void check_trace_options(const CLI::App& app, const TraceRequest& trace);

// Throws UsageError naming option when a file cannot be made at path: its
// folder is missing or not one, or path is a folder. Creates nothing. "-"
// (standard output) and "" (not asked for) pass.
void check_output_path(const std::string& option, const std::string& path);

}  // namespace murvane_tools
