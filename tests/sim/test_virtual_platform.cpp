// The virtual platform itself: trace events and their fields as the
// simulator contract fixes them, the clock, and each kind of fault.
#include <gtest/gtest.h>

#include <regex>
#include <sstream>

#include "core/regs.h"
#include "platform/log.h"
#include "platform/platform.h"
#include "tests/sim_fixture.h"

namespace {

using namespace murvane_test;  // the trace notation and SimBoard

void expect_fields(const sim::Event& e, std::initializer_list<const char*> fields) {
  for (const char* f : fields) {
    EXPECT_TRUE(e.contains(f)) << e["ev"] << " lacks " << f;
  }
  // ev, the fields, and t_us: the time the event began.
  EXPECT_TRUE(e.contains("t_us") && e["t_us"].is_number()) << e.dump();
  EXPECT_EQ(e.size(), fields.size() + 2) << e.dump();
}

TEST(Trace, PrimitiveRunCarriesEveryFieldOfTheContract) {
  sim::PlatformOptions o;
  o.rng_present = true;
  SimBoard b("zq3101", o);
  ASSERT_EQ(b.entry(), EFI_SUCCESS);
  b.platform().add_fault({.transfer = std::nullopt, .reg = 0x39, .op = sim::Op::read});
  uint8_t v = 0;
  murvane::reg_read(0x39, &v);
  murvane::reg_write(0x39, 0x12);
  const std::regex status_re("0x[0-9A-F]{16}");
  const std::regex guid_re("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}");
  std::set<std::string> kinds;
  for (const auto& e : b.events()) {
    const std::string ev = e["ev"];
    kinds.insert(ev);
    if (ev == "call") {
      expect_fields(e, {"fn"});
    } else if (ev == "return") {
      expect_fields(e, {"fn", "status"});
      EXPECT_TRUE(std::regex_match(e["status"].get<std::string>(), status_re));
    } else if (ev == "locate" || ev == "install_config_table") {
      expect_fields(e, {"guid", "status"});
      EXPECT_TRUE(std::regex_match(e["guid"].get<std::string>(), guid_re));
      EXPECT_TRUE(std::regex_match(e["status"].get<std::string>(), status_re));
    } else if (ev == "install") {
      expect_fields(e, {"guid", "on_image_handle", "interface_type", "revision", "status"});
    } else if (ev == "i2c_open") {
      expect_fields(e, {"instance", "status"});
    } else if (ev == "i2c_read" || ev == "i2c_write") {
      expect_fields(e, {"reg", "value", "status", "reg_len", "len", "timeout", "config"});
      EXPECT_EQ(e["config"].size(), 6u);
    } else if (ev == "pin_config") {
      expect_fields(e, {"word", "value", "status"});
    } else if (ev == "pin_set") {
      expect_fields(e, {"word", "level"});
    } else if (ev == "stall") {
      expect_fields(e, {"us"});
    } else if (ev == "log") {
      expect_fields(e, {"level", "text"});
    } else {
      ADD_FAILURE() << "unknown event " << ev;
    }
  }
  for (const char* k : {"call", "return", "locate", "install", "install_config_table", "i2c_open", "i2c_read",
                        "i2c_write", "pin_config", "pin_set", "stall", "log"}) {
    EXPECT_TRUE(kinds.count(k)) << k;
  }
  // The failed read's value is null; its status is the bus status.
  const auto& failed = b.events()[b.events().size() - 3];
  EXPECT_EQ(failed["ev"], "i2c_read");
  EXPECT_TRUE(failed["value"].is_null());
  EXPECT_EQ(failed["status"], 5);

  std::ostringstream jsonl;
  host::write_jsonl(jsonl, b.events());
  std::istringstream lines(jsonl.str());
  std::string line;
  size_t n = 0;
  while (std::getline(lines, line)) {
    EXPECT_EQ(nlohmann::json::parse(line), b.events()[n++]);
  }
  EXPECT_EQ(n, b.events().size());
  std::ostringstream text;
  host::write_text(text, b.events());
  EXPECT_NE(text.str().find("FAILED status 5"), std::string::npos);
}

// At 400 kHz a read is 40 bit times of 2.5 us, a write 30 (START, the
// bytes with their ACK/NACK, a repeated START for a read, STOP, bus free).
// UINTN is pointer-sized (4 bytes in a 32-bit process, 8 in the firmware):
// a status keeps its error flag in UINTN's top bit, the trace writes it as
// 64-bit firmware gives it, and a wait's slot value is the same low word on
// either width.
TEST(Trace, StatusesReadAsFirmwaresWhateverTheWidth) {
  EXPECT_EQ(EFI_ERROR_BIT, static_cast<EFI_STATUS>(1) << (sizeof(UINTN) * 8 - 1));
  EXPECT_EQ(sizeof(UINTN), sizeof(void*));
  EXPECT_EQ(efi_status_wide(EFI_INVALID_PARAMETER), 0x8000000000000002ULL);
  EXPECT_EQ(efi_status_wide(EFI_SUCCESS), 0U);
  EXPECT_EQ(efi_status_narrow(0x800000000000000EULL), EFI_NOT_FOUND);
  EXPECT_EQ(efi_status_narrow(efi_status_wide(EFI_TIMEOUT)), EFI_TIMEOUT);
  EXPECT_EQ(sim::status_string(EFI_DEVICE_ERROR), "0x8000000000000007");
  EXPECT_EQ(murvane::wait_result(EFI_TIMEOUT), 18);
  EXPECT_EQ(murvane::wait_result(EFI_SUCCESS), 0);
}

TEST(Clock, StallsAndTransfersAdvanceVirtualTimeOnly) {
  SimBoard b("zq3101");
  murvane::support_init(b.platform().image_handle(), b.platform().system_table());
  ASSERT_EQ(murvane::bus_open(), EFI_SUCCESS);
  const uint64_t t0 = b.platform().now_ns();
  uint8_t v = 0;
  murvane::reg_read(0x00, &v);
  EXPECT_EQ(b.platform().now_ns() - t0, 100000u);
  murvane::reg_write(0x39, 1);
  EXPECT_EQ(b.platform().now_ns() - t0, 100000u + 75000u);
  murvane::stall(1000000);  // one virtual second, no real wait
  EXPECT_EQ(b.platform().now_ns() - t0, 100000u + 75000u + 1000000000u);
  EXPECT_EQ(b.platform().counters().stall_us, 1000000u);
  // Each event carries the time it began.
  const auto& ev = b.events();
  ASSERT_GE(ev.size(), 3u);
  EXPECT_EQ(sim::event_start_ns(ev[ev.size() - 3]), t0);
  EXPECT_EQ(sim::event_start_ns(ev[ev.size() - 2]), t0 + 100000u);
  EXPECT_EQ(sim::event_start_ns(ev.back()), t0 + 175000u);
  EXPECT_EQ(sim::event_end_ns(ev.back()), t0 + 175000u + 1000000000u);
}

// A transfer takes its time at the clock of the slave configuration it is
// passed with, whatever the build's: 30 and 40 bit times.
TEST(Clock, TransfersTakeTheirTimeAtTheClockTheyArePassed) {
  SimBoard b("zq3101");
  for (const uint32_t khz : {100u, 400u, 1000u, 333u}) {
    const uint32_t config[6] = {khz, 0x5A, 0, 500, 0, 0};
    uint8_t v = 0;
    uint64_t t0 = b.platform().now_ns();
    b.platform().i2c_transfer(false, 0, config, 0x00, 1, &v, 1, nullptr, 2500);
    EXPECT_EQ(b.platform().now_ns() - t0, (40u * 1000000u + khz / 2) / khz) << khz << " kHz";
    t0 = b.platform().now_ns();
    b.platform().i2c_transfer(true, 0, config, 0x39, 1, &v, 1, nullptr, 2500);
    EXPECT_EQ(b.platform().now_ns() - t0, (30u * 1000000u + khz / 2) / khz) << khz << " kHz";
    EXPECT_EQ(sim::event_end_ns(b.events().back()) - sim::event_start_ns(b.events().back()),
              (30u * 1000000u + khz / 2) / khz);
  }
  EXPECT_EQ(sim::transfer_ns(true, 100), 300000u);
  EXPECT_EQ(sim::transfer_ns(false, 100), 400000u);
}

class Faults : public ::testing::Test {
 protected:
  Faults() : board_("zq3101") {
    murvane::support_init(board_.platform().image_handle(), board_.platform().system_table());
    EXPECT_EQ(murvane::bus_open(), EFI_SUCCESS);
  }
  Trace run_six() {
    const size_t m = board_.mark();
    uint8_t v = 0;
    for (int i = 0; i < 3; ++i) {
      murvane::reg_read(0x10, &v);
      murvane::reg_write(0x10, static_cast<uint8_t>(i));
    }
    return board_.traffic(m);
  }
  SimBoard board_;
};

TEST_F(Faults, ByTransferIndexCountsReadsAndWritesTogether) {
  board_.platform().add_fault({.transfer = 4, .status = 7});
  const auto t = run_six();
  EXPECT_EQ(t, (Trace{rd(0x10, 0), wr(0x10, 0), rd(0x10, 0), wr_fail(0x10, 1), rd(0x10, 0), wr(0x10, 2)}));
  EXPECT_EQ(board_.platform().counters().failed, 1u);
  EXPECT_EQ(board_.chip().reg(0x10), 2);
}

TEST_F(Faults, ByRegisterDirectionAndRange) {
  board_.platform().add_fault({.transfer = std::nullopt, .reg = 0x10, .op = sim::Op::write, .from = 2, .count = 1});
  const auto t = run_six();
  EXPECT_EQ(t[1].value, 0);
  EXPECT_EQ(t[3], wr_fail(0x10, 1));
  EXPECT_EQ(t[5].value, 2);
  EXPECT_EQ(t[0].value, 0);
}

TEST_F(Faults, FailedTransferIsNotSeenByTheChip) {
  board_.chip().set_register(0x10, 0x33);
  board_.platform().add_fault({.transfer = std::nullopt, .reg = 0x10, .op = sim::Op::any});
  run_six();
  EXPECT_EQ(board_.chip().reg(0x10), 0x33);
  EXPECT_EQ(board_.platform().counters().failed, 6u);
}

TEST(ChaosFaults, SameSeedSameTraceDifferentSeedDifferentTrace) {
  auto run = [](uint64_t seed) {
    sim::PlatformOptions o;
    o.seed = seed;
    o.chaos = {0.3, 0.2};
    SimBoard b("zq3101", o);
    murvane::support_init(b.platform().image_handle(), b.platform().system_table());
    EXPECT_EQ(murvane::bus_open(), EFI_SUCCESS);
    uint8_t v = 0;
    for (int i = 0; i < 64; ++i) {
      murvane::reg_read(0x10, &v);
    }
    return b.traffic();
  };
  EXPECT_EQ(run(7), run(7));
  EXPECT_NE(run(7), run(8));
}

TEST(ChipModelBase, SramOnlyThroughTheHostAccessWindowAndScriptedReadsFirst) {
  SimBoard b("zq3101");
  sim::chip_model& chip = b.chip();
  chip.write(0x40, 0x08);  // pointer while closed
  chip.write(0x42, 0x11);  // data while closed
  EXPECT_EQ(chip.violation_count(), 2u);
  EXPECT_EQ(chip.sram_bytes_written(), 0u);
  chip.write(0x04, 0x20);
  chip.write(0x40, 0x08);
  chip.write(0x41, 0x00);
  chip.write(0x42, 0xAB);
  chip.write(0x42, 0xCD);
  EXPECT_EQ(chip.sram()[0x800], 0xAB);
  EXPECT_EQ(chip.sram()[0x801], 0xCD);
  EXPECT_EQ(chip.ram_pointer(), 0x802);
  EXPECT_EQ(chip.violation_count(), 2u);
  chip.set_register(0x39, 5);
  chip.script_read(0x39, 1);
  chip.script_read(0x39, 2);
  EXPECT_EQ(chip.read(0x39), 1);
  EXPECT_EQ(chip.read(0x39), 2);
  EXPECT_EQ(chip.read(0x39), 5);
  chip.reset_pulse();
  EXPECT_EQ(chip.reg(0x39), 5);  // a scenario's register survives a reset
}

}  // namespace
