// libFuzzer harness: the driver on the virtual platform, with the chip's
// answers, the bus failures and the calls all chosen by the input.
//
// Input layout (FuzzedDataProvider): from the end, the model (19 = no chip),
// the platform options and the calls (entry, Start, any slot with any
// arguments); from the front, the bus script, one instruction per transfer
// until it runs out (then every transfer goes to the model untouched):
//   0x00..0x7F  the transfer goes through
//   0x80..0xBF  a read answers the next byte instead of the model
//   0xC0..0xDF  the transfer fails with status (op & 0x1F) + 1
//   0xE0..0xEF  from now on register <next byte> reads <byte after>
//   0xF0..0xFE  the next ((op & 0x0F) << 8 | next byte) transfers go through
//   0xFF        the chip vanishes: this transfer and every later one fail
//
// Every call must return within its family's worst-case modeled time, log
// each failed transfer exactly once with the primitive's message, return a
// documented result, report no boot or calibration success when none of its
// transfers reached the chip, log no frequency after a failed transfer, and
// log no line that had to be cut. A broken invariant aborts,
// so libFuzzer keeps the input.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "core/family.h"
#include "host/harness.h"
#include "platform/log.h"
#include "sim/model_factory.h"
#include "sim/models/model_table.h"
#include "sim/virtual_platform.h"
#include "tests/worst_case.h"

namespace {

constexpr size_t max_calls = 16;
constexpr size_t max_stuck = 8;
constexpr uint8_t call_entry = 0;
constexpr uint8_t call_start = 1;
constexpr uint8_t first_slot_call = 2;
constexpr int get_f0_slot = 0;
constexpr int offset_calibration_slot = 1;
constexpr int trim_slot = 9;  // write_trim_lra takes a 32-bit kind

[[noreturn]] void fail(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

void fail(const char* fmt, ...) {
  std::va_list ap;
  va_start(ap, fmt);
  std::fputs("fuzz_driver: invariant broken: ", stderr);
  std::vfprintf(stderr, fmt, ap);
  std::fputc('\n', stderr);
  va_end(ap);
  std::abort();
}

struct FailedTransfer {
  bool write;
  uint8_t reg;
  uint32_t status;
};

// The chip and bus behaviour the input scripts, through the platform's hooks.
class BusScript {
 public:
  explicit BusScript(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}

  uint32_t on_transfer(bool write, uint8_t reg) {
    answer_pending_ = false;
    const uint32_t status = decide(write);
    if (status != 0) {
      failed_.push_back({write, reg, status});
    }
    return status;
  }

  void on_read(uint8_t reg, uint8_t* value) {
    for (size_t i = 0; i < stuck_count_; ++i) {
      if (stuck_[i].reg == reg) {
        *value = stuck_[i].value;
      }
    }
    if (answer_pending_) {
      *value = answer_;
      answer_pending_ = false;
    }
  }

  const std::vector<FailedTransfer>& failed() const { return failed_; }

 private:
  uint8_t next() { return pos_ < bytes_.size() ? bytes_[pos_++] : 0; }

  uint32_t decide(bool write) {
    if (vanished_) {
      return sim::bus_fault_status;
    }
    if (pass_left_ > 0) {
      --pass_left_;
      return 0;
    }
    if (pos_ >= bytes_.size()) {
      return 0;
    }
    const uint8_t op = next();
    if (op < 0x80) {
      return 0;
    }
    if (op < 0xC0) {
      const uint8_t value = next();
      if (!write) {
        answer_ = value;
        answer_pending_ = true;
      }
      return 0;
    }
    if (op < 0xE0) {
      return static_cast<uint32_t>(op & 0x1F) + 1;
    }
    if (op < 0xF0) {
      const uint8_t reg = next();
      const uint8_t value = next();
      stuck_[stuck_count_ < max_stuck ? stuck_count_++ : (reg % max_stuck)] = {reg, value};
      return 0;
    }
    if (op < 0xFF) {
      pass_left_ = static_cast<uint64_t>(op & 0x0F) << 8 | next();
      return 0;
    }
    vanished_ = true;
    return sim::bus_fault_status;
  }

  struct stuck {
    uint8_t reg;
    uint8_t value;
  };

  std::vector<uint8_t> bytes_;
  size_t pos_ = 0;
  bool vanished_ = false;
  uint64_t pass_left_ = 0;
  bool answer_pending_ = false;
  uint8_t answer_ = 0;
  stuck stuck_[max_stuck] = {};
  size_t stuck_count_ = 0;
  std::vector<FailedTransfer> failed_;
};

struct Call {
  uint8_t kind;  // call_entry, call_start, or first_slot_call + slot index
  std::vector<int64_t> args;
};

const char* family_name(sim::family_id f) { return sim::first_model_of(f).family_name; }

// The model family of the driver's family: both lists come from
// core/family_list.h, in the same order.
bool family_of(const murvane::chip_family* fam, sim::family_id* out) {
  static_assert(murvane::chip_family_count == sim::family_count);
  for (size_t i = 0; i < murvane::chip_family_count; ++i) {
    if (fam == murvane::chip_families[i]) {
      *out = sim::all_families[i];
      return true;
    }
  }
  return false;
}

bool starts_with(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }
bool ends_with(const std::string& s, const std::string& suffix) {
  return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::string hex(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof(buf), "0x%X", v);
  return buf;
}

// The primitive's message for each failed transfer, once each and in order;
// with no chip on the bus the platform fails transfers before the script
// sees them, so only their count and form can be checked.
void check_failure_lines(const std::vector<std::string>& lines, const std::vector<FailedTransfer>& scripted,
                         uint64_t failed, const char* call) {
  std::vector<const std::string*> failure_lines;
  for (const std::string& l : lines) {
    if (starts_with(l, "Read addr:") || starts_with(l, "Write addr:")) {
      failure_lines.push_back(&l);
    }
    if (starts_with(l, "I2C protocol handle is invalid")) {
      fail("%s: a transfer without a bus protocol", call);
    }
  }
  if (failure_lines.size() != failed) {
    fail("%s: %llu failed transfers but %zu failure lines", call, static_cast<unsigned long long>(failed),
         failure_lines.size());
  }
  const bool all_scripted = scripted.size() == failed;
  for (size_t i = 0; i < failure_lines.size(); ++i) {
    const std::string& l = *failure_lines[i];
    if (all_scripted) {
      const FailedTransfer& f = scripted[i];
      const std::string reg = hex(f.reg);
      const bool ok = f.write ? starts_with(l, ("Write addr:" + reg + " data:0x").c_str()) && ends_with(l, " error\n")
                              : l == "Read addr:" + reg + " error:" + std::to_string(f.status) + "\n";
      if (!ok) {
        fail("%s: failure line \"%s\" for a failed %s of %s", call, l.c_str(), f.write ? "write" : "read", reg.c_str());
      }
    } else if (!(starts_with(l, "Write addr:0x") && ends_with(l, " error\n")) &&
               !(starts_with(l, "Read addr:0x") &&
                 ends_with(l, " error:" + std::to_string(sim::bus_fault_status) + "\n"))) {
      fail("%s: malformed failure line \"%s\"", call, l.c_str());
    }
  }
}

void check_log_lines(const std::vector<std::string>& lines, const char* call) {
  const std::string cut = murvane::log_cut_marker;
  for (const std::string& l : lines) {
    if (ends_with(l, cut) || l.size() + 1 >= murvane::log_buffer_size) {
      fail("%s: log line cut: \"%s\"", call, l.c_str());
    }
  }
}

// An f0 measurement concludes nothing from a failed transfer: no frequency
// is logged after a failure line.
void check_no_measurement_after_failure(const std::vector<std::string>& lines, const char* call) {
  bool failure_seen = false;
  for (const std::string& l : lines) {
    if (l.rfind("Read addr:", 0) == 0 || l.rfind("Write addr:", 0) == 0) {
      failure_seen = true;
    } else if (failure_seen && (l.rfind("Murvane: lra_f0=", 0) == 0 || l.rfind("Murvane: lra f0=", 0) == 0)) {
      fail("%s: a frequency reported after a failed transfer", call);
    }
  }
}

bool slot_result_documented(int slot, int64_t r, const std::vector<FailedTransfer>& scripted,
                            bool unscripted_failures) {
  if (slot == 13) {  // qualify_check
    return static_cast<EFI_STATUS>(r) == EFI_SUCCESS || static_cast<EFI_STATUS>(r) == EFI_DEVICE_ERROR;
  }
  if (r == 0 || r == -1) {
    return true;
  }
  // Slots whose result nobody examines pass on the bus status of an access.
  for (const FailedTransfer& f : scripted) {
    if (r == static_cast<int64_t>(static_cast<int32_t>(f.status))) {
      return true;
    }
  }
  return unscripted_failures && r == sim::bus_fault_status;
}

// What an input chooses, read from its end: the model (or none), the
// platform's options and the calls; the rest is the bus script.
struct FuzzInput {
  uint8_t model_index = 0;  // sim::model_info_count: no chip
  sim::PlatformOptions options;
  std::vector<Call> calls;
  std::vector<uint8_t> script;
};

FuzzInput read_input(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  FuzzInput out;
  out.model_index = in.ConsumeIntegralInRange<uint8_t>(0, sim::model_info_count);
  const uint8_t opts = in.ConsumeIntegral<uint8_t>();
  const sim::I2cMode i2c_modes[] = {sim::I2cMode::present, sim::I2cMode::present, sim::I2cMode::absent,
                                    sim::I2cMode::open_fails};
  const sim::PinMode pin_modes[] = {sim::PinMode::present, sim::PinMode::present, sim::PinMode::absent,
                                    sim::PinMode::config_fails};
  const EFI_STATUS install_results[] = {EFI_SUCCESS, EFI_SUCCESS, EFI_INVALID_PARAMETER, 1 /* a warning */};
  out.options.i2c = i2c_modes[opts & 3];
  out.options.pin = pin_modes[(opts >> 2) & 3];
  out.options.install_status = install_results[(opts >> 4) & 3];
  out.options.rng_present = (opts & 0x40) != 0;
  out.options.seed = 1;

  out.calls.resize(in.ConsumeIntegralInRange<size_t>(1, max_calls));
  for (Call& c : out.calls) {
    c.kind = in.ConsumeIntegralInRange<uint8_t>(0, first_slot_call + murvane::haptic_ops_slots - 1);
    if (c.kind >= first_slot_call) {
      const int slot = c.kind - first_slot_call;
      for (int a = 0; a < host::slot_arity(slot); ++a) {
        c.args.push_back(slot == trim_slot ? static_cast<int64_t>(in.ConsumeIntegral<int32_t>())
                                           : static_cast<int64_t>(in.ConsumeIntegral<uint8_t>()));
      }
    }
  }
  out.script = in.ConsumeRemainingBytes<uint8_t>();
  return out;
}

// One call as it ran: its result and what it did on the bus and in the log.
struct CallRun {
  const char* name;
  int64_t result = 0;
  uint64_t elapsed_ns = 0;
  uint64_t failed = 0;                   // failed transfers
  uint64_t transfers = 0;                // all transfers
  std::vector<FailedTransfer> scripted;  // the failures the script made
  std::vector<std::string> lines;
};

CallRun run_call(const Call& c, sim::VirtualPlatform& platform, const BusScript& script) {
  CallRun r;
  r.name = c.kind == call_entry   ? "entry"
           : c.kind == call_start ? "start"
                                  : murvane::haptic_ops_names[c.kind - first_slot_call];
  const uint64_t t0 = platform.now_ns();
  const uint64_t failed0 = platform.counters().failed;
  const uint64_t transfers0 = platform.transfers();
  const size_t scripted0 = script.failed().size();
  const size_t log0 = platform.log_lines().size();

  if (c.kind == call_entry) {
    r.result = static_cast<int64_t>(host::call_entry(platform));
  } else if (c.kind == call_start) {
    r.result = static_cast<int64_t>(host::call_start(platform));
  } else {
    const host::SlotResult slot = host::call_slot(platform, r.name, c.args);
    if (!slot.ok) {
      fail("%s: the harness refused the call: %s", r.name, slot.error.c_str());
    }
    r.result = slot.value;
  }

  r.elapsed_ns = platform.now_ns() - t0;
  r.failed = platform.counters().failed - failed0;
  r.transfers = platform.transfers() - transfers0;
  r.scripted.assign(script.failed().begin() + static_cast<ptrdiff_t>(scripted0), script.failed().end());
  r.lines.assign(platform.log_lines().begin() + static_cast<ptrdiff_t>(log0), platform.log_lines().end());
  return r;
}

// Time: a bring-up is bounded by the family it selected (when it selected
// none, by any family's bound); a slot by the family it ran in. The bound
// is returned for the verbose line.
uint64_t check_time_bound(const Call& c, const CallRun& r, bool had_family, sim::family_id family) {
  const bool is_slot = c.kind >= first_slot_call;
  uint64_t bound_us = 0;
  sim::family_id now{};
  if (is_slot) {
    if (!had_family) {
      fail("%s: a selected family the harness does not know", r.name);
    }
    bound_us = murvane_test::worst_case_us(family, r.name);
  } else if (family_of(murvane::current_family, &now)) {
    bound_us = murvane_test::worst_case_us(now, r.name);
  } else {
    bound_us = murvane_test::worst_case_any_family_us(r.name);
  }
  if (r.elapsed_ns > bound_us * 1000) {
    fail("%s on %s: %llu ns, over the bound of %llu us", r.name,
         is_slot ? family_name(family) : (murvane::current_family ? murvane::current_family->name : "no family"),
         static_cast<unsigned long long>(r.elapsed_ns), static_cast<unsigned long long>(bound_us));
  }
  return bound_us;
}

// Results: a documented one; no success where nothing reached the chip (the
// entry point's result is the install's, whatever the bring-up did; most
// slots pass on the status of their last access or stall, so "success" is a
// concluded calibration or a measured frequency); nothing measured after a
// failure.
void check_result(const Call& c, const CallRun& r, const sim::PlatformOptions& options) {
  const int slot = c.kind - first_slot_call;
  bool documented = true;
  if (c.kind == call_entry) {
    const EFI_STATUS want = EFI_ERROR(options.install_status) ? options.install_status : EFI_SUCCESS;
    documented = static_cast<EFI_STATUS>(r.result) == want;
  } else if (c.kind == call_start) {
    const auto s = static_cast<EFI_STATUS>(r.result);
    documented = s == EFI_SUCCESS || s == EFI_DEVICE_ERROR || s == EFI_UNSUPPORTED;
  } else {
    documented = slot_result_documented(slot, r.result, r.scripted, r.failed > r.scripted.size());
  }
  if (!documented) {
    fail("%s returned %lld", r.name, static_cast<long long>(r.result));
  }
  const bool nothing_landed = r.transfers > 0 && r.failed == r.transfers;
  if (nothing_landed && r.result == 0 && (c.kind == call_start || slot == offset_calibration_slot)) {
    fail("%s: success reported although all %llu transfers failed", r.name,
         static_cast<unsigned long long>(r.transfers));
  }
  if (r.failed > 0 && slot == get_f0_slot) {
    check_no_measurement_after_failure(r.lines, r.name);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // FUZZ_DRIVER_VERBOSE=1: one line per call, for looking at an input.
  static const bool verbose = std::getenv("FUZZ_DRIVER_VERBOSE") != nullptr;
  FuzzInput input = read_input(data, size);
  BusScript script(std::move(input.script));

  sim::reset_driver_state();
  std::unique_ptr<sim::ModelHandle> chip;
  if (input.model_index < sim::model_info_count) {
    chip = sim::make_model(sim::model_infos[input.model_index].name);
  }
  sim::VirtualPlatform platform(chip != nullptr ? &chip->model() : nullptr, input.options);
  platform.set_recording(false);
  platform.transfer_hook = [&script](bool write, uint8_t reg) { return script.on_transfer(write, reg); };
  platform.read_hook = [&script](uint8_t reg, uint8_t* value) {
    script.on_read(reg, value);
    return true;
  };

  for (const Call& c : input.calls) {
    sim::family_id family{};
    const bool had_family = family_of(murvane::current_family, &family);
    if (c.kind >= first_slot_call && murvane::current_family == nullptr) {
      continue;  // nothing selected: a slot has no family to run in
    }
    if (c.kind == call_start && platform.installed(EFI_ZELT_I2C_HAPTIC_PROTOCOL_GUID) == nullptr) {
      continue;  // no protocol to call Start through
    }
    const CallRun r = run_call(c, platform, script);
    const uint64_t bound_us = check_time_bound(c, r, had_family, family);
    check_failure_lines(r.lines, r.scripted, r.failed, r.name);
    check_log_lines(r.lines, r.name);
    check_result(c, r, input.options);
    if (verbose) {
      std::fprintf(stderr, "%-18s -> %-20lld %9llu us of %9llu us, %llu failed transfers, %zu log lines\n", r.name,
                   static_cast<long long>(r.result), static_cast<unsigned long long>(r.elapsed_ns / 1000),
                   static_cast<unsigned long long>(bound_us), static_cast<unsigned long long>(r.failed),
                   r.lines.size());
    }
  }
  return 0;
}
