#include "testbench/qemu/fw_verdict.h"

namespace fwcheck {

namespace {

// Appends another check's findings to the verdict.
void add(comparison& c, const comparison& more) {
  c.ok = c.ok && more.ok;
  c.report.insert(c.report.end(), more.report.begin(), more.report.end());
}

}  // namespace

std::optional<std::string> qemu_exit_finding(int status) {
  if (status == 0) {
    return std::nullopt;
  }
  if (status == 124) {
    return "QEMU: timed out (a crash or a hang: it never powered off)";
  }
  if (status == 125) {
    return "QEMU: stopped where the firmware went no further (a dead end, see above)";
  }
  if (status > 128 && status < 128 + 65) {
    return "QEMU: ended by signal " + std::to_string(status - 128) + " (exit status " + std::to_string(status) + ")";
  }
  return "QEMU: exited with status " + std::to_string(status);
}

comparison judge(const options& o, const run_record& host, firmware_record& fw, const std::string& log, bool opened) {
  comparison bridged;
  if (!o.bridge_mode.empty()) {
    bridged = take_bridge_lines(o.bridge, fw, log);
  }
  comparison c = o.expect_halt      ? check_stack_guard_halt(log)
                 : o.expect_refused ? check_refused(fw)
                                    : compare(host, fw, o.guard);
  if (!o.bridge_mode.empty()) {
    add(c, bridged);
  }
  if (o.consumer) {
    add(c, compare_consumer(host, fw));
  }
  if (const std::optional<std::string> qemu = qemu_exit_finding(o.qemu_status)) {
    c.ok = false;
    c.report.insert(c.report.begin(), *qemu);
  }
  if (!opened) {
    c.ok = false;
    c.report.insert(c.report.begin(), "serial log " + o.serial_path + ": cannot read");
  }
  return c;
}

int report(std::ostream& out, const options& o, const run_record& host, const firmware_record& fw, const comparison& c,
           const std::string& log) {
  out << "scenario: " << o.scenario_text << "\n";
  for (const std::string& line : c.report) {
    out << "  " << line << "\n";
  }
  if (!o.expect_halt && !o.expect_refused && !fw.bus.empty()) {
    out << "  firmware " << fw.bus << "\n";
  }
  if (o.sc.model != nullptr && !o.sc.noqualify && o.sc.override_count == 0 && !host.healthy) {
    out << "  note: on the host too this chip does not end up playing the waveform cleanly\n";
  }
  if (!c.ok) {
    out << (o.expect_halt      ? "FAILED: the stack-guard check did not stop the boot as expected\n"
            : o.expect_refused ? "FAILED: the firmware did not refuse the driver as expected\n"
                               : "FAILED: the firmware run differs from the host virtual platform\n")
        << "---- serial log (escape sequences and CR removed) ----\n"
        << log << (log.empty() || log.back() == '\n' ? "" : "\n") << "---- end of serial log ----\n";
    return 1;
  }
  out << "PASSED\n";
  return 0;
}

}  // namespace fwcheck
