// What murvane-board needs of the operating system, and nothing more: opening
// the bus and GPIO devices, their ioctls, closing, sleeping and the clock,
// the sysfs look-up that tells whether a kernel driver owns the chip's
// address, and the question before the first write. Everything goes through
// this seam so that a simulated kernel can stand in for the real one (the
// dry run; the tests, which need neither hardware nor root).
#pragma once

#include <cstdint>
#include <istream>
#include <ostream>
#include <string>

namespace murvane_board {

class System {
 public:
  virtual ~System() = default;
  // open(path, O_RDWR | O_CLOEXEC): the descriptor, or -errno.
  virtual int open(const std::string& path) = 0;
  // ioctl(fd, request, arg): the call's result (>= 0), or -errno.
  virtual int ioctl(int fd, unsigned long request, void* arg) = 0;
  virtual void close(int fd) = 0;
  // Sleeps at least us microseconds, however often interrupted.
  virtual void sleep_us(uint64_t us) = 0;
  // A monotonic clock, nanoseconds.
  virtual uint64_t now_ns() = 0;
  // Whether a file (or symbolic link) exists at path.
  virtual bool exists(const std::string& path) = 0;
  // Puts the question to the person at the terminal; true for a yes.
  virtual bool confirm(const std::string& question) = 0;

 protected:
  System() = default;
  System(const System&) = default;
  System& operator=(const System&) = default;
  System(System&&) = default;
  System& operator=(System&&) = default;
};

// The real thing: the system calls, CLOCK_MONOTONIC and clock_nanosleep,
// the question on standard error and the answer from standard input (the
// tests give it streams of their own).
class LinuxSystem final : public System {
 public:
  LinuxSystem();
  LinuxSystem(std::istream& answers, std::ostream& prompts) : answers_(&answers), prompts_(&prompts) {}
  int open(const std::string& path) override;
  int ioctl(int fd, unsigned long request, void* arg) override;
  void close(int fd) override;
  void sleep_us(uint64_t us) override;
  uint64_t now_ns() override;
  bool exists(const std::string& path) override;
  // Only "y" or "yes" (in any case, spaces around it aside) is a yes: an
  // empty line, end of input or anything else is a no.
  bool confirm(const std::string& question) override;

 private:
  std::istream* answers_;
  std::ostream* prompts_;
};

}  // namespace murvane_board
