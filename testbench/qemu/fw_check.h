// Host side of the firmware test: runs a scenario's chip on the host virtual
// platform the way the test application drives real firmware (entry, then
// Start), reads the serial log of a QEMU boot, and compares the two.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/efi.h"
#include "testbench/qemu/sim_scenario.h"

namespace sim {
class VirtualPlatform;
}  // namespace sim

namespace fwcheck {

// What the test application prints before its own lines.
inline constexpr std::string_view line_prefix = "[fwtest] ";
// What the C consumer of the integrator's header (Consumer.efi) prints
// before its own lines.
inline constexpr std::string_view consumer_prefix = "[consumer] ";

// A console capture with the terminal's escape sequences and carriage
// returns removed.
std::string strip_console(std::string_view raw);

// Splits text into lines at "\n"; a last line without "\n" is kept.
std::vector<std::string> split_lines(std::string_view text);

bool starts_with(std::string_view s, std::string_view prefix);

// An EFI_STATUS as the test application prints it: its name, or 0x and 16
// hex digits for one without a name.
std::string status_text(EFI_STATUS s);

struct run_record {
  std::string entry_log;  // driver console output during the entry point
  std::string entry_status;
  std::string start_log;  // ... during Start
  std::string start_status;
  std::vector<std::string> verdict;  // "verdict: ..." lines
  std::string traffic;               // "traffic: ..." line, see fwsim::format_traffic
  bool healthy = false;              // chip present, image in SRAM, playing, no violation
  std::string consumer_log;          // ... during the consumer's Start (a third bring-up), when run
  std::string consumer_status;
  // The driver loaded again before Start (the Shell's `load`, once more
  // each): the console output and status of each later entry, in order.
  std::vector<std::string> reload_logs;
  std::vector<std::string> reload_statuses;
};

// The same chip on the host virtual platform: entry, then Start, then the
// verdict on the chip; with `consumer`, one more Start after the verdict, as
// the C consumer calls it; with `loads` above 1, the image loaded that many
// times before Start (each later load a fresh image's entry on the same chip
// and clock). The scenario must have parsed.
run_record run_on_host(const fwsim::scenario& s, bool consumer = false, unsigned loads = 1);

// The calls of a boot on a host platform already set up, into r: the
// driver's entry, loads - 1 further loads, Start, and the traffic line.
// run_on_host and the bridge's stand-in runs (bridge_check.h) share it.
void run_calls(sim::VirtualPlatform& p, unsigned loads, run_record& r);

struct firmware_record {
  run_record run;
  bool saw_entry = false;
  bool saw_start = false;
  bool done = false;                  // the application reached its end
  std::string revision;               // "[fwtest] protocol: ..." line without the prefix
  std::string stack_guard;            // "[fwtest] stack guard: ..." line without the prefix
  std::string guard_source;           // "[fwtest] stack guard source: ..." line without the prefix
  std::string refusal;                // status of "[fwtest] entry: not loaded: <status>"
  std::string refused_unloaded;       // status of "[fwtest] entry: refused image unloaded: <status>"
  size_t driver_lines = 0;            // lines of the driver's own ("Murvane: ...") anywhere in the log
  std::string bad_requests;           // "[fwtest] bad requests: ..." line without the prefix
  std::string bus;                    // "[fwtest] bus: ..." line without the prefix
  std::vector<std::string> problems;  // application lines that report a failure
  // The C consumer, when the disk carried it.
  bool saw_consumer_start = false;
  std::string consumer_revision;  // "[consumer] protocol: ..." line without the prefix
  std::string consumer_exit;      // status of "[fwtest] consumer: status ...", the consumer's exit status
};

// Reads the test application's transcript out of a stripped serial log.
firmware_record parse_serial(std::string_view log);

// A boot through the UEFI Shell: the Shell's `load` ran the driver's entry
// and ended it with "Image '<path>Murvane.efi' loaded at <address> - <status>".
// Returns the log with that line as the application's own end-of-entry line
// ("[fwtest] entry: status <status>"), so parse_serial reads it as usual.
std::string shell_transcript(std::string_view log);

struct comparison {
  bool ok = true;
  std::vector<std::string> report;  // human-readable findings, failures first
};

// Where the driver's stack guard must have come from: any source, the
// firmware's RNG protocol (the very value it drew), or the processor
// counter (no RNG protocol).
enum class guard_source { any, rng, counter };

// Firmware against host: the driver's output of both calls, their status,
// the verdict; plus the firmware-only checks of the application's lines
// (protocol revision 0x00010005, stack guard shared and from the expected
// source, no bad requests).
comparison compare(const run_record& host, const firmware_record& fw, guard_source guard = guard_source::any);

// A boot in which the firmware had to refuse the driver (Secure Boot): the
// application reports Access Denied or Security Violation (and then the
// image unloaded), not one line of the driver appears, and the bus counters
// show that nothing touched the bus or the reset pin.
comparison check_refused(const firmware_record& fw);

// The C consumer's part of a boot (the rest is compare's): it found the
// protocol with revision 0x00010005, and the driver's output and status
// during its Start, and its exit status, are those of one more Start on the
// host.
comparison compare_consumer(const run_record& host, const firmware_record& fw);

// A boot whose test application overflowed a protected buffer on purpose:
// the stack-guard check must have reported it and stopped the boot there.
comparison check_stack_guard_halt(std::string_view log);

}  // namespace fwcheck
