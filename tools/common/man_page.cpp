#include "tools/common/man_page.h"

#include <CLI/CLI.hpp>
#include <cctype>
#include <sstream>

namespace murvane_tools {

namespace {

// Text as roff prints it: a backslash is \e, a dash in a name is \- (a
// minus sign, which a reader can copy into a shell), and a line that would
// start with a request character is guarded with \&.
std::string roff(const std::string& text, bool dashes_are_minus = false) {
  std::string out;
  for (const char c : text) {
    if (c == '\\') {
      out += "\\e";
    } else if (c == '-' && dashes_are_minus) {
      out += "\\-";
    } else {
      out += c;
    }
  }
  if (!out.empty() && (out[0] == '.' || out[0] == '\'')) {
    out.insert(0, "\\&");
  }
  return out;
}

std::string upper(std::string s) {
  for (char& c : s) {
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return s;
}

// "-y, --yes" as the page shows it, names in bold, the value in italics.
std::string option_head(const CLI::Option& o) {
  std::string head;
  for (const std::string& s : o.get_snames()) {
    head += (head.empty() ? "" : ", ") + std::string("\\fB\\-") + roff(s) + "\\fR";
  }
  for (const std::string& l : o.get_lnames()) {
    head += (head.empty() ? "" : ", ") + std::string("\\fB\\-\\-") + roff(l, true) + "\\fR";
  }
  if (o.get_expected_max() != 0 && !o.get_type_name().empty()) {
    head += " \\fI" + roff(o.get_type_name(), true) + "\\fR";
  }
  return head;
}

bool shown_by_help(const CLI::Option& o) { return !o.get_group().empty(); }

}  // namespace

std::string man_page(const CLI::App& app, const std::string& command, const std::string& version) {
  const std::string description = app.get_description();
  const size_t clause_end = description.find_first_of(",.:");
  std::ostringstream page;
  page << ".\\\" Written by " << command << " " << man_page_option << " from the options --help prints.\n";
  page << ".TH " << upper(command) << " 1 \"\" \"" << command << " " << version << "\" \"User Commands\"\n";
  page << ".SH NAME\n" << roff(command, true) << " \\- " << roff(description.substr(0, clause_end)) << "\n";

  std::string positionals;
  for (const CLI::Option* o : app.get_options()) {
    if (o->get_positional() && shown_by_help(*o)) {
      positionals += " [\\fI" + roff(o->get_type_name()) + "\\fR]";
    }
  }
  page << ".SH SYNOPSIS\n.B " << roff(command, true) << "\n[\\fIOPTIONS\\fR]" << positionals << "\n";
  page << ".SH DESCRIPTION\n" << roff(description) << "\n";
  page << ".SH OPTIONS\n";
  for (const CLI::Option* o : app.get_options()) {
    if (!shown_by_help(*o)) {
      continue;
    }
    page << ".TP\n";
    if (o->get_positional()) {
      page << "\\fI" << roff(o->get_type_name()) << "\\fR\n";
    } else {
      page << option_head(*o) << "\n";
    }
    page << roff(o->get_description()) << "\n";
  }
  std::string footer = app.get_footer();
  const std::string exit_status = "Exit status: ";
  if (footer.compare(0, exit_status.size(), exit_status) == 0) {
    footer = footer.substr(exit_status.size());
    footer[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(footer[0])));
    page << ".SH EXIT STATUS\n" << roff(footer) << "\n";
  } else if (!footer.empty()) {
    page << ".SH NOTES\n" << roff(footer) << "\n";
  }
  return page.str();
}

}  // namespace murvane_tools
