// The built-in waveform image and its download into the RAM data register.
#include <gtest/gtest.h>

#include "core/regs.h"
#include "core/waveform.h"
#include "platform/platform.h"
#include "tests/sim_fixture.h"

namespace {

using murvane::waveform_image;
using namespace murvane_test;  // the trace notation and SimBoard

int8_t sample(size_t i) { return static_cast<int8_t>(waveform_image[5 + i]); }

TEST(WaveformImage, TableEntryPointsAtWaveformOneInsideTheImage) {
  ASSERT_EQ(murvane::waveform_image_len, 146u);
  EXPECT_EQ(waveform_image[0], 0x55);
  const unsigned start = (waveform_image[1] << 8) | waveform_image[2];
  const unsigned end = (waveform_image[3] << 8) | waveform_image[4];
  EXPECT_EQ(start, 0x0805u);
  EXPECT_EQ(end, 0x0891u);
  // The table's end address is the SRAM address of the image's last byte.
  EXPECT_EQ(end - murvane::waveform_sram_base + 1, murvane::waveform_image_len);
}

TEST(WaveformImage, SamplesFormOneSmoothCycle) {
  constexpr size_t count = 141;
  EXPECT_EQ(sample(0), 0);
  EXPECT_EQ(sample(140), -4);
  for (size_t i = 32; i <= 38; ++i) {
    EXPECT_EQ(sample(i), 76) << i;
  }
  for (size_t i = 103; i <= 109; ++i) {
    EXPECT_EQ(sample(i), -76) << i;
  }
  EXPECT_EQ(sample(70), 2);
  EXPECT_EQ(sample(71), -1);
  int8_t lo = 0;
  int8_t hi = 0;
  for (size_t i = 0; i < count; ++i) {
    lo = std::min(lo, sample(i));
    hi = std::max(hi, sample(i));
    if (i > 0) {
      EXPECT_LE(std::abs(sample(i) - sample(i - 1)), 4) << "jump at sample " << i;
    }
    // Rising to the peak, falling to the trough, then climbing back.
    if (i > 0 && i <= 32) {
      EXPECT_GT(sample(i), sample(i - 1)) << i;
    }
  }
  EXPECT_EQ(hi, 76);
  EXPECT_EQ(lo, -76);
}

class Download : public ::testing::Test {
 protected:
  Download() : board_("zq3101") {
    murvane::support_init(board_.platform().image_handle(), board_.platform().system_table());
    EXPECT_EQ(murvane::bus_open(), EFI_SUCCESS);
  }
  SimBoard board_;
};

TEST_F(Download, OneWriteToRegister42PerByteInImageOrder) {
  const size_t m = board_.mark();
  murvane::stream_waveform(waveform_image, &murvane::waveform_image_len);
  const auto w = board_.writes(m);
  ASSERT_EQ(w.size(), 146u);
  for (size_t i = 0; i < w.size(); ++i) {
    EXPECT_EQ(w[i], wr(0x42, waveform_image[i])) << i;
  }
  EXPECT_EQ(w.front().value, 0x55);
  EXPECT_EQ(w.back().value, 0xFC);
  EXPECT_TRUE(board_.traffic(m).size() == 146u);
}

TEST_F(Download, EmptyImageWritesNothing) {
  const volatile uint32_t zero = 0;
  const size_t m = board_.mark();
  murvane::stream_waveform(waveform_image, &zero);
  EXPECT_TRUE(board_.traffic(m).empty());
}

TEST_F(Download, FailedByteIsLoggedAndTheRestStillGoes) {
  board_.platform().add_fault({.transfer = std::nullopt, .reg = 0x42, .op = sim::Op::write, .from = 10, .count = 1});
  const size_t m = board_.mark();
  murvane::stream_waveform(waveform_image, &murvane::waveform_image_len);
  const auto w = board_.writes(m);
  ASSERT_EQ(w.size(), 146u);
  EXPECT_EQ(w[9], wr_fail(0x42, waveform_image[9]));
  EXPECT_EQ(w[10].value, waveform_image[10]);
  char line[64];
  std::snprintf(line, sizeof(line), "Write addr:0x42 data:0x%X error\n", waveform_image[9]);
  EXPECT_EQ(board_.log(), (std::vector<std::string>{line}));
}

}  // namespace
