#include "tools/murvane-board/system.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <iostream>

namespace murvane_board {

LinuxSystem::LinuxSystem() : answers_(&std::cin), prompts_(&std::cerr) {}

int LinuxSystem::open(const std::string& path) {
  int fd = -1;
  do {
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-vararg,hicpp-vararg): the system call itself
    fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  return fd >= 0 ? fd : -errno;
}

int LinuxSystem::ioctl(int fd, unsigned long request, void* arg) {
  int r = -1;
  do {
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-vararg,hicpp-vararg): the system call itself
    r = ::ioctl(fd, request, arg);
  } while (r < 0 && errno == EINTR);
  return r >= 0 ? r : -errno;
}

void LinuxSystem::close(int fd) { static_cast<void>(::close(fd)); }

void LinuxSystem::sleep_us(uint64_t us) {
  // An absolute deadline, so an interrupted sleep resumes without drifting.
  timespec deadline{};
  clock_gettime(CLOCK_MONOTONIC, &deadline);
  const uint64_t ns = static_cast<uint64_t>(deadline.tv_nsec) + us * 1000;
  deadline.tv_sec += static_cast<time_t>(ns / 1000000000);
  deadline.tv_nsec = static_cast<long>(ns % 1000000000);
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
  }
}

uint64_t LinuxSystem::now_ns() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<uint64_t>(t.tv_sec) * 1000000000 + static_cast<uint64_t>(t.tv_nsec);
}

bool LinuxSystem::exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

bool LinuxSystem::confirm(const std::string& question) {
  *prompts_ << question << std::flush;
  std::string answer;
  if (!std::getline(*answers_, answer)) {
    *prompts_ << '\n';
    return false;
  }
  const size_t first = answer.find_first_not_of(" \t\r");
  const size_t last = answer.find_last_not_of(" \t\r");
  std::string word = first == std::string::npos ? "" : answer.substr(first, last - first + 1);
  std::transform(word.begin(), word.end(), word.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return word == "y" || word == "yes";
}

}  // namespace murvane_board
