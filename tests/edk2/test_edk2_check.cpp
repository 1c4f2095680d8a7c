// The checks murvane-edk2-check makes of a boot through EDK2's own I2C stack:
// the dry run's trace as the controller reports traffic, and QEMU's PL061
// trace against the dry run's reset pulses. Each check is shown to fail on
// the boot it must reject.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "core/driver_state.h"
#include "host/harness.h"
#include "sim/model_factory.h"
#include "sim/virtual_platform.h"
#include "testbench/edk2/edk2_check.h"
#include "tests/model_lists.h"

namespace {

const std::string dry_run =
    R"({"ev":"call","fn":"entry","t_us":0.0}
{"ev":"pin_config","word":537838048,"value":1,"status":"0x0000000000000000","t_us":0.0}
{"ev":"pin_set","word":537838048,"level":0,"t_us":0.0}
{"ev":"stall","us":2000,"t_us":0.0}
{"ev":"pin_set","word":537838048,"level":1,"t_us":2000.0}
{"ev":"pin_set","word":537838048,"level":1,"t_us":2000.0}
{"ev":"i2c_read","reg":0,"value":149,"status":0,"reg_len":1,"len":1,"timeout":2500,"config":[400,90,0,500,0,0],"t_us":10000.0}
{"ev":"i2c_write","reg":4,"value":33,"status":0,"reg_len":1,"len":1,"timeout":2500,"config":[400,90,0,500,0,0],"t_us":10300.0}
{"ev":"i2c_read","reg":95,"value":null,"status":7,"reg_len":1,"len":1,"timeout":2500,"config":[400,90,0,500,0,0],"t_us":11375.0}
{"ev":"i2c_write","reg":95,"value":1,"status":7,"reg_len":1,"len":1,"timeout":2500,"config":[400,90,0,500,0,0],"t_us":11475.0}
)";

TEST(Edk2DryRun, TransfersAndResetLineAsTheControllerPrintsThem) {
  const std::vector<std::string> want = {"reset line: held", "reset line: released", "i2c: 5A r 00 95",
                                         "i2c: 5A w 04 21",  "i2c: 5A r 5F nack",    "i2c: 5A w 5F 01 nack"};
  EXPECT_EQ(edk2check::dry_run_events(dry_run), want);
  EXPECT_EQ(edk2check::dry_run_reset_levels(dry_run), (std::vector<int>{0, 1}));
}

TEST(Edk2DryRun, SequencesThatDifferFailAtTheFirstDifference) {
  fwcheck::comparison c;
  edk2check::compare_sequences(c, "traffic", {"a", "b", "c"}, {"a", "x", "c"});
  EXPECT_FALSE(c.ok);
  ASSERT_FALSE(c.report.empty());
  EXPECT_NE(c.report[0].find("first difference at line 2"), std::string::npos) << c.report[0];
  fwcheck::comparison same;
  edk2check::compare_sequences(same, "traffic", {"a", "b"}, {"a", "b"});
  EXPECT_TRUE(same.ok);
}

// QEMU's PL061 trace lines, as its trace events print them.
std::string hex(unsigned v) {
  static const char* digits = "0123456789abcdef";
  std::string s;
  do {
    s.insert(s.begin(), digits[v & 0xF]);
    v >>= 4;
  } while (v != 0);
  return "0x" + s;
}
std::string update(unsigned dir, unsigned data) {
  return "pl061_update /machine/unattached/device[6] GPIODIR " + hex(dir) + " GPIODATA " + hex(data) +
         " pullups 0x0 floating 0x0\n";
}
std::string write(unsigned offset, unsigned value) {
  return "pl061_write /machine/unattached/device[6] offset " + hex(offset) + " value " + hex(value) + "\n";
}

// EDK2's PL061GpioDxe: the direction bit first, then the data register
// through the line's address mask.
std::string set(unsigned line, bool high, unsigned* data) {
  const unsigned mask = 1u << line;
  *data = high ? (*data | mask) : (*data & ~mask);
  return write(0x400, mask) + update(mask, *data & mask) + write(mask << 2, high ? 0xFF : 0) +
         update(mask, *data & mask);
}

std::string pulse(unsigned line, bool active_low) {
  unsigned data = 0;
  std::string t = "pl061_reset /machine/unattached/device[6] reset\n";
  t += "pl061_read /machine/unattached/device[6] offset 0xfe0 value 0x61\n";
  t += set(line, active_low, &data);
  t += set(line, !active_low, &data);
  return t;
}

TEST(Edk2Pl061, OnePulseOnTheConfiguredLinePasses) {
  EXPECT_TRUE(edk2check::check_pl061(pulse(5, false), 5, false, {0, 1}).ok);
  EXPECT_TRUE(edk2check::check_pl061(pulse(5, true), 5, true, {0, 1}).ok);
}

TEST(Edk2Pl061, TheWrongPolarityFails) {
  EXPECT_FALSE(edk2check::check_pl061(pulse(5, true), 5, false, {0, 1}).ok);
  EXPECT_FALSE(edk2check::check_pl061(pulse(5, false), 5, true, {0, 1}).ok);
}

TEST(Edk2Pl061, AnotherLineFails) {
  EXPECT_FALSE(edk2check::check_pl061(pulse(4, false), 5, false, {0, 1}).ok);
  // The right pulse, and another line made an output beside it.
  EXPECT_FALSE(edk2check::check_pl061(pulse(5, false) + update(0x21, 0x20), 5, false, {0, 1}).ok);
  // A data write whose address mask reaches line 6.
  EXPECT_FALSE(edk2check::check_pl061(pulse(5, false) + write(0x60 << 2, 0), 5, false, {0, 1}).ok);
  // A write to another register (the interrupt sense).
  EXPECT_FALSE(edk2check::check_pl061(pulse(5, false) + write(0x404, 0x20), 5, false, {0, 1}).ok);
}

TEST(Edk2Pl061, APulseMoreOrLessThanTheDryRunFails) {
  EXPECT_FALSE(edk2check::check_pl061(pulse(5, false) + pulse(5, false), 5, false, {0, 1}).ok);
  EXPECT_FALSE(edk2check::check_pl061(pulse(5, false), 5, false, {0, 1, 0, 1}).ok);
  EXPECT_FALSE(edk2check::check_pl061("pl061_reset /machine/unattached/device[6] reset\n", 5, false, {0, 1}).ok);
}

// Every family's bring-up, as the virtual platform traces it in the dry
// run's jsonl, turned into the controller's lines: one line per transfer,
// the reset line held then released once, in the order of the trace.
TEST(Edk2DryRun, EveryFamilysBringUpTurnsIntoOneLinePerTransfer) {
  for (const std::string& model : murvane_test::first_model_of_each_family()) {
    SCOPED_TRACE(model);
    murvane::reset_driver_state();
    auto chip = sim::make_model(model);
    sim::VirtualPlatform p(&chip->model());
    ASSERT_EQ(host::call_entry(p), EFI_SUCCESS);
    std::ostringstream jsonl;
    host::write_jsonl(jsonl, p.events());
    const std::vector<std::string> lines = edk2check::dry_run_events(jsonl.str());
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0], "reset line: held");
    EXPECT_EQ(lines[1], "reset line: released");
    const auto transfers = static_cast<uint64_t>(
        std::count_if(lines.begin(), lines.end(), [](const std::string& l) { return l.rfind("i2c: 5A ", 0) == 0; }));
    EXPECT_EQ(transfers, p.counters().reads + p.counters().writes);
    EXPECT_EQ(lines.size(), transfers + 2);
    EXPECT_EQ(edk2check::dry_run_reset_levels(jsonl.str()), (std::vector<int>{0, 1}));
  }
}

// The host run that stands for a bring-up whose Open the bridge refused:
// the driver's open-failure line carries the bridge's status, and no
// transfer is made.
TEST(Edk2OpenRefused, TheDriversLineCarriesTheBridgesStatus) {
  for (const std::string& model : murvane_test::first_model_of_each_family()) {
    SCOPED_TRACE(model);
    fwsim::scenario sc = {};
    ASSERT_EQ(fwsim::parse_scenario(model.c_str(), model.size(), &sc), fwsim::parse_status::ok);
    const fwcheck::run_record r = edk2check::run_open_refused(sc, 15);
    EXPECT_NE(r.entry_log.find(" I2C 15\n"), std::string::npos) << r.entry_log;
    EXPECT_NE(r.start_log.find(" I2C 15\n"), std::string::npos) << r.start_log;
    EXPECT_EQ(r.start_log.find(" I2C 3\n"), std::string::npos) << r.start_log;
    EXPECT_EQ(r.traffic, "traffic: 0 reads, 0 writes, 0 stalls, 0 us stalled");
  }
}

const std::string shell_log = R"(FS0:\> echo "[edk2] step: disconnect"
[edk2] step: disconnect
FS0:\> disconnect BA
Disconnect - (BA,5EB27232,5EB25598) Result Success.
FS0:\> Consumer.efi
[consumer] Murvane C consumer
[consumer] protocol: revision 0x00010005 ok
[consumer] start: begin
Murvane: zq uefi driver version is v1.5.0
MurvaneBridge: no EFI_I2C_IO_PROTOCOL - Not Found

[consumer] start: status Device Error
[edk2] step: connect
FS0:\> connect BA
Connect - Handle [BA] Result Success.
[consumer] start: begin
Murvane: detected zq3101.
[consumer] start: status Success
)";

TEST(Edk2ShellLog, ConsumerStartsInOrderWithTheirLinesAndStatus) {
  const std::vector<edk2check::part> starts = edk2check::consumer_starts(shell_log);
  ASSERT_EQ(starts.size(), 2u);
  EXPECT_EQ(starts[0].log,
            "Murvane: zq uefi driver version is v1.5.0\nMurvaneBridge: no EFI_I2C_IO_PROTOCOL - Not Found\n\n");
  EXPECT_EQ(starts[0].status, "Device Error");
  EXPECT_EQ(starts[1].log, "Murvane: detected zq3101.\n");
  EXPECT_EQ(starts[1].status, "Success");
}

TEST(Edk2ShellLog, AStepsAnswerIsTheShellsLineAfterIt) {
  EXPECT_EQ(edk2check::step_answer(shell_log, "disconnect"), "Disconnect - (BA,5EB27232,5EB25598) Result Success.");
  EXPECT_EQ(edk2check::step_answer(shell_log, "connect"), "Connect - Handle [BA] Result Success.");
  // A step that was never typed has no answer, even with answers around.
  EXPECT_EQ(edk2check::step_answer(shell_log, "unload"), "");
}

}  // namespace
