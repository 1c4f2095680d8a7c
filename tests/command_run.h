// Runs a built command as a person at a terminal would, but with nothing on
// standard input (a command that asks must not wait for an answer): its exit
// status and what it wrote to standard output and standard error.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace murvane_test {

inline std::string slurp(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

struct CommandRun {
  int exit_code = -1;  // -1: killed by a signal (a crash)
  std::string out;
  std::string err;
};

// The streams go through files in scratch, removed afterwards.
inline CommandRun run_command(const char* program, const std::vector<std::string>& args,
                              const std::filesystem::path& scratch) {
  static int serial = 0;
  const std::filesystem::path out_path = scratch / ("out" + std::to_string(serial));
  const std::filesystem::path err_path = scratch / ("err" + std::to_string(serial++));
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<std::string> argv_strings = {program};
  argv_strings.insert(argv_strings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argv_strings) {
    argv.push_back(a.data());
  }
  argv.push_back(nullptr);
  pid_t pid = 0;
  CommandRun r;
  if (posix_spawn(&pid, program, &actions, nullptr, argv.data(), environ) == 0) {
    int status = 0;
    waitpid(pid, &status, 0);
    r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  posix_spawn_file_actions_destroy(&actions);
  r.out = slurp(out_path);
  r.err = slurp(err_path);
  std::filesystem::remove(out_path);
  std::filesystem::remove(err_path);
  return r;
}

}  // namespace murvane_test
