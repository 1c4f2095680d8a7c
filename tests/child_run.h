// Runs a function in a forked child, a process of its own (one where the
// driver never ran, one that gave up root): the text it returns, handed
// back through a pipe, and whether the child exited cleanly.
#pragma once

#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <optional>
#include <string>

namespace murvane_test {

struct ChildRun {
  std::string out;
  bool exited_ok = false;  // exit status 0: all of out was handed back
};

// nullopt when no pipe could be made. The child ends with _exit: nothing of
// the parent's (atexit handlers, a test framework's files) runs twice.
inline std::optional<ChildRun> run_in_child(const std::function<std::string()>& body) {
  int fds[2];
  if (pipe(fds) != 0) {
    return std::nullopt;
  }
  const pid_t child = fork();
  if (child == 0) {
    close(fds[0]);
    const std::string out = body();
    size_t done = 0;
    while (done < out.size()) {
      const ssize_t n = write(fds[1], out.data() + done, out.size() - done);
      if (n <= 0) {
        _exit(1);
      }
      done += static_cast<size_t>(n);
    }
    _exit(0);
  }
  close(fds[1]);
  ChildRun r;
  char buf[4096];
  ssize_t n = 0;
  while ((n = read(fds[0], buf, sizeof buf)) > 0) {
    r.out.append(buf, static_cast<size_t>(n));
  }
  close(fds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  r.exited_ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return r;
}

}  // namespace murvane_test
