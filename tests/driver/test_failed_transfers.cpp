// Failed transfers, as a flaky board makes them: the driver still sends the
// sequence it always sends (a failed read inside a masked update writes
// nothing; a failed poll reading ends its poll; stop's GO only in the stop
// mode), and never concludes a calibration or a measurement from a call in
// which a transfer failed.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/family.h"
#include "core/waveform.h"
#include "host/harness.h"
#include "sim/models/family_facts.h"
#include "tests/sim_fixture.h"

namespace {

using namespace murvane_test;  // the trace notation and SimBoard

// Every family of core/family_list.h, by its first model, with the facts
// its chip model gives (sim/models/family_facts.h).
struct FamilyTraits {
  const char* model;
  const murvane::chip_family* family;
  const sim::family_facts* facts;
};

const std::vector<FamilyTraits>& families() {
  static const std::vector<FamilyTraits> all = [] {
    std::vector<FamilyTraits> out;
    for (const sim::family_id f : sim::all_families) {
      out.push_back({sim::first_model_of(f).name, murvane::chip_families[static_cast<size_t>(f)], &sim::facts_of(f)});
    }
    return out;
  }();
  return all;
}

std::vector<int> write_regs(const Trace& xfers) {
  std::vector<int> out;
  for (const auto& x : xfers) {
    if (x.kind == Ev::Kind::write) {
      out.push_back(x.reg);
    }
  }
  return out;
}

size_t count_lines(const std::vector<std::string>& log, const std::string& line) {
  size_t n = 0;
  for (const auto& l : log) {
    n += l == line ? 1 : 0;
  }
  return n;
}

size_t failure_lines(const std::vector<std::string>& log) {
  size_t n = 0;
  for (const auto& l : log) {
    n += (l.rfind("Read addr:", 0) == 0 || l.rfind("Write addr:", 0) == 0) ? 1 : 0;
  }
  return n;
}

// One slot call on a board with the family selected; the fault (if any) is
// armed after the selection so it counts only the call's own transfers.
struct SlotRun {
  int64_t result;
  Trace traffic;
  std::vector<std::string> log;
  uint32_t lra_f0;
  uint64_t failed;
};

SlotRun run_slot(const FamilyTraits& t, const std::string& slot, const std::vector<sim::Fault>& faults) {
  SimBoard b(t.model);
  b.select_family(*t.family);
  for (const auto& f : faults) {
    b.platform().add_fault(f);
  }
  const size_t mark = b.mark();
  const size_t log0 = b.log().size();
  const int64_t result = b.slot(slot);
  return {result,
          b.traffic(mark),
          {b.log().begin() + static_cast<std::ptrdiff_t>(log0), b.log().end()},
          murvane::haptic_dev.lra_f0,
          b.platform().counters().failed};
}

void PrintTo(const FamilyTraits& t, std::ostream* os) { *os << t.model; }

class FailedTransfers : public ::testing::TestWithParam<FamilyTraits> {};

// A calibration with a failed transfer, at its start or at its last result
// reading, has failed whatever was read: its own message once, -1, and all of
// its traffic (the closing access included) as on a healthy run.
TEST_P(FailedTransfers, CalibrationWithAFailedTransferFailsWithItsFullTraffic) {
  const FamilyTraits& t = GetParam();
  if (t.facts->offset.start_reg == 0) {
    GTEST_SKIP() << "this family's calibration makes no transfer";
  }
  const SlotRun healthy = run_slot(t, "offset_calibration", {});
  ASSERT_EQ(healthy.result, 0);
  for (const sim::Fault& f :
       {fault_on(t.facts->offset.start_reg, sim::Op::write, 1, 1),
        fault_on(t.facts->offset.result_reg, sim::Op::read, t.facts->offset.result_read_nth, 1)}) {
    const SlotRun r = run_slot(t, "offset_calibration", {f});
    SCOPED_TRACE(std::string(t.model) + (f.op == sim::Op::write ? " start write fails" : " result read fails"));
    EXPECT_EQ(r.failed, 1u);
    EXPECT_EQ(r.result, -1);
    EXPECT_EQ(count_lines(r.log, t.facts->offset.fail_message), 1u);
    EXPECT_EQ(failure_lines(r.log), 1u);
    EXPECT_EQ(write_regs(r.traffic), write_regs(healthy.traffic));
  }
}

// A failed period byte (or any failed transfer of the measurement before its
// period reads) gives the family's zero-period path, not a frequency.
TEST_P(FailedTransfers, MeasurementWithAFailedTransferHasNoPeriod) {
  const FamilyTraits& t = GetParam();
  const SlotRun healthy = run_slot(t, "get_f0", {});
  ASSERT_EQ(healthy.result, 0);
  ASSERT_NE(healthy.lra_f0, 0u);
  const SlotRun r = run_slot(t, "get_f0", {fault_on(t.facts->period_lo, sim::Op::read, 1, 1)});
  EXPECT_EQ(r.failed, 1u);
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(r.lra_f0, 0u);
  EXPECT_EQ(count_lines(r.log, "Murvane: lra_f0 is error, f0_reg=0\n"), 1u);
  EXPECT_EQ(write_regs(r.traffic), write_regs(healthy.traffic));
}

// GO in any mode but the stop mode would start playback: a stop whose mode
// update failed (its write, or the read before it) sends no GO and goes on
// to the standby wait and, if need be, the forced standby.
TEST_P(FailedTransfers, StopSendsNoGoWithoutTheStopMode) {
  const FamilyTraits& t = GetParam();
  if (t.facts->stop_mode_reg == 0) {
    GTEST_SKIP() << "this family's stop clears GO instead";
  }
  const SlotRun healthy = run_slot(t, "stop", {});
  ASSERT_EQ(std::count(healthy.traffic.begin(), healthy.traffic.end(), wr(t.facts->go_reg, 1)), 1);
  for (const sim::Op op : {sim::Op::read, sim::Op::write}) {
    const SlotRun r = run_slot(t, "stop", {fault_on(t.facts->stop_mode_reg, op, 1, 1)});
    SCOPED_TRACE(op == sim::Op::read ? "mode read fails" : "mode write fails");
    for (const auto& x : r.traffic) {
      EXPECT_FALSE(x.kind == Ev::Kind::write && x.reg == t.facts->go_reg) << x;
    }
    EXPECT_NE(count_lines(r.log, "Murvane: enter\n"), 0u);
  }
}

// A chip that stops answering right after identification still gets every
// step of the bring-up: every failure logged once, the image streamed, GO
// sent, and the boot reported as a success.
TEST_P(FailedTransfers, ChipVanishingAfterIdentificationGetsTheWholeBringUp) {
  const FamilyTraits& t = GetParam();
  SimBoard healthy(t.model);
  ASSERT_EQ(healthy.entry(), EFI_SUCCESS);
  // Transfers up to the model line: reset, identification, qualification.
  const std::string detected = std::string("Murvane: detected ") + t.model + ".\n";
  uint64_t before = 0;
  for (const Ev& e : healthy.trace()) {
    if (e == msg(detected)) {
      break;
    }
    before += e.is_transfer() ? 1 : 0;
  }

  SimBoard b(t.model);
  sim::Fault vanish;
  vanish.transfer = before + 1;
  vanish.onward = true;
  b.platform().add_fault(vanish);
  EXPECT_EQ(b.entry(), EFI_SUCCESS);
  EXPECT_GT(b.platform().counters().failed, 0u);
  EXPECT_EQ(failure_lines(b.log()), b.platform().counters().failed);
  for (const char* line : {"Murvane: zq ram init\n", "Murvane: zq ram play\n", "Murvane: zq uefi driver end\n"}) {
    EXPECT_EQ(count_lines(b.log(), line), 1u) << line;
  }
  const auto traffic = b.traffic();
  EXPECT_EQ(std::count_if(traffic.begin(), traffic.end(),
                          [](const auto& x) { return x.kind == Ev::Kind::write && x.reg == 0x42; }),
            static_cast<std::ptrdiff_t>(murvane::waveform_image_len));
  // GO is the last access: a plain write of 1, or (family A) the read of the
  // masked update that sets it.
  ASSERT_FALSE(traffic.empty());
  EXPECT_EQ(traffic.back().reg, t.facts->go_reg);
}

INSTANTIATE_TEST_SUITE_P(Families, FailedTransfers, ::testing::ValuesIn(families()),
                         [](const ::testing::TestParamInfo<FamilyTraits>& i) { return std::string(i.param.model); });

}  // namespace
