#include "tools/murvane-board/system.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>

namespace murvane_board {

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
  std::cerr << question << std::flush;
  std::string answer;
  if (!std::getline(std::cin, answer)) {
    std::cerr << '\n';
    return false;
  }
  return answer == "y" || answer == "Y" || answer == "yes" || answer == "YES" || answer == "Yes";
}

}  // namespace murvane_board
