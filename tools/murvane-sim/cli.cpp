#include "tools/murvane-sim/cli.h"

#include <algorithm>
#include <iostream>

namespace murvane_sim {

std::string one_line(std::string s) {
  std::replace(s.begin(), s.end(), '\n', ' ');
  while (!s.empty() && s.back() == ' ') {
    s.pop_back();
  }
  return s;
}

bool open_trace_file(const std::string& path, const char* command, std::ofstream& file) {
  if (!path.empty() && path != "-") {
    file.open(path, std::ios::binary | std::ios::trunc);
    if (!file) {
      std::cerr << command << ": --trace: cannot write " << path << '\n';
      return false;
    }
  }
  return true;
}

}  // namespace murvane_sim
