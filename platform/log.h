// The driver's debug log: a small type-safe printf for the few conversions
// the driver's messages use (%d %u %x %X with optional zero-pad width, %r
// for an EFI_STATUS by name, %%), printed at an error level to the
// firmware console.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "platform/efi.h"

namespace murvane {

inline constexpr uint32_t DEBUG_ERROR = 0x80000000u;

// Large enough for every message the driver prints; a longer one is cut and
// ends with log_cut_marker.
inline constexpr size_t log_buffer_size = 192;
inline constexpr char log_cut_marker[] = "...";

struct fmt_arg {
  uint64_t bits;
};

// Integers only: anything else passed to the log is a compile error.
constexpr fmt_arg make_fmt_arg(signed char v) { return {static_cast<uint64_t>(v)}; }
constexpr fmt_arg make_fmt_arg(short v) { return {static_cast<uint64_t>(v)}; }
constexpr fmt_arg make_fmt_arg(int v) { return {static_cast<uint64_t>(v)}; }
constexpr fmt_arg make_fmt_arg(long v) { return {static_cast<uint64_t>(v)}; }
constexpr fmt_arg make_fmt_arg(long long v) { return {static_cast<uint64_t>(v)}; }
constexpr fmt_arg make_fmt_arg(unsigned char v) { return {v}; }
constexpr fmt_arg make_fmt_arg(unsigned short v) { return {v}; }
constexpr fmt_arg make_fmt_arg(unsigned int v) { return {v}; }
constexpr fmt_arg make_fmt_arg(unsigned long v) { return {v}; }
constexpr fmt_arg make_fmt_arg(unsigned long long v) { return {v}; }

// UEFI name of a status as firmware logs print it, or nullptr when the
// value is not a standard one (the formatter then prints it in hex).
const char* status_name(EFI_STATUS status);

// Formats into buf (always NUL-terminated when cap > 0). Returns the length
// written. Output that does not fit is cut and ends with log_cut_marker.
size_t format_message(char* buf, size_t cap, const char* fmt, const fmt_arg* args, size_t nargs);

// Receives every formatted message with its level before it goes to the
// console. Null in the shipped driver; the virtual platform records through it.
using log_observer_fn = void (*)(uint32_t level, const char* text);
extern log_observer_fn g_log_observer;

void log_message(uint32_t level, const char* fmt, const fmt_arg* args, size_t nargs);

// log_message at DEBUG_ERROR, the arguments passed by value: a call site only
// loads registers, and its function needs no argument array of its own (an
// array would make every function that logs a number stack-protected).
void log_error_args(const char* fmt);
void log_error_args(const char* fmt, uint64_t a0);
void log_error_args(const char* fmt, uint64_t a0, uint64_t a1);
void log_error_args(const char* fmt, uint64_t a0, uint64_t a1, uint64_t a2);

template <typename... Args>
void log_error(const char* fmt, Args... args) {
  static_assert(sizeof...(Args) <= 3, "log_error takes at most three arguments");
  log_error_args(fmt, make_fmt_arg(args).bits...);
}

}  // namespace murvane
