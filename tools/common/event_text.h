// A recorded run as both commands show it to a person: the driver's log, the
// register trace (polls and block writes folded), the event trace as text or
// jsonl, and the trace file, opened before the run so that a path that
// cannot be written costs no run.
#pragma once

#include <cstdint>
#include <fstream>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "host/platform.h"
#include "tools/common/command_line.h"

namespace murvane_tools {

// A printf-style helper for the text reports; the format attribute has the
// compiler check every call's arguments against its format.
// NOLINTNEXTLINE(cert-dcl50-cpp)
__attribute__((format(printf, 1, 2))) std::string printf_string(const char* fmt, ...);
// "0x5A".
std::string hex2(uint64_t v);
// Nanoseconds as microseconds to a tenth ("95.0").
std::string micros(uint64_t ns);

// A status by its UEFI name, or its hex digits when it has none.
std::string status_text(EFI_STATUS s);

// The identifier the driver's identification last read, put together from
// the trace as the driver does; none when no identifier read delivered.
std::optional<uint32_t> identifier_read(const std::vector<host::Event>& events);

// One aligned line per event, prefixed with the time at which the event
// ended; registers named as family uses them. A poll's run of identical
// reads, each followed by the same wait, is one line saying how many.
void write_text_trace(std::ostream& out, const std::vector<host::Event>& events, const std::string& family);

// The register trace alone: calls, pin changes, stalls and transfers, runs
// of writes to one register folded into a block.
void write_register_trace(std::ostream& out, const std::vector<host::Event>& events, const std::string& family);

// "== Driver log ==": the driver's log lines as it wrote them.
void write_driver_log(std::ostream& out, const std::vector<host::Event>& events);
// The report's first two parts: the driver's log, then "== Register trace
// (FAMILY register names) ==" and the register trace.
void write_log_and_trace(std::ostream& out, const std::vector<host::Event>& events, const std::string& family);

// Opens the --trace file (none for "-" or no path: standard output); false,
// with one line on standard error naming command, when it cannot be written.
bool open_trace_file(const std::string& path, const char* command, std::ofstream& file);

// Writes the events to the --trace destination (file, opened before the run,
// or standard output); false, with one line naming command, when writing failed.
bool write_trace(const TraceRequest& trace, const std::vector<host::Event>& events, const std::string& family,
                 std::ofstream& file, const char* command);

}  // namespace murvane_tools
