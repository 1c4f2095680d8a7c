// A command's manual page, written from the very option table its --help
// prints, so that the two cannot say different things: the packages ship
// what `COMMAND --man-page` writes.
#pragma once

#include <string>

// NOLINTNEXTLINE(readability-identifier-naming): CLI11's own namespace
namespace CLI {
class App;
}

namespace murvane_tools {

// The option that writes the page; not shown by --help (it is for the
// packaging, not for people at the board).
inline constexpr const char* man_page_option = "--man-page";

// The page in roff (man(7)), section 1: NAME (the description's first
// clause), SYNOPSIS, DESCRIPTION, OPTIONS (each option --help lists, with
// its value's name and its help text), EXIT STATUS (the help's footer).
std::string man_page(const CLI::App& app, const std::string& command, const std::string& version);

}  // namespace murvane_tools
