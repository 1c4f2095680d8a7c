// The bus client and the register primitives: the exact transfers the bus
// protocol sees, the messages of failed ones, and the masked update.
#include <gtest/gtest.h>

#include "core/regs.h"
#include "platform/platform.h"
#include "tests/sim_fixture.h"

namespace {

using namespace murvane_test;  // the trace notation and SimBoard

class Regs : public ::testing::Test {
 protected:
  Regs() : board_("zq3101") {
    murvane::support_init(board_.platform().image_handle(), board_.platform().system_table());
  }
  SimBoard board_;
};

TEST_F(Regs, BusOpenLocatesThenOpensInstance5WithTheSlaveConfig) {
  ASSERT_EQ(murvane::bus_open(), EFI_SUCCESS);
  const auto& ev = board_.events();
  ASSERT_EQ(ev.size(), 2u);
  EXPECT_EQ(ev[0]["ev"], "locate");
  EXPECT_EQ(ev[0]["guid"], "2D95E7B4-6A13-4C08-B7F2-E4A1903C5D86");
  EXPECT_EQ(ev[1]["ev"], "i2c_open");
  EXPECT_EQ(ev[1]["instance"], 5);
  uint8_t v = 0;
  ASSERT_EQ(murvane::reg_read(0x02, &v), 0u);
  const auto& rd = board_.events().back();
  EXPECT_EQ(rd["config"], nlohmann::json({400, 0x5A, 0, 500, 0, 0}));
  EXPECT_EQ(rd["reg_len"], 1);
  EXPECT_EQ(rd["len"], 1);
  EXPECT_EQ(rd["timeout"], 2500);
}

TEST_F(Regs, ReadAndWriteAreOneTransferEach) {
  ASSERT_EQ(murvane::bus_open(), EFI_SUCCESS);
  board_.chip().set_register(0x39, 0x44);
  const size_t m = board_.mark();
  uint8_t v = 0;
  EXPECT_EQ(murvane::reg_read(0x39, &v), 0u);
  EXPECT_EQ(v, 0x44);
  EXPECT_EQ(murvane::reg_write(0x39, 0x80), 0u);
  EXPECT_EQ(board_.traffic(m), (Trace{rd(0x39, 0x44), wr(0x39, 0x80)}));
  EXPECT_EQ(board_.chip().reg(0x39), 0x80);
  EXPECT_TRUE(board_.log().empty());
}

TEST_F(Regs, FailedReadLogsRegisterAndStatusAndLeavesBufferAlone) {
  ASSERT_EQ(murvane::bus_open(), EFI_SUCCESS);
  board_.platform().add_fault({.transfer = std::nullopt, .reg = 0x02, .op = sim::Op::read, .status = 5});
  uint8_t v = 0x77;
  EXPECT_EQ(murvane::reg_read(0x02, &v), 5u);
  EXPECT_EQ(v, 0x77);
  EXPECT_EQ(board_.log(), (std::vector<std::string>{"Read addr:0x2 error:5\n"}));
}

TEST_F(Regs, FailedWriteLogsRegisterAndData) {
  ASSERT_EQ(murvane::bus_open(), EFI_SUCCESS);
  board_.platform().add_fault({.transfer = std::nullopt, .reg = 0x5F, .op = sim::Op::write, .status = 9});
  EXPECT_EQ(murvane::reg_write(0x5F, 0xAA), 9u);
  EXPECT_EQ(board_.log(), (std::vector<std::string>{"Write addr:0x5F data:0xAA error\n"}));
}

struct BitsCase {
  uint8_t current;
  uint8_t keep;
  uint8_t value;
  uint8_t expected;
};

TEST_F(Regs, WriteBitsKeepsMaskedBitsAndTakesTheRestFromValue) {
  ASSERT_EQ(murvane::bus_open(), EFI_SUCCESS);
  const BitsCase cases[] = {
      {0xA5, 0xFF, 0x00, 0xA5},  // keep all: current value written back
      {0xA5, 0x00, 0x3C, 0x3C},  // keep none: value written as is
      {0xFF, 0xFE, 0x00, 0xFE},  // clear bit 0 only
      {0x00, 0xDF, 0x20, 0x20},  // set bit 5 only
      {0xF0, 0xF3, 0x0C, 0xFC},  // a two-bit field
      {0x0F, 0xF3, 0xF0, 0x03},  // value bits under the mask are ignored
  };
  for (const BitsCase& c : cases) {
    board_.chip().set_register(0x04, c.current);
    const size_t m = board_.mark();
    EXPECT_EQ(murvane::reg_write_bits(0x04, c.keep, c.value), 0u);
    EXPECT_EQ(board_.traffic(m), (Trace{rd(0x04, c.current), wr(0x04, c.expected)}));
  }
}

TEST_F(Regs, WriteBitsWhoseReadFailsWritesNothing) {
  ASSERT_EQ(murvane::bus_open(), EFI_SUCCESS);
  board_.chip().set_register(0x04, 0x80);
  board_.platform().add_fault({.transfer = std::nullopt, .reg = 0x04, .op = sim::Op::read, .status = 5});
  const size_t m = board_.mark();
  EXPECT_EQ(murvane::reg_write_bits(0x04, 0xFE, 0x01), 5u);
  EXPECT_EQ(board_.traffic(m), (Trace{rd_fail(0x04)}));
  EXPECT_EQ(board_.chip().reg(0x04), 0x80);
  EXPECT_EQ(board_.log(), (std::vector<std::string>{"Read addr:0x4 error:5\n"}));
}

TEST_F(Regs, WriteBitsReturnsTheWriteStatus) {
  ASSERT_EQ(murvane::bus_open(), EFI_SUCCESS);
  board_.platform().add_fault({.transfer = std::nullopt, .reg = 0x04, .op = sim::Op::write, .status = 6});
  EXPECT_EQ(murvane::reg_write_bits(0x04, 0xFE, 0x01), 6u);
}

TEST(RegsNoBus, ProtocolMissingLogsLocateStatusThenOpenFailure) {
  sim::PlatformOptions o;
  o.i2c = sim::I2cMode::absent;
  SimBoard b("zq3101", o);
  murvane::support_init(b.platform().image_handle(), b.platform().system_table());
  EXPECT_EQ(murvane::bus_open(), EFI_DEVICE_ERROR);
  EXPECT_EQ(b.log(), (std::vector<std::string>{"Failed to get I2C protocol 0x0000000e\n",
                                               "Failed to initialize instance 5 I2C 1\n"}));
  EXPECT_EQ(murvane::i2c_iface, nullptr);
}

TEST(RegsNoBus, OpenRefusedReportsTheProtocolStatus) {
  sim::PlatformOptions o;
  o.i2c = sim::I2cMode::open_fails;
  SimBoard b("zq3101", o);
  murvane::support_init(b.platform().image_handle(), b.platform().system_table());
  EXPECT_EQ(murvane::bus_open(), EFI_DEVICE_ERROR);
  EXPECT_EQ(b.log(), (std::vector<std::string>{"Failed to initialize instance 5 I2C 3\n"}));
}

TEST(RegsNoBus, AccessBeforeAnyLocateFailsWithStatus1AndNoTransfer) {
  SimBoard b("zq3101");
  murvane::support_init(b.platform().image_handle(), b.platform().system_table());
  uint8_t v = 0;
  EXPECT_EQ(murvane::reg_read(0x02, &v), 1u);
  EXPECT_EQ(murvane::reg_write(0x05, 0x01), 1u);
  EXPECT_EQ(murvane::reg_write_bits(0x05, 0xFE, 0x01), 1u);
  EXPECT_TRUE(b.traffic().empty());
  EXPECT_EQ(b.log(), (std::vector<std::string>{"I2C protocol handle is invalid\n", "Read addr:0x2 error:1\n",
                                               "I2C protocol handle is invalid\n", "Write addr:0x5 data:0x1 error\n",
                                               "I2C protocol handle is invalid\n", "Read addr:0x5 error:1\n"}));
}

}  // namespace
