#include "testbench/qemu/bridge_check.h"

#include <memory>

#include "bridge/bridge.h"
#include "host/harness.h"
#include "murvane/board_settings.h"
#include "platform/log.h"
#include "sim/model_factory.h"
#include "sim/virtual_platform.h"

namespace fwcheck {

namespace {

constexpr std::string_view bridge_prefix = "MurvaneBridge: ";

// The bus status the driver logs for a NACK on this board, through the bridge.
uint32_t nack_bus_status(const fakeboard::quirks& q) {
  if (q.nack_success) {
    return 0;
  }
  const EFI_STATUS failure = q.nack_no_response ? pi::EFI_NO_RESPONSE : EFI_DEVICE_ERROR;
  return murvane::bridge::bus_status_of(q.status_only ? EFI_SUCCESS : failure, failure);
}

// "Read addr:0x.. error:N" lines of the host run with the host bus's
// status for a missing chip replaced by the board's.
std::string with_bus_status(const std::string& log, uint32_t status) {
  std::string out;
  const std::string from = "error:" + std::to_string(sim::bus_fault_status);
  for (const std::string& line : split_lines(log)) {
    if (starts_with(line, "Read addr:") && line.size() > from.size() &&
        line.compare(line.size() - from.size(), from.size(), from) == 0) {
      out += line.substr(0, line.size() - from.size()) + "error:" + std::to_string(status) + "\n";
    } else {
      out += line + "\n";
    }
  }
  if (!log.empty() && log.back() != '\n' && !out.empty()) {
    out.pop_back();
  }
  return out;
}

// Removes the bridge's lines from a transcript and returns them.
std::vector<std::string> take_lines(std::string& transcript) {
  std::vector<std::string> taken;
  std::string rest;
  const bool open_end = !transcript.empty() && transcript.back() != '\n';
  for (const std::string& line : split_lines(transcript)) {
    if (starts_with(line, bridge_prefix)) {
      taken.push_back(line);
    } else {
      rest += line + "\n";
    }
  }
  if (open_end && !rest.empty()) {
    rest.pop_back();
  }
  transcript = rest;
  return taken;
}

}  // namespace

bool parse_bridge_boot(const std::string& mode, const std::string& board, bridge_boot* out, std::string* why) {
  if (mode != "master" && mode != "io") {
    *why = "--bridge takes master or io, not " + mode;
    return false;
  }
  out->io_mode = mode == "io";
  const char* bad = nullptr;
  if (!fakeboard::parse_quirks(board.c_str(), board.size(), &out->quirks, &bad)) {
    *why = "--board: unknown behaviour at \"" + std::string(bad) + "\"";
    return false;
  }
  return true;
}

run_record run_bridged_on_host(const bridge_boot& b, const fwsim::scenario& s) {
  if (!b.quirks.nack_success || s.model != nullptr) {
    run_record r = run_on_host(s);
    const uint32_t status = nack_bus_status(b.quirks);
    r.entry_log = with_bus_status(r.entry_log, status);
    r.start_log = with_bus_status(r.start_log, status);
    return r;
  }
  // No chip, and a master that hides the NACKs: to the driver, a bus on
  // which every read gives back 0 and every write is taken.
  run_record r = run_on_host(s);
  sim::reset_driver_state();
  auto stand_in = sim::make_model("zq3101");
  sim::VirtualPlatform p(&stand_in->model());
  p.read_hook = [](uint8_t /*reg*/, uint8_t* value) {
    *value = 0;
    return true;
  };
  run_calls(p, 1, r);
  return r;
}

comparison take_bridge_lines(const bridge_boot& b, firmware_record& fw, const std::string& log) {
  comparison c;
  const UINTN asked = static_cast<UINTN>(murvane::board::i2c_speed_khz) * 1000;
  const std::string open_line = b.io_mode ? "MurvaneBridge: I2C IO device 1 of 2 has the board's DeviceGuid"
                                          : "MurvaneBridge: I2C master 0, bus clock " +
                                                std::to_string(fakeboard::settable_rate(b.quirks, asked)) +
                                                " Hz (asked for " + std::to_string(asked) + " Hz)";
  const std::vector<std::string> want = {open_line};
  struct part {
    const char* name;
    std::string* transcript;
    bool seen;
  };
  const part parts[] = {{"entry", &fw.run.entry_log, fw.saw_entry},
                        {"Start", &fw.run.start_log, fw.saw_start},
                        {"the C consumer's Start", &fw.run.consumer_log, fw.saw_consumer_start}};
  for (const part& p : parts) {
    if (!p.seen) {
      continue;
    }
    const std::vector<std::string> got = take_lines(*p.transcript);
    if (got == want) {
      c.report.push_back(std::string("bridge during ") + p.name + ": " + open_line);
    } else {
      c.ok = false;
      c.report.push_back(std::string("bridge during ") + p.name + ": expected the one line \"" + open_line +
                         "\", got " + std::to_string(got.size()) + (got.empty() ? " lines" : ":"));
      for (const std::string& g : got) {
        c.report.push_back("    " + g);
      }
    }
  }
  const std::string installed = "MurvaneBridge: Install EFI_ZELT_I2C_PROTOCOL and EFI_KORM_PROTOCOL - Success";
  bool saw_install = false;
  for (const std::string& line : split_lines(log)) {
    saw_install = saw_install || line == installed;
    if (starts_with(line, "[FakeBoard] broken request: ")) {
      c.ok = false;
      c.report.push_back("fake board: " + line.substr(12));
    }
  }
  if (saw_install) {
    c.report.push_back(installed);
  } else {
    c.ok = false;
    c.report.push_back("no \"" + installed + "\" line: the bridge did not install its protocols");
  }
  return c;
}

}  // namespace fwcheck
