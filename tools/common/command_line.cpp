#include "tools/common/command_line.h"

#include <sys/stat.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <exception>
#include <iostream>
#include <limits>

#include "murvane/version.h"
#include "sim/models/model_table.h"
#include "tools/common/man_page.h"
#include "tools/common/vcd.h"

namespace murvane_tools {

UsageError::UsageError(const std::string& field, const std::string& problem)
    : std::runtime_error(field + ": " + problem) {}

std::string one_line(std::string s) {
  std::replace(s.begin(), s.end(), '\n', ' ');
  while (!s.empty() && s.back() == ' ') {
    s.pop_back();
  }
  return s;
}

int run_guarded(const char* command, int argc, char** argv, int (*body)(int, char**)) {
  constexpr int exit_unexpected = 1;
  try {
    return body(argc, argv);
  } catch (const UsageError& e) {
    std::cerr << command << ": " << one_line(e.what()) << '\n';
    return exit_bad_input;
  } catch (const CaptureError& e) {
    std::cerr << command << ": " << one_line(e.what()) << '\n';
    return exit_bad_input;
  } catch (const std::exception& e) {
    std::cerr << command << ": unexpected failure: " << one_line(e.what()) << '\n';
    return exit_unexpected;
  } catch (...) {
    std::cerr << command << ": unexpected failure\n";
    return exit_unexpected;
  }
}

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

namespace {

size_t edit_distance(const std::string& a, const std::string& b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) {
    row[j] = j;
  }
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diag = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t up = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diag + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diag = up;
    }
  }
  return row[b.size()];
}

// "-x" or "--name": an option, where "-" alone (standard output) and "-3"
// (a negative number, refused later for what it is) are values.
bool looks_like_option(const std::string& arg) {
  return arg.size() > 1 && arg[0] == '-' && std::isdigit(static_cast<unsigned char>(arg[1])) == 0;
}

const CLI::Option* option_named(const CLI::App& app, const std::string& arg) {
  for (const CLI::Option* o : app.get_options()) {
    for (const std::string& l : o->get_lnames()) {
      if (arg == "--" + l) {
        return o;
      }
    }
    for (const std::string& s : o->get_snames()) {
      if (arg == "-" + s) {
        return o;
      }
    }
  }
  return nullptr;
}

std::vector<std::string> option_names(const CLI::App& app) {
  std::vector<std::string> names;
  for (const CLI::Option* o : app.get_options()) {
    for (const std::string& l : o->get_lnames()) {
      names.push_back("--" + l);
    }
  }
  return names;
}

std::string value_name(const CLI::Option& o) {
  const std::string t = o.get_type_name();
  return t.empty() ? "a value" : t;
}

// What the parser would take wrongly or word badly, found first: an unknown
// option, and an option whose value is missing (the next word another
// option: "--trace --quiet" must not write a file named "--quiet").
void check_words(const CLI::App& app, const std::vector<std::string>& args) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--") {
      return;
    }
    if (!looks_like_option(arg)) {
      continue;
    }
    const std::string name = arg.substr(0, arg.find('='));
    const CLI::Option* o = option_named(app, name);
    if (o == nullptr) {
      throw UsageError(name, "no such option (nearest known name: " + quoted(nearest(name, option_names(app))) + ")");
    }
    if (o->get_expected_max() == 0 || name.size() < arg.size()) {
      continue;  // a flag, or "--option=value"
    }
    if (i + 1 >= args.size() || looks_like_option(args[i + 1])) {
      throw UsageError(name, "needs " + value_name(*o) + " after it" +
                                 (i + 1 < args.size() ? " (" + quoted(args[i + 1]) + " is an option)" : ""));
    }
    ++i;
  }
}

// The parser's own complaints, left after check_words, in our words. A
// stray word right after an option's value is that option's second value.
std::string parse_problem(const CLI::ParseError& e, CLI::App& app, const std::vector<std::string>& args) {
  if (dynamic_cast<const CLI::ExtrasError*>(&e) == nullptr) {
    return one_line(e.what());
  }
  const std::vector<std::string> extra = app.remaining();
  const std::string word = extra.empty() ? std::string() : extra.front();
  const auto at = std::find(args.begin(), args.end(), word);
  const size_t i = static_cast<size_t>(at - args.begin());
  if (at != args.end() && i >= 2) {
    const CLI::Option* o = option_named(app, args[i - 2]);
    if (o != nullptr && o->get_expected_max() != 0) {
      return args[i - 2] + ": takes one value (" + quoted(args[i - 1]) + "), and " + quoted(word) +
             " after it is no option";
    }
  }
  return quoted(word) + ": unexpected argument";
}

}  // namespace

std::string nearest(const std::string& word, const std::vector<std::string>& names) {
  std::string best;
  size_t best_distance = std::numeric_limits<size_t>::max();
  for (const std::string& n : names) {
    const size_t d = edit_distance(word, n);
    if (d < best_distance) {
      best_distance = d;
      best = n;
    }
  }
  return best;
}

std::vector<std::string> chip_names() {
  std::vector<std::string> names;
  for (const sim::model_info& m : sim::model_infos) {
    names.emplace_back(m.name);
  }
  names.emplace_back("absent");
  return names;
}

std::optional<std::string> chip_problem(const std::string& name) {
  const std::vector<std::string> names = chip_names();
  if (std::find(names.begin(), names.end(), name) != names.end()) {
    return std::nullopt;
  }
  return "unknown chip " + quoted(name) + " (nearest known name: " + quoted(nearest(name, names)) +
         "; known: " + sim::model_infos[0].name + " ... " + sim::model_infos[sim::model_info_count - 1].name +
         ", or \"absent\")";
}

void declare_version_flag(CLI::App& app, const char* command) {
  app.set_version_flag("--version", std::string(command) + " v" + murvane::driver_version,
                       "Print the version of the driver it runs (as the driver logs it) and exit");
}

std::optional<int> parse_command_line(CLI::App& app, int argc, char** argv, const char* command) {
  const std::vector<std::string> args(argv + std::min(argc, 1), argv + argc);
  bool write_man_page = false;
  app.add_flag(man_page_option, write_man_page)->group("");  // not in --help: for the packaging
  try {
    check_words(app, args);
    app.parse(argc, argv);
  } catch (const UsageError& e) {
    std::cerr << command << ": " << one_line(e.what()) << " (see --help)\n";
    return exit_bad_input;
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) {
      return app.exit(e);  // --help, --version
    }
    std::cerr << command << ": " << parse_problem(e, app, args) << " (see --help)\n";
    return exit_bad_input;
  }
  if (write_man_page) {
    std::cout << man_page(app, command, murvane::driver_version);
    std::cout.flush();
    return std::cout ? 0 : 1;
  }
  return std::nullopt;
}

uint32_t parse_number(const std::string& field, const std::string& text, uint32_t min, uint32_t max,
                      const std::string& what) {
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const std::string digits = hex ? text.substr(2) : text;
  const auto is_digit = [hex](char c) {
    return hex ? std::isxdigit(static_cast<unsigned char>(c)) != 0 : std::isdigit(static_cast<unsigned char>(c)) != 0;
  };
  if (digits.empty() || digits.size() > 10 || !std::all_of(digits.begin(), digits.end(), is_digit)) {
    throw UsageError(field, quoted(text) + " is not " + what);
  }
  const uint64_t v = std::stoull(digits, nullptr, hex ? 16 : 10);
  if (v < min || v > max) {
    throw UsageError(field, quoted(text) + " is not " + what);
  }
  return static_cast<uint32_t>(v);
}

void check_one_of(const std::string& field, const std::string& text, const std::vector<std::string>& allowed,
                  const std::string& what) {
  if (std::find(allowed.begin(), allowed.end(), text) != allowed.end()) {
    return;
  }
  std::string list;
  for (size_t i = 0; i < allowed.size(); ++i) {
    list += (i == 0 ? "" : i + 1 == allowed.size() ? " or " : ", ") + allowed[i];
  }
  throw UsageError(field, quoted(text) + " is not " + what + " (" + list + ")");
}

std::vector<std::string> comma_list(const std::string& field, const std::string& text, size_t min, size_t max,
                                    const std::string& form) {
  std::vector<std::string> names;
  size_t from = 0;
  while (true) {
    const size_t comma = text.find(',', from);
    names.push_back(text.substr(from, comma == std::string::npos ? std::string::npos : comma - from));
    if (comma == std::string::npos) {
      break;
    }
    from = comma + 1;
  }
  const bool empty_name = std::any_of(names.begin(), names.end(), [](const std::string& n) { return n.empty(); });
  if (names.size() < min || names.size() > max || empty_name) {
    throw UsageError(field, quoted(text) + " is not " + form + " (one comma-separated list, no spaces)");
  }
  return names;
}

void declare_trace_options(CLI::App& app, TraceRequest& trace) {
  app.add_option("--trace", trace.path,
                 "Write the event trace to FILE ('-': standard output, which then carries the trace alone)")
      ->type_name("FILE");
  app.add_option("--trace-format", trace.format, "The --trace file's format: jsonl (the default) or text")
      ->type_name("jsonl|text");
}

void check_trace_options(const CLI::App& app, const TraceRequest& trace) {
  if (app.count("--trace-format") == 0) {
    return;
  }
  check_one_of("--trace-format", trace.format, {"jsonl", "text"}, "a trace format");
  if (app.count("--trace") == 0) {
    throw UsageError("--trace-format", "needs --trace FILE (the trace it formats)");
  }
}

void check_output_path(const std::string& option, const std::string& path) {
  if (path.empty() || path == "-") {
    return;
  }
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    throw UsageError(option, "cannot write " + path + ": it is a folder");
  }
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  if (::stat(folder.c_str(), &st) != 0) {
    throw UsageError(option, "cannot write " + path + ": no folder " + folder);
  }
  if (!S_ISDIR(st.st_mode)) {
    throw UsageError(option, "cannot write " + path + ": " + folder + " is not a folder");
  }
}

}  // namespace murvane_tools
