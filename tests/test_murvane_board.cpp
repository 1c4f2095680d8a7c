// murvane-board without a board: the backend runs the driver against a
// simulated kernel that decodes the real i2c-dev and GPIO character-device
// requests and serves them from the chip models, and the built command runs
// its dry run beside murvane-sim. What a board engineer relies on: the same
// traffic as the simulator, a refusal before anything is driven when the board
// is not free, one clear line for every failure, and no bring-up claimed that
// did not happen, with the bus closed and the reset line released every time.
#ifdef __linux__

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/gpio.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "core/family.h"
#include "host/harness.h"
#include "murvane/version.h"
#include "sim/model_factory.h"
#include "sim/models/family_facts.h"
#include "sim/models/model_table.h"
#include "tests/child_run.h"
#include "tests/command_run.h"
#include "tests/model_lists.h"
#include "tests/work_dir.h"
#include "tools/common/calls.h"
#include "tools/common/command_line.h"
#include "tools/murvane-board/board.h"
#include "tools/murvane-board/model_system.h"
#include "tools/murvane-board/run.h"
#include "tools/murvane-board/system.h"
#include "tools/murvane-sim/run.h"
#include "tools/murvane-sim/scenario.h"

namespace {

using json = nlohmann::json;
using murvane_board::BoardOptions;
using murvane_board::BoardRun;
using murvane_board::ModelSystem;
namespace fs = std::filesystem;

const std::vector<std::string> one_per_family = murvane_test::first_model_of_each_family();

// The uAPI's numbers, written out: a wrong constant in the backend must not
// be matched by the same constant here.
constexpr unsigned long ioctl_i2c_funcs = 0x0705;
constexpr unsigned long ioctl_i2c_slave = 0x0703;
constexpr unsigned long ioctl_i2c_rdwr = 0x0707;
constexpr unsigned long ioctl_i2c_smbus = 0x0720;
constexpr uint16_t msg_flag_read = 0x0001;
constexpr uint64_t line_flag_active_low = 1U << 1;
constexpr uint64_t line_flag_input = 1U << 2;
constexpr uint64_t line_flag_output = 1U << 3;
constexpr uint32_t attr_output_values = 2;
constexpr uint32_t smbus_byte_data = 2;

// Events without their times: the simulator's and the board's clocks differ.
std::vector<json> timeless(const std::vector<sim::Event>& events) {
  std::vector<json> out;
  for (const sim::Event& e : events) {
    json j = json::parse(e.dump());
    j.erase("t_us");
    out.push_back(std::move(j));
  }
  return out;
}

// murvane-sim's run of a healthy model, in process.
std::vector<sim::Event> simulated(const std::string& model) {
  murvane_sim::Scenario scenario = murvane_sim::default_scenario("test");
  murvane_sim::settle_chip(scenario, model);
  murvane_sim::Simulation simulation(scenario);
  simulation.run();
  return simulation.platform().events();
}

// A board around a simulated kernel and chip model ("absent": none).
class FakeBoard {
 public:
  explicit FakeBoard(const std::string& model, BoardOptions options = murvane_board::default_board_options())
      : options_(std::move(options)) {
    const BoardOptions board = murvane_board::default_board_options();
    if (model != "absent") {
      model_ = sim::make_model(model);
    }
    kernel_ = std::make_unique<ModelSystem>(model_ != nullptr ? &model_->model() : nullptr, board.bus, board.address,
                                            board.gpio_chip, 400);
  }

  ModelSystem& kernel() { return *kernel_; }
  sim::chip_model& chip() { return model_->model(); }
  BoardOptions& options() { return options_; }
  // The family's operations to call after the bring-up (--call).
  std::vector<murvane_tools::SlotCall> calls;

  // Runs (answering the question unless yes); a refusal is kept as its line.
  std::optional<BoardRun::Outcome> run(bool yes = true) {
    murvane_board::RunOptions o;
    o.board = options_;
    o.yes = yes;
    o.calls = calls;
    run_ = std::make_unique<BoardRun>(*kernel_, o);
    try {
      return run_->run();
    } catch (const murvane_board::Refusal& r) {
      refusal_ = r.what();
      return std::nullopt;
    }
  }
  BoardRun& result() { return *run_; }
  const std::string& refusal() const { return refusal_; }

  // Everything it opened is closed again and the reset line is free.
  void expect_released() {
    EXPECT_TRUE(kernel_->open_descriptors().empty()) << kernel_->open_descriptors().size() << " still open";
    EXPECT_FALSE(kernel_->line_requested());
  }
  std::vector<murvane_board::IoctlRecord> ioctls(unsigned long request) const {
    std::vector<murvane_board::IoctlRecord> out;
    for (const murvane_board::IoctlRecord& r : kernel_->ioctls()) {
      if (r.request == request) {
        out.push_back(r);
      }
    }
    return out;
  }
  std::vector<std::string> log() const {
    std::vector<std::string> out;
    for (const sim::Event& e : run_->events()) {
      if (e["ev"] == "log") {
        out.push_back(e["text"].get<std::string>());
      }
    }
    return out;
  }

 private:
  BoardOptions options_;
  std::unique_ptr<sim::ModelHandle> model_;
  std::unique_ptr<ModelSystem> kernel_;
  std::unique_ptr<BoardRun> run_;
  std::string refusal_;
};

// The simulated kernel with its ioctls answered through a wrapper.
class Overriding final : public murvane_board::System {
 public:
  using Ioctl = std::function<int(ModelSystem&, int, unsigned long, void*)>;
  Overriding(ModelSystem& kernel, Ioctl ioctl) : kernel_(kernel), ioctl_(std::move(ioctl)) {}
  int open(const std::string& path) override { return kernel_.open(path); }
  int ioctl(int fd, unsigned long request, void* arg) override { return ioctl_(kernel_, fd, request, arg); }
  void close(int fd) override { kernel_.close(fd); }
  void sleep_us(uint64_t us) override { kernel_.sleep_us(us); }
  uint64_t now_ns() override { return kernel_.now_ns(); }
  bool exists(const std::string& path) override { return kernel_.exists(path); }
  bool confirm(const std::string& question) override { return kernel_.confirm(question); }

 private:
  ModelSystem& kernel_;
  Ioctl ioctl_;
};

bool has_line(const std::vector<std::string>& log, const std::string& line) {
  return std::find(log.begin(), log.end(), line) != log.end();
}

void expect_one_line(const std::string& text) {
  EXPECT_FALSE(text.empty());
  EXPECT_EQ(text.find('\n'), std::string::npos) << text;
}

// The verdict of a run in which some transfers failed, every figure read off
// the simulated kernel's I2C_RDWR requests, not from the tool: how many
// failed of how many it received, and the first failure's place, direction
// and register. errno_words: how the verdict words that failure's errno.
std::string failed_transfers_verdict(FakeBoard& board, const std::string& errno_words) {
  const std::vector<murvane_board::IoctlRecord> rdwr = board.ioctls(ioctl_i2c_rdwr);
  size_t failed = 0;
  size_t first = rdwr.size();
  for (size_t i = 0; i < rdwr.size(); ++i) {
    if (rdwr[i].result < 0) {
      first = std::min(first, i);
      ++failed;
    }
  }
  EXPECT_LT(first, rdwr.size()) << "the kernel saw no transfer fail";
  if (first == rdwr.size() || rdwr[first].messages.empty() || rdwr[first].messages[0].bytes.empty()) {
    return "";
  }
  const murvane_board::IoctlRecord& f = rdwr[first];
  char reg[8];
  std::snprintf(reg, sizeof reg, "0x%02X", f.messages[0].bytes[0]);
  return "not complete: " + std::to_string(failed) + " of " + std::to_string(rdwr.size()) +
         " transfers failed; the first, transfer " + std::to_string(first + 1) + " (" +
         (f.messages.size() == 2 ? "read" : "write") + " of register " + reg + "): " + errno_words;
}

// ---------------------------------------------------------------------------
// One model per family: the same traffic as the simulator.

class BoardPerFamily : public ::testing::TestWithParam<std::string> {};

TEST_P(BoardPerFamily, TraceIsTheSimulatorsTimesAside) {
  const std::vector<json> expected = timeless(simulated(GetParam()));
  FakeBoard board(GetParam());
  ASSERT_EQ(board.run(), BoardRun::Outcome::complete) << board.refusal() << board.result().verdict();
  EXPECT_EQ(timeless(board.result().events()), expected);
  EXPECT_EQ(board.result().verdict().rfind("complete: the chip identified itself as " + GetParam() + ",", 0), 0U)
      << board.result().verdict();
  EXPECT_EQ(board.kernel().chip_reset_pulses(), 1U);
  board.expect_released();
}

TEST_P(BoardPerFamily, EveryEventCarriesItsMeasuredTime) {
  FakeBoard board(GetParam());
  ASSERT_EQ(board.run(), BoardRun::Outcome::complete);
  double last = 0;
  double stall_end = -1;
  for (const sim::Event& e : board.result().events()) {
    ASSERT_TRUE(e.contains("t_us")) << e.dump();
    const double t = e["t_us"].get<double>();
    EXPECT_GE(t, last) << e.dump();
    if (stall_end >= 0) {
      // The event after a wait begins once the wait was slept.
      EXPECT_GE(t, stall_end) << e.dump();
      stall_end = -1;
    }
    if (e["ev"] == "stall") {
      stall_end = t + e["us"].get<double>();
    }
    last = t;
  }
}

TEST_P(BoardPerFamily, VanishingChipMidDownloadIsNoBringUp) {
  // Counted on the healthy run: 30 transfers into the waveform download.
  uint64_t transfers = 0;
  uint64_t vanish_at = 0;
  for (const sim::Event& e : simulated(GetParam())) {
    if (e["ev"] == "i2c_read" || e["ev"] == "i2c_write") {
      ++transfers;
    } else if (e["ev"] == "log" && e["text"] == "Murvane: zq ram init\n") {
      vanish_at = transfers + 30;
    }
  }
  ASSERT_GT(vanish_at, 30U);
  FakeBoard board(GetParam());
  board.kernel().fail_transfer = [&](uint64_t index, const auto&) { return index >= vanish_at ? ENXIO : 0; };
  ASSERT_EQ(board.run(), BoardRun::Outcome::incomplete);
  const std::string& verdict = board.result().verdict();
  expect_one_line(verdict);
  EXPECT_EQ(verdict, failed_transfers_verdict(board, "ENXIO: no acknowledge (NACK): nothing answered at the address"));
  EXPECT_NE(verdict.find("; the first, transfer " + std::to_string(vanish_at) + " (write of register "),
            std::string::npos)
      << verdict;
  // The driver logged the failures with the errno as the bus status.
  size_t failed = 0;
  for (const sim::Event& e : board.result().events()) {
    if ((e["ev"] == "i2c_read" || e["ev"] == "i2c_write") && e["status"] != 0) {
      EXPECT_EQ(e["status"], ENXIO);
      ++failed;
    }
  }
  EXPECT_EQ(failed, board.result().board().failures().size());
  EXPECT_GT(failed, 0U);
  board.expect_released();
}

TEST_P(BoardPerFamily, SmbusOnlyAdapterCarriesTheSameTraffic) {
  FakeBoard board(GetParam());
  board.kernel().functions = I2C_FUNC_SMBUS_READ_BYTE_DATA | I2C_FUNC_SMBUS_WRITE_BYTE_DATA;
  ASSERT_EQ(board.run(), BoardRun::Outcome::complete) << board.refusal() << board.result().verdict();
  EXPECT_EQ(timeless(board.result().events()), timeless(simulated(GetParam())));
  EXPECT_TRUE(board.ioctls(ioctl_i2c_rdwr).empty());
  const auto slave = board.ioctls(ioctl_i2c_slave);
  ASSERT_EQ(slave.size(), 1U);
  EXPECT_EQ(slave[0].value, 0x5AU);
  // One byte-data transfer per register access, in the trace's order.
  const auto smbus = board.ioctls(ioctl_i2c_smbus);
  size_t i = 0;
  for (const sim::Event& e : board.result().events()) {
    if (e["ev"] != "i2c_read" && e["ev"] != "i2c_write") {
      continue;
    }
    ASSERT_LT(i, smbus.size());
    EXPECT_EQ(smbus[i].smbus.size, smbus_byte_data);
    EXPECT_EQ(smbus[i].smbus.read_write, e["ev"] == "i2c_read" ? 1 : 0);
    EXPECT_EQ(smbus[i].smbus.command, e["reg"]);
    EXPECT_EQ(smbus[i].smbus_byte, e["value"]);
    ++i;
  }
  EXPECT_EQ(i, smbus.size());
  board.expect_released();
}

TEST_P(BoardPerFamily, InvertedResetLineStillPulsesTheChip) {
  FakeBoard board(GetParam());
  board.options().gpio_active_low = true;
  board.kernel().board_inverts_reset = true;
  ASSERT_EQ(board.run(), BoardRun::Outcome::complete) << board.refusal() << board.result().verdict();
  EXPECT_EQ(timeless(board.result().events()), timeless(simulated(GetParam())));
  // The GPIO itself is driven inverted: low (not in reset), high for the
  // pulse, low again; the chip saw one pulse.
  EXPECT_EQ(board.kernel().gpio_levels(), (std::vector<bool>{false, true, false}));
  EXPECT_EQ(board.kernel().chip_reset_pulses(), 1U);
  const auto request = board.ioctls(GPIO_V2_GET_LINE_IOCTL);
  ASSERT_EQ(request.size(), 1U);
  EXPECT_EQ(request[0].line_request.config.flags, line_flag_input | line_flag_active_low);
  const auto config = board.ioctls(GPIO_V2_LINE_SET_CONFIG_IOCTL);
  ASSERT_EQ(config.size(), 1U);
  EXPECT_EQ(config[0].line_config.flags, line_flag_output | line_flag_active_low);
  board.expect_released();
}

TEST_P(BoardPerFamily, WrongResetPolarityHoldsTheChipInReset) {
  // --gpio-active-low on a board without an inverter: the chip's reset pin
  // is low for the whole run, and nothing answers.
  FakeBoard board(GetParam());
  board.options().gpio_active_low = true;
  ASSERT_EQ(board.run(), BoardRun::Outcome::incomplete);
  EXPECT_EQ(board.result().verdict().rfind("not complete: nothing answered at 0x5A on /dev/i2c-5: all ", 0), 0U)
      << board.result().verdict();
  EXPECT_EQ(board.kernel().gpio_levels(), (std::vector<bool>{false, true, false, true, false}));
  board.expect_released();
}

INSTANTIATE_TEST_SUITE_P(OnePerFamily, BoardPerFamily, ::testing::ValuesIn(one_per_family),
                         [](const auto& p) { return p.param; });

// Every model, not just one per family: the dry run's traffic is the
// simulator's.
class BoardEveryModel : public ::testing::TestWithParam<std::string> {};

TEST_P(BoardEveryModel, TraceIsTheSimulatorsTimesAside) {
  FakeBoard board(GetParam());
  ASSERT_EQ(board.run(), BoardRun::Outcome::complete) << board.result().verdict();
  EXPECT_EQ(timeless(board.result().events()), timeless(simulated(GetParam())));
}

INSTANTIATE_TEST_SUITE_P(Models, BoardEveryModel, ::testing::ValuesIn([] {
                           std::vector<std::string> names;
                           for (const sim::model_info& m : sim::model_infos) {
                             names.emplace_back(m.name);
                           }
                           return names;
                         }()),
                         [](const auto& p) { return p.param; });

// ---------------------------------------------------------------------------
// The requests as the kernel receives them.

TEST(BoardRequests, CarryTheExactFlagsLengthsAndAddresses) {
  FakeBoard board("zq3301");
  board.options().address = 0x5A;
  ASSERT_EQ(board.run(), BoardRun::Outcome::complete);

  const auto funcs = board.ioctls(ioctl_i2c_funcs);
  ASSERT_EQ(funcs.size(), 1U);
  EXPECT_EQ(funcs[0].result, 0);

  // Every register read is one I2C_RDWR of two messages (the register
  // written, then one byte read); every write one message of two bytes.
  const auto rdwr = board.ioctls(ioctl_i2c_rdwr);
  size_t i = 0;
  for (const sim::Event& e : board.result().events()) {
    if (e["ev"] != "i2c_read" && e["ev"] != "i2c_write") {
      continue;
    }
    ASSERT_LT(i, rdwr.size());
    const auto& m = rdwr[i].messages;
    if (e["ev"] == "i2c_read") {
      ASSERT_EQ(m.size(), 2U);
      EXPECT_EQ(m[0].addr, 0x5A);
      EXPECT_EQ(m[0].flags, 0);
      EXPECT_EQ(m[0].len, 1);
      EXPECT_EQ(m[0].bytes, (std::vector<uint8_t>{e["reg"].get<uint8_t>()}));
      EXPECT_EQ(m[1].addr, 0x5A);
      EXPECT_EQ(m[1].flags, msg_flag_read);
      EXPECT_EQ(m[1].len, 1);
      EXPECT_EQ(m[1].bytes, (std::vector<uint8_t>{e["value"].get<uint8_t>()}));
      EXPECT_EQ(rdwr[i].result, 2);
    } else {
      ASSERT_EQ(m.size(), 1U);
      EXPECT_EQ(m[0].addr, 0x5A);
      EXPECT_EQ(m[0].flags, 0);
      EXPECT_EQ(m[0].len, 2);
      EXPECT_EQ(m[0].bytes, (std::vector<uint8_t>{e["reg"].get<uint8_t>(), e["value"].get<uint8_t>()}));
      EXPECT_EQ(rdwr[i].result, 1);
    }
    ++i;
  }
  EXPECT_EQ(i, rdwr.size());
  EXPECT_GT(i, 150U);

  // The reset line: requested alone, as an input, under our name; then an
  // output out of reset; then low and high.
  const auto request = board.ioctls(GPIO_V2_GET_LINE_IOCTL);
  ASSERT_EQ(request.size(), 1U);
  const gpio_v2_line_request& r = request[0].line_request;
  EXPECT_EQ(r.num_lines, 1U);
  EXPECT_EQ(r.offsets[0], 30U);
  EXPECT_STREQ(r.consumer, "murvane-board");
  EXPECT_EQ(r.config.flags, line_flag_input);
  EXPECT_EQ(r.config.num_attrs, 0U);
  const auto config = board.ioctls(GPIO_V2_LINE_SET_CONFIG_IOCTL);
  ASSERT_EQ(config.size(), 1U);
  const gpio_v2_line_config& c = config[0].line_config;
  EXPECT_EQ(c.flags, line_flag_output);
  ASSERT_EQ(c.num_attrs, 1U);
  EXPECT_EQ(c.attrs[0].attr.id, attr_output_values);
  EXPECT_EQ(c.attrs[0].attr.values, 1U);
  EXPECT_EQ(c.attrs[0].mask, 1U);
  const auto values = board.ioctls(GPIO_V2_LINE_SET_VALUES_IOCTL);
  ASSERT_EQ(values.size(), 2U);
  EXPECT_EQ(values[0].line_values.bits, 0U);
  EXPECT_EQ(values[0].line_values.mask, 1U);
  EXPECT_EQ(values[1].line_values.bits, 1U);
  EXPECT_EQ(values[1].line_values.mask, 1U);
  EXPECT_EQ(board.kernel().gpio_levels(), (std::vector<bool>{true, false, true}));
}

TEST(BoardRequests, GoToTheAddressAndLineTheOptionsName) {
  FakeBoard board("zq3101");
  board.options().address = 0x2C;
  board.options().gpio_line = 17;
  ASSERT_EQ(board.run(), BoardRun::Outcome::incomplete);
  for (const auto& r : board.ioctls(ioctl_i2c_rdwr)) {
    for (const auto& m : r.messages) {
      EXPECT_EQ(m.addr, 0x2C);
    }
  }
  const auto request = board.ioctls(GPIO_V2_GET_LINE_IOCTL);
  ASSERT_EQ(request.size(), 1U);
  EXPECT_EQ(request[0].line_request.offsets[0], 17U);
  // Nothing lives at 0x2C on this board.
  EXPECT_EQ(board.result().verdict().rfind("not complete: nothing answered at 0x2C on /dev/i2c-5", 0), 0U)
      << board.result().verdict();
}

// ---------------------------------------------------------------------------
// Failures on the bus: the driver logs them, the run says so.

// What a controller gives when nothing answers depends on the controller:
// ENXIO or EREMOTEIO on most, ETIMEDOUT on QEMU's i.MX model.
class BoardAbsentChip : public ::testing::TestWithParam<int> {};

TEST_P(BoardAbsentChip, NothingAnsweredIsSaidWithoutAHeldLineHint) {
  FakeBoard board("absent");
  board.kernel().nack_errno = GetParam();
  ASSERT_EQ(board.run(), BoardRun::Outcome::incomplete);
  const std::string& verdict = board.result().verdict();
  expect_one_line(verdict);
  // Every request the kernel received failed: the count is the kernel's.
  const auto rdwr = board.ioctls(ioctl_i2c_rdwr);
  EXPECT_TRUE(std::all_of(rdwr.begin(), rdwr.end(), [](const auto& r) { return r.result == -GetParam(); }));
  EXPECT_EQ(verdict, "not complete: nothing answered at 0x5A on /dev/i2c-5: all " + std::to_string(rdwr.size()) +
                         " transfers failed (" + murvane_board::errno_name(GetParam()) +
                         "); is the chip powered, wired to this bus and at this address?");
  EXPECT_EQ(verdict.find("held"), std::string::npos) << verdict;
  const std::vector<std::string> log = board.log();
  EXPECT_TRUE(has_line(log, "Read addr:0x0 error:" + std::to_string(GetParam()) + "\n"));
  EXPECT_TRUE(has_line(log, "Murvane: func init error\n"));
  // Both passes of the identification reset the (absent) chip.
  EXPECT_EQ(board.kernel().chip_reset_pulses(), 2U);
  board.expect_released();
}

INSTANTIATE_TEST_SUITE_P(Errno, BoardAbsentChip, ::testing::Values(ENXIO, EREMOTEIO, ETIMEDOUT),
                         [](const auto& p) { return murvane_board::errno_name(p.param); });

struct BusyBus {
  const char* name;
  int error;
  const char* text;
};

class BoardBusyBus : public ::testing::TestWithParam<BusyBus> {};

TEST_P(BoardBusyBus, OneFailedTransferMakesNoCleanBringUp) {
  // The first identifier read fails; the driver's second pass identifies
  // the chip and goes to its end, and still the run is not complete.
  FakeBoard board("zq3101");
  const int error = GetParam().error;
  board.kernel().fail_transfer = [error](uint64_t index, const auto&) { return index == 1 ? error : 0; };
  ASSERT_EQ(board.run(), BoardRun::Outcome::incomplete);
  const std::vector<std::string> log = board.log();
  EXPECT_TRUE(has_line(log, "Read addr:0x0 error:" + std::to_string(GetParam().error) + "\n"));
  EXPECT_TRUE(has_line(log, "Murvane: zq uefi driver end\n"));
  const std::string& verdict = board.result().verdict();
  expect_one_line(verdict);
  EXPECT_EQ(verdict.rfind("not complete: 1 of ", 0), 0U) << verdict;
  EXPECT_EQ(verdict, failed_transfers_verdict(board, GetParam().text));
  EXPECT_NE(verdict.find("the first, transfer 1 (read of register 0x00): "), std::string::npos) << verdict;
  board.expect_released();
}

INSTANTIATE_TEST_SUITE_P(Errno, BoardBusyBus,
                         ::testing::Values(BusyBus{"EAGAIN", EAGAIN, "EAGAIN: bus busy or arbitration lost"},
                                           BusyBus{"ETIMEDOUT", ETIMEDOUT,
                                                   "ETIMEDOUT: the transfer timed out (a held clock or data line?)"},
                                           BusyBus{"EIO", EIO, "EIO: Input/output error"}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(BoardBus, ShortTransactionIsAFailedTransfer) {
  // An adapter that made only the first message of a read did not read.
  FakeBoard board("zq3101");
  ModelSystem& kernel = board.kernel();
  Overriding short_kernel(kernel, [](ModelSystem& k, int fd, unsigned long request, void* arg) {
    const int r = k.ioctl(fd, request, arg);
    return request == ioctl_i2c_rdwr && r == 2 ? 1 : r;
  });
  murvane_board::RunOptions o;
  o.yes = true;
  BoardRun run(short_kernel, o);
  ASSERT_EQ(run.run(), BoardRun::Outcome::incomplete);
  EXPECT_EQ(run.family(), "");
  EXPECT_NE(run.verdict().find("EIO"), std::string::npos) << run.verdict();
  EXPECT_TRUE(kernel.open_descriptors().empty());
}

// ---------------------------------------------------------------------------
// What the chip says back.

TEST(BoardChip, UnknownIdentifierIsNamed) {
  FakeBoard board("zq3101");
  board.chip().set_chip_id(0x42);
  ASSERT_EQ(board.run(), BoardRun::Outcome::incomplete);
  EXPECT_EQ(board.result().verdict(),
            "not complete: the chip's identifier 0x42 is not one Murvane knows (a different chip, or another device "
            "at 0x5A)");
  EXPECT_TRUE(has_line(board.log(), "Murvane: unexpected chipid!\n"));
  board.expect_released();
}

TEST(BoardChip, CalibrationOutOfRangeIsNoCleanBringUp) {
  FakeBoard board("zq3201");
  board.chip().offset_code = 0;
  ASSERT_EQ(board.run(), BoardRun::Outcome::incomplete);
  EXPECT_EQ(board.result().verdict().rfind("not complete: the zq3201's offset calibration failed", 0), 0U)
      << board.result().verdict();
  EXPECT_TRUE(has_line(board.log(), "Murvane: offset calibration out of range\n"));
}

// ---------------------------------------------------------------------------
// The report's summary and its one-line verdict, as a board engineer reads
// them: every figure from what the simulated kernel saw, not from the trace.

// The summary's lines, after "== Summary ==".
std::vector<std::string> summary_of(const BoardRun& run) {
  std::ostringstream out;
  run.write_report(out, run.family(), "");
  const std::string text = out.str();
  const std::string head = "\n== Summary ==\n";
  const size_t at = text.find(head);
  EXPECT_NE(at, std::string::npos) << text;
  std::vector<std::string> lines;
  std::istringstream in(at == std::string::npos ? "" : text.substr(at + head.size()));
  std::string line;
  while (std::getline(in, line)) {
    lines.push_back(line);
  }
  EXPECT_EQ(text.back(), '\n');
  return lines;
}

std::string tenths(double v) {
  char buf[32];
  static_cast<void>(std::snprintf(buf, sizeof buf, "%.1f", v));
  return buf;
}

// The summary's lines from the board line to the verdict, built from what
// the kernel saw: its I2C_RDWR requests (two messages: a read), its sleeps,
// its clock at the end.
struct KernelFigures {
  size_t reads = 0;
  size_t writes = 0;
  uint64_t slept_us = 0;
  size_t sleeps = 0;
};

KernelFigures figures_of(FakeBoard& board) {
  KernelFigures f;
  for (const auto& r : board.ioctls(ioctl_i2c_rdwr)) {
    (r.messages.size() == 2 ? f.reads : f.writes) += 1;
  }
  for (const std::string& r : board.kernel().requests()) {
    unsigned long long us = 0;
    if (std::sscanf(r.c_str(), "sleep %llu us", &us) == 1) {
      f.slept_us += us;
      ++f.sleeps;
    }
  }
  return f;
}

std::vector<std::string> expected_summary(FakeBoard& board, const std::string& driver, const std::string& failed,
                                          const std::string& verdict) {
  const KernelFigures f = figures_of(board);
  return {"board         /dev/i2c-5, address 0x5A (plain I2C); reset line 30 of /dev/gpiochip0",
          "driver        " + driver,
          "calls         entry -> Success, returned after " +
              tenths(static_cast<double>(board.kernel().now_ns()) / 1000.0) + " us",
          "transfers     " + std::to_string(f.reads) + " reads, " + std::to_string(f.writes) + " writes, " + failed,
          "waits         " + std::to_string(f.slept_us) + " us asked in " + std::to_string(f.sleeps) + " waits, " +
              std::to_string(f.slept_us) + ".0 us slept (longest overrun 0.0 us)",
          "bring-up      " + verdict};
}

std::string family_of(const std::string& model) { return sim::make_model(model)->info().family_name; }

TEST_P(BoardPerFamily, CompleteRunSummaryIsWhatTheKernelSaw) {
  FakeBoard board(GetParam());
  ASSERT_EQ(board.run(), BoardRun::Outcome::complete);
  EXPECT_GT(board.kernel().now_ns(), 1000000U);
  EXPECT_EQ(summary_of(board.result()),
            expected_summary(board, "selected family " + family_of(GetParam()), "0 failed",
                             "complete: the chip identified itself as " + GetParam() +
                                 ", the driver reached its end (waveform written, playback started), every "
                                 "transfer acknowledged"));
}

TEST_P(BoardPerFamily, SmbusAdapterIsNamedSo) {
  FakeBoard board(GetParam());
  board.kernel().functions = I2C_FUNC_SMBUS_READ_BYTE_DATA | I2C_FUNC_SMBUS_WRITE_BYTE_DATA;
  ASSERT_EQ(board.run(), BoardRun::Outcome::complete);
  EXPECT_EQ(summary_of(board.result()).at(0),
            "board         /dev/i2c-5, address 0x5A (SMBus byte data); reset line 30 of /dev/gpiochip0");
}

// A driver that stops early on a healthy bus: an unqualified part of each
// family that checks qualification. Every transfer was acknowledged, and
// still this is no bring-up.
std::vector<std::string> qualifying_models() {
  std::vector<std::string> out;
  for (const sim::family_id f : sim::all_families) {
    if (sim::facts_of(f).qualification.mask != 0) {
      out.emplace_back(sim::first_model_of(f).name);
    }
  }
  return out;
}

class BoardStopsEarly : public ::testing::TestWithParam<std::string> {};

TEST_P(BoardStopsEarly, UnqualifiedChipOnAHealthyBusIsNoBringUp) {
  FakeBoard board(GetParam());
  const auto& q = sim::facts_of(sim::find_model_info(GetParam().c_str())->family).qualification;
  board.chip().set_stuck(q.reg, static_cast<uint8_t>(board.chip().reg(q.reg) & ~q.mask));
  ASSERT_EQ(board.run(), BoardRun::Outcome::incomplete);
  const std::vector<std::string> log = board.log();
  ASSERT_TRUE(has_line(log, "Murvane: qualify check failed\n"));
  EXPECT_TRUE(board.result().board().failures().empty());
  const std::string family = family_of(GetParam());
  const std::string verdict =
      "not complete: the chip failed the driver's qualification check, so it left the " + family + " chip unprogrammed";
  EXPECT_EQ(board.result().verdict(), verdict);
  EXPECT_EQ(summary_of(board.result()), expected_summary(board, "selected family " + family, "0 failed", verdict));
  board.expect_released();
}

INSTANTIATE_TEST_SUITE_P(Qualifying, BoardStopsEarly, ::testing::ValuesIn(qualifying_models()),
                         [](const auto& p) { return p.param; });

TEST(BoardSummary, AbsentChipSaysNoFamilyAndEveryFailure) {
  FakeBoard board("absent");
  ASSERT_EQ(board.run(), BoardRun::Outcome::incomplete);
  EXPECT_EQ(summary_of(board.result()),
            expected_summary(board, "no family selected (no identifier read)", "2 failed (2 ENXIO)",
                             "not complete: nothing answered at 0x5A on /dev/i2c-5: all 2 transfers failed "
                             "(ENXIO); is the chip powered, wired to this bus and at this address?"));
}

TEST(BoardSummary, UnknownIdentifierIsQuoted) {
  FakeBoard board("zq3101");
  board.chip().set_chip_id(0x42);
  ASSERT_EQ(board.run(), BoardRun::Outcome::incomplete);
  EXPECT_EQ(summary_of(board.result()),
            expected_summary(board, "no family selected (identifier read: 0x0042)", "0 failed",
                             "not complete: the chip's identifier 0x42 is not one Murvane knows (a different chip, "
                             "or another device at 0x5A)"));
}

TEST(BoardSummary, FailedTransfersAreCountedByErrno) {
  FakeBoard board("zq3101");
  board.kernel().fail_transfer = [](uint64_t index, const auto&) {
    return index == 1 ? EAGAIN : index == 40 ? EIO : 0;
  };
  ASSERT_EQ(board.run(), BoardRun::Outcome::incomplete);
  const std::vector<std::string> lines = summary_of(board.result());
  ASSERT_EQ(lines.size(), 6U);
  EXPECT_EQ(lines[3], expected_summary(board, "", "2 failed (1 EIO, 1 EAGAIN)", "")[3]);
  EXPECT_EQ(lines[5].rfind("bring-up      not complete: 2 of ", 0), 0U) << lines[5];
  EXPECT_EQ(lines[5], "bring-up      " + failed_transfers_verdict(board, "EAGAIN: bus busy or arbitration lost"));
  EXPECT_EQ(board.result().verdict(), lines[5].substr(14));
}

// The waits as measured: a kernel whose sleeps run 7 us long.
class OversleepingKernel final : public murvane_board::System {
 public:
  explicit OversleepingKernel(ModelSystem& kernel) : kernel_(kernel) {}
  int open(const std::string& path) override { return kernel_.open(path); }
  int ioctl(int fd, unsigned long request, void* arg) override { return kernel_.ioctl(fd, request, arg); }
  void close(int fd) override { kernel_.close(fd); }
  void sleep_us(uint64_t us) override {
    kernel_.sleep_us(us);
    extra_ns_ += 7000;
  }
  uint64_t now_ns() override { return kernel_.now_ns() + extra_ns_; }
  bool exists(const std::string& path) override { return kernel_.exists(path); }
  bool confirm(const std::string& question) override { return kernel_.confirm(question); }

 private:
  ModelSystem& kernel_;
  uint64_t extra_ns_ = 0;
};

TEST(BoardSummary, WaitsAreReportedAsSleptNotAsAsked) {
  FakeBoard board("zq3101");
  OversleepingKernel slow(board.kernel());
  murvane_board::RunOptions o;
  o.yes = true;
  BoardRun run(slow, o);
  ASSERT_EQ(run.run(), BoardRun::Outcome::complete);
  const KernelFigures f = figures_of(board);
  ASSERT_GT(f.sleeps, 0U);
  EXPECT_EQ(summary_of(run).at(4),
            "waits         " + std::to_string(f.slept_us) + " us asked in " + std::to_string(f.sleeps) + " waits, " +
                std::to_string(f.slept_us + 7 * f.sleeps) + ".0 us slept (longest overrun 7.0 us)");
}

TEST(BoardSummary, BusDescriptorZeroIsABus) {
  // Standard input closed: the kernel hands the bus descriptor 0.
  FakeBoard board("zq3101");
  board.kernel().set_next_descriptor(0);
  ASSERT_EQ(board.run(), BoardRun::Outcome::complete) << board.refusal();
  const auto rdwr = board.ioctls(ioctl_i2c_rdwr);
  ASSERT_FALSE(rdwr.empty());
  EXPECT_EQ(rdwr.front().fd, 0);
  board.expect_released();
}

// ---------------------------------------------------------------------------
// Refusals: found before anything is driven, one line, everything released.

struct Refused {
  const char* name;
  std::function<void(FakeBoard&)> arrange;
  const char* line;
};

class BoardRefuses : public ::testing::TestWithParam<Refused> {};

TEST_P(BoardRefuses, BeforeAnythingIsDriven) {
  FakeBoard board("zq3101");
  GetParam().arrange(board);
  EXPECT_EQ(board.run(false), std::nullopt);
  EXPECT_EQ(board.refusal(), GetParam().line);
  expect_one_line(board.refusal());
  EXPECT_TRUE(board.kernel().questions().empty());
  EXPECT_TRUE(board.ioctls(ioctl_i2c_rdwr).empty());
  EXPECT_TRUE(board.ioctls(GPIO_V2_LINE_SET_CONFIG_IOCTL).empty());
  EXPECT_TRUE(board.ioctls(GPIO_V2_LINE_SET_VALUES_IOCTL).empty());
  EXPECT_TRUE(board.kernel().gpio_levels().empty());
  board.expect_released();
}

INSTANTIATE_TEST_SUITE_P(
    Board, BoardRefuses,
    ::testing::Values(
        Refused{"BoundKernelDriver", [](FakeBoard& b) { b.kernel().bound_addresses = {0x5A}; },
                "a kernel driver is bound to 0x5A on /dev/i2c-5 (/sys/bus/i2c/devices/5-005a/driver): unbind it "
                "first, so that two drivers do not drive one chip"},
        Refused{"BusyGpioLine", [](FakeBoard& b) { b.kernel().busy_lines = {30}; },
                "the reset line (line 30 of /dev/gpiochip0) is busy: another driver or program holds it"},
        Refused{"NoBusDevice", [](FakeBoard& b) { b.options().bus = "/dev/i2c-9"; },
                "cannot open /dev/i2c-9: ENOENT: No such file or directory (is the bus enabled and the i2c-dev "
                "module loaded? `ls /dev/i2c-*`)"},
        Refused{"BusNotNamedByNumber", [](FakeBoard& b) { b.options().bus = "/dev/haptic-bus"; },
                "/dev/haptic-bus is not an i2c-dev device (/dev/i2c-N): give the chip's bus by that name, so that "
                "no kernel driver that owns 0x5A on it is missed"},
        Refused{"NoGpioChip", [](FakeBoard& b) { b.options().gpio_chip = "/dev/gpiochip7"; },
                "cannot open /dev/gpiochip7: ENOENT: No such file or directory (no such GPIO chip: list them with "
                "`ls /dev/gpiochip*`)"},
        Refused{"NoSuchLine", [](FakeBoard& b) { b.options().gpio_line = 54; },
                "/dev/gpiochip0 (model-gpio) has 54 lines: there is no line 54"},
        Refused{"AdapterAbilitiesUnknown", [](FakeBoard& b) { b.kernel().ioctl_errno[ioctl_i2c_funcs] = ENOTTY; },
                "/dev/i2c-5 is not an i2c-dev device: it does not answer I2C_FUNCS (ENOTTY: Inappropriate ioctl "
                "for device)"},
        Refused{"GpioChipInfoFails", [](FakeBoard& b) { b.kernel().ioctl_errno[GPIO_GET_CHIPINFO_IOCTL] = ENOTTY; },
                "cannot ask /dev/gpiochip0 about its lines (GPIO_GET_CHIPINFO_IOCTL): ENOTTY: Inappropriate ioctl "
                "for device (is it a GPIO character device?)"},
        Refused{"LineRequestFails", [](FakeBoard& b) { b.kernel().ioctl_errno[GPIO_V2_GET_LINE_IOCTL] = EIO; },
                "cannot request the reset line (line 30 of /dev/gpiochip0): EIO: Input/output error"},
        Refused{"NeitherI2cNorSmbus", [](FakeBoard& b) { b.kernel().functions = I2C_FUNC_SMBUS_QUICK; },
                "the adapter of /dev/i2c-5 can make neither plain I2C transfers nor SMBus byte-data reads and "
                "writes"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(BoardRefusesSmbus, AddressOwnedByADriverTheKernelKnows) {
  // Without a sysfs entry to see, I2C_SLAVE's EBUSY still stops the run.
  FakeBoard board("zq3101");
  board.kernel().functions = I2C_FUNC_SMBUS_READ_BYTE_DATA | I2C_FUNC_SMBUS_WRITE_BYTE_DATA;
  board.kernel().ioctl_errno[ioctl_i2c_slave] = EBUSY;
  BoardRun run(board.kernel(), murvane_board::RunOptions{});
  try {
    static_cast<void>(run.run());
    ADD_FAILURE() << "ran on an owned address";
  } catch (const murvane_board::Refusal& r) {
    EXPECT_STREQ(r.what(),
                 "a kernel driver owns 0x5A on /dev/i2c-5 (I2C_SLAVE: EBUSY: Device or resource busy): unbind it "
                 "first");
  }
  EXPECT_TRUE(board.kernel().open_descriptors().empty());
  EXPECT_TRUE(board.kernel().questions().empty());
}

// ---------------------------------------------------------------------------
// The question before the run, and a reset line that fails.

TEST(BoardQuestion, SaysWhatGoesWhereAndANoSendsNothing) {
  FakeBoard board("zq3101");
  board.kernel().answer = false;
  ASSERT_EQ(board.run(false), BoardRun::Outcome::declined);
  ASSERT_EQ(board.kernel().questions().size(), 1U);
  const std::string& q = board.kernel().questions()[0];
  for (const char* part :
       {"line 30 of /dev/gpiochip0", "address 0x5A on /dev/i2c-5", "146-byte waveform", "Continue? [y/N] "}) {
    EXPECT_NE(q.find(part), std::string::npos) << part << " in:\n" << q;
  }
  EXPECT_EQ(board.result().verdict(), "not confirmed: nothing was sent to the chip");
  EXPECT_TRUE(board.ioctls(ioctl_i2c_rdwr).empty());
  EXPECT_TRUE(board.kernel().gpio_levels().empty());
  EXPECT_TRUE(board.result().events().empty());
  board.expect_released();
}

TEST(BoardQuestion, AYesRunsTheBringUp) {
  FakeBoard board("zq3101");
  ASSERT_EQ(board.run(false), BoardRun::Outcome::complete);
  EXPECT_EQ(board.kernel().questions().size(), 1U);
}

TEST(BoardResetLine, AnOutputRefusedAfterTheYesDrivesNothing) {
  FakeBoard board("zq3101");
  board.kernel().ioctl_errno[GPIO_V2_LINE_SET_CONFIG_IOCTL] = EPERM;
  EXPECT_EQ(board.run(false), std::nullopt);
  EXPECT_EQ(board.refusal(),
            "cannot drive the reset line (line 30 of /dev/gpiochip0) as an output: EPERM: Operation not permitted");
  EXPECT_EQ(board.kernel().questions().size(), 1U);
  EXPECT_TRUE(board.kernel().gpio_levels().empty());
  EXPECT_TRUE(board.ioctls(ioctl_i2c_rdwr).empty());
  board.expect_released();
}

TEST(BoardResetLine, ALevelThatCannotBeSetIsNoBringUp) {
  FakeBoard board("zq3101");
  board.kernel().set_values_errno = EIO;
  ASSERT_EQ(board.run(), BoardRun::Outcome::incomplete);
  EXPECT_EQ(board.result().verdict(),
            "not complete: the reset line (line 30 of /dev/gpiochip0) could not be driven (EIO: Input/output "
            "error), so the chip was not reset");
  board.expect_released();
}

// ---------------------------------------------------------------------------
// The built command: the dry run beside murvane-sim, its lines and exits.

fs::path work_dir() {
  static const murvane_test::WorkDir dir("murvane-board-test");
  return dir.path();
}

// ---------------------------------------------------------------------------
// The Linux system layer itself, without hardware: the question, the waits
// and the clock, a device the user may not open, and what a refusal leaves.

struct Answer {
  const char* name;
  const char* input;  // what the person typed, line end included
  bool yes;
};

class LinuxQuestion : public ::testing::TestWithParam<Answer> {};

TEST_P(LinuxQuestion, OnlyYOrYesIsAYes) {
  std::istringstream answers(GetParam().input);
  std::ostringstream prompts;
  murvane_board::LinuxSystem linux_system(answers, prompts);
  EXPECT_EQ(linux_system.confirm("Continue? [y/N] "), GetParam().yes);
  EXPECT_EQ(prompts.str().rfind("Continue? [y/N] ", 0), 0U) << prompts.str();
}

INSTANTIATE_TEST_SUITE_P(Answers, LinuxQuestion,
                         ::testing::Values(Answer{"EndOfInput", "", false}, Answer{"EmptyLine", "\n", false},
                                           Answer{"N", "n\n", false}, Answer{"No", "no\n", false},
                                           Answer{"YesWithoutLineEnd", "yes", true}, Answer{"Yess", "yess\n", false},
                                           Answer{"Ok", "ok\n", false}, Answer{"YThenMore", "y please\n", false},
                                           Answer{"Y", "y\n", true}, Answer{"Yes", "yes\n", true},
                                           Answer{"UpperY", "Y\n", true}, Answer{"YesFromATerminal", "yes\r\n", true}),
                         [](const auto& p) { return std::string(p.param.name); });

uint64_t monotonic_ns() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<uint64_t>(t.tv_sec) * 1000000000 + static_cast<uint64_t>(t.tv_nsec);
}

TEST(LinuxClock, AWaitLastsAtLeastWhatWasAskedOnTheMonotonicClock) {
  murvane_board::LinuxSystem linux_system;
  for (const uint64_t us : {1U, 300U, 2500U}) {
    const uint64_t before = monotonic_ns();
    const uint64_t own_before = linux_system.now_ns();
    linux_system.sleep_us(us);
    const uint64_t own_after = linux_system.now_ns();
    const uint64_t after = monotonic_ns();
    // Its clock is the monotonic one: read between two readings of it.
    EXPECT_LE(before, own_before);
    EXPECT_LE(own_after, after);
    EXPECT_GE(own_after - own_before, us * 1000) << us << " us asked";
  }
}

// A device file the user may not open: as root, a child that gives up root
// first; the child runs the board's opening and hands back its refusal.
std::string refusal_without_permission(const std::string& bus) {
  const std::optional<murvane_test::ChildRun> child = murvane_test::run_in_child([&bus] {
    std::string said = "cannot give up root";
    if (geteuid() != 0 || setuid(65534) == 0) {
      said = "no refusal";
      murvane_board::LinuxSystem linux_system;
      BoardOptions o = murvane_board::default_board_options();
      o.bus = bus;
      murvane_board::Board board(linux_system, o);
      try {
        board.open();
      } catch (const murvane_board::Refusal& r) {
        said = r.what();
      }
    }
    return said;
  });
  return child ? child->out : "no pipe";
}

TEST(LinuxDevice, NoPermissionGetsTheGroupHint) {
  const fs::path bus = work_dir() / "i2c-6";
  std::ofstream(bus).put('x');
  ASSERT_EQ(chmod(bus.c_str(), 0600), 0);
  if (geteuid() != 0) {
    ASSERT_EQ(chmod(bus.c_str(), 0000), 0);
  }
  // The child (no longer root) must reach the file to be refused it.
  ASSERT_EQ(chmod(work_dir().c_str(), 0755), 0);
  const std::string said = refusal_without_permission(bus.string());
  if (said == "cannot give up root") {
    GTEST_SKIP() << "running as root without the right to change user: no permission can be refused here";
  }
  EXPECT_EQ(said, "cannot open " + bus.string() + ": EACCES: Permission denied (run as root, or join the i2c group)");
}

size_t open_descriptors() {
  size_t n = 0;
  for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
    static_cast<void>(entry);
    ++n;
  }
  return n;
}

// The real system calls, with the adapter's I2C_FUNCS answered as a plain
// I2C adapter's: the refusals after the bus is open.
class PlainI2cOnAnyFile final : public murvane_board::System {
 public:
  int open(const std::string& path) override { return real_.open(path); }
  int ioctl(int fd, unsigned long request, void* arg) override {
    if (request == ioctl_i2c_funcs) {
      *static_cast<unsigned long*>(arg) = I2C_FUNC_I2C;
      return 0;
    }
    return real_.ioctl(fd, request, arg);
  }
  void close(int fd) override { real_.close(fd); }
  void sleep_us(uint64_t us) override { real_.sleep_us(us); }
  uint64_t now_ns() override { return real_.now_ns(); }
  bool exists(const std::string& path) override { return real_.exists(path); }
  bool confirm(const std::string&) override { return false; }

 private:
  murvane_board::LinuxSystem real_;
};

TEST(LinuxDevice, ARefusalLeavesNothingOpen) {
  // A file named like a bus that is no i2c-dev device, then a bus and a
  // "GPIO chip" that is no GPIO character device.
  const fs::path bus = work_dir() / "i2c-8";
  std::error_code ignored;
  fs::create_symlink("/dev/null", bus, ignored);
  BoardOptions o = murvane_board::default_board_options();
  o.bus = bus.string();
  o.gpio_chip = "/dev/null";
  const size_t before = open_descriptors();
  {
    murvane_board::LinuxSystem linux_system;
    murvane_board::Board board(linux_system, o);
    EXPECT_THROW(board.open(), murvane_board::Refusal);
    EXPECT_EQ(open_descriptors(), before);
  }
  {
    PlainI2cOnAnyFile system;
    murvane_board::Board board(system, o);
    try {
      board.open();
      ADD_FAILURE() << "/dev/null taken for a GPIO chip";
    } catch (const murvane_board::Refusal& r) {
      EXPECT_EQ(std::string(r.what()).rfind("cannot ask /dev/null about its lines", 0), 0U) << r.what();
    }
    EXPECT_EQ(open_descriptors(), before);
  }
}

// --call: the family's operations after the bring-up, through the driver's
// own table, with what the driver concluded.

// "170.0 Hz" from the driver's tenths of a hertz.
std::string hertz(uint32_t tenths) { return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " Hz"; }

std::string summary_line(const std::vector<std::string>& summary, const std::string& head) {
  for (const std::string& line : summary) {
    if (line.rfind(head, 0) == 0) {
      return line;
    }
  }
  return "(no line " + head + ")";
}

// The transfers a healthy bring-up of the model makes, counted by the kernel.
uint64_t bring_up_transfers(const std::string& model) {
  FakeBoard board(model);
  EXPECT_EQ(board.run(), BoardRun::Outcome::complete);
  return board.ioctls(ioctl_i2c_rdwr).size();
}

// A register read of reg (two messages: the register byte, one byte back).
bool reads(const std::vector<murvane_board::BusMessage>& messages, uint8_t reg) {
  return messages.size() == 2 && !messages[0].bytes.empty() && messages[0].bytes[0] == reg;
}

class BoardCalls : public ::testing::TestWithParam<std::string> {};

// The f0 printed is the driver's own result: an actuator at 165.0 Hz gives
// what the driver stored, not the 170.0 Hz the family's record expects.
TEST_P(BoardCalls, GetF0PrintsTheDriversMeasurement) {
  FakeBoard board(GetParam());
  board.chip().lra_f0 = 1650;
  board.calls = {{"get_f0", {}}, {"stop", {}}};
  ASSERT_EQ(board.run(), BoardRun::Outcome::complete) << board.result().calls_verdict();
  const uint32_t measured = murvane::haptic_dev.lra_f0;
  EXPECT_NE(measured, 1700U);
  EXPECT_NEAR(static_cast<double>(measured), 1650.0, 5.0);
  const std::vector<std::string> summary = summary_of(board.result());
  EXPECT_EQ(summary_line(summary, "f0 "), "f0            " + hertz(measured) + ", measured (the driver's lra_f0: " +
                                              std::to_string(measured) + ", in 0.1 Hz)");
  EXPECT_EQ(summary_line(summary, "              get_f0"), "              get_f0 -> 0");
  EXPECT_EQ(summary_line(summary, "              stop"), "              stop -> 0");
  EXPECT_EQ(board.result().calls_verdict(), "");
  // Each call is in the trace as murvane-sim traces one.
  std::vector<std::string> called;
  for (const sim::Event& e : board.result().events()) {
    if (e["ev"] == "call" || e["ev"] == "return") {
      called.push_back(e["ev"].get<std::string>() + " " + e["fn"].get<std::string>() +
                       (e.contains("value") ? " " + e["value"].dump() : ""));
    }
  }
  EXPECT_EQ(called, (std::vector<std::string>{"call entry", "return entry", "call slot:get_f0", "return slot:get_f0 0",
                                              "call slot:stop", "return slot:stop 0"}));
  board.expect_released();
}

// A failed read of the measured period: the driver's zero-period path, said
// so instead of a frequency, and the run is not complete.
TEST_P(BoardCalls, FailedPeriodReadIsNoMeasurement) {
  const uint8_t period_lo = sim::facts_of(sim::find_model_info(GetParam().c_str())->family).period_lo;
  FakeBoard board(GetParam());
  board.calls = {{"get_f0", {}}};
  board.kernel().fail_transfer = [period_lo](uint64_t, const auto& messages) {
    return reads(messages, period_lo) ? EIO : 0;
  };
  ASSERT_EQ(board.run(), BoardRun::Outcome::incomplete);
  EXPECT_EQ(murvane::haptic_dev.lra_f0, 0U);
  EXPECT_TRUE(has_line(board.log(), "Murvane: lra_f0 is error, f0_reg=0\n"));
  const std::string line = summary_line(summary_of(board.result()), "f0 ");
  EXPECT_EQ(line.rfind("f0            not measured: the measurement gave no period (the driver's zero-period path", 0),
            0U)
      << line;
  EXPECT_EQ(board.result().calls_verdict().rfind("get_f0: not measured: ", 0), 0U) << board.result().calls_verdict();
  board.expect_released();
}

// The chip's state cannot be read once the calls begin: the families with a
// time-out path take it (the expected f0 kept), the others read no usable
// period; never a frequency.
TEST_P(BoardCalls, UnreadableStateDuringTheMeasurementIsNoMeasurement) {
  const uint64_t bring_up = bring_up_transfers(GetParam());
  const uint8_t state_reg = sim::facts_of(sim::find_model_info(GetParam().c_str())->family).state_reg;
  FakeBoard board(GetParam());
  board.calls = {{"get_f0", {}}};
  board.kernel().fail_transfer = [bring_up, state_reg](uint64_t index, const auto& messages) {
    return index > bring_up && reads(messages, state_reg) ? ETIMEDOUT : 0;
  };
  ASSERT_EQ(board.run(), BoardRun::Outcome::incomplete);
  const bool zero_period = has_line(board.log(), "Murvane: lra_f0 is error, f0_reg=0\n");
  const std::string line = summary_line(summary_of(board.result()), "f0 ");
  const std::string want =
      zero_period ? "f0            not measured: the measurement gave no period (the driver's zero-period path"
                  : "f0            not measured: the measurement did not finish (the driver's time-out path); lra_f0 "
                    "keeps the expected 170.0 Hz";
  EXPECT_EQ(line.rfind(want, 0), 0U) << line;
  EXPECT_EQ(murvane::haptic_dev.lra_f0, zero_period ? 0U : 1700U);
  if (GetParam() == one_per_family.front()) {
    EXPECT_FALSE(zero_period) << "zq310x's measurement ends on its time-out when its state cannot be read";
  }
  board.expect_released();
}

INSTANTIATE_TEST_SUITE_P(OnePerFamily, BoardCalls, ::testing::ValuesIn(one_per_family),
                         [](const auto& p) { return p.param; });

TEST(BoardCallsNotRun, NoFamilyNoCallAndTheRunIsNotComplete) {
  FakeBoard board("absent");
  board.calls = {{"get_f0", {}}, {"stop", {}}};
  ASSERT_EQ(board.run(), BoardRun::Outcome::incomplete);
  EXPECT_EQ(board.result().calls_verdict(), "--call: not run: the bring-up selected no chip family");
  for (const sim::Event& e : board.result().events()) {
    if (e["ev"] == "call") {
      EXPECT_EQ(e["fn"], "entry") << e.dump();
    }
  }
  EXPECT_EQ(summary_line(summary_of(board.result()), "              get_f0"),
            "              get_f0, stop: not run (no family selected)");
  board.expect_released();
}

// The question names the calls, and those that move the actuator say so.
TEST(BoardCallsQuestion, NamesTheCallsAndWhatMovesTheActuator) {
  FakeBoard board("zq3101");
  board.kernel().answer = false;
  board.calls = {{"set_gain", {0x80}}, {"get_f0", {}}, {"set_go", {1}}, {"stop", {}}};
  ASSERT_EQ(board.run(false), BoardRun::Outcome::declined);
  ASSERT_EQ(board.kernel().questions().size(), 1U);
  const std::string& q = board.kernel().questions()[0];
  EXPECT_NE(q.find("  then:      the family's operations, in order: set_gain:128, get_f0 (drives the actuator to "
                   "measure its resonant frequency), set_go:1 (plays the sequence loaded: the actuator vibrates), "
                   "stop\n"),
            std::string::npos)
      << q;
  EXPECT_LT(q.find("then:"), q.find("Continue? [y/N] "));
  EXPECT_TRUE(board.ioctls(ioctl_i2c_rdwr).empty());
  board.expect_released();
}

// The command line's names and argument counts are the driver table's, as
// the harness calls it: every slot, with its count, and no other count.
TEST(BoardCallsNames, EverySlotWithItsArgumentCount) {
  for (const char* name : murvane::haptic_ops_names) {
    const int arity = host::slot_arity(host::slot_index(name));
    std::string word = name;
    for (int i = 0; i < arity; ++i) {
      word += (i == 0 ? ":" : ",") + std::to_string(i + 1);
    }
    const std::vector<murvane_tools::SlotCall> calls = murvane_tools::parse_calls({word});
    ASSERT_EQ(calls.size(), 1U);
    EXPECT_EQ(calls[0].name, name);
    EXPECT_EQ(static_cast<int>(calls[0].args.size()), arity) << word;
    EXPECT_EQ(murvane_tools::call_text(calls[0]), word);
    const std::string form = murvane_tools::call_form(name);
    const int named =
        form.find(':') == std::string::npos ? 0 : 1 + static_cast<int>(std::count(form.begin(), form.end(), ','));
    EXPECT_EQ(named, arity) << form;
    EXPECT_THROW(murvane_tools::parse_calls({word + (arity == 0 ? ":1" : ",1")}), murvane_tools::UsageError) << word;
  }
}

#ifdef MURVANE_BOARD_COMMAND

using murvane_test::CommandRun;
using murvane_test::slurp;

CommandRun run_command(const char* command, const std::vector<std::string>& args) {
  return murvane_test::run_command(command, args, work_dir());
}

std::vector<json> jsonl_timeless(const std::string& text) {
  std::vector<json> out;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    json j = json::parse(line);
    j.erase("t_us");
    out.push_back(std::move(j));
  }
  return out;
}

class BoardCommand : public ::testing::TestWithParam<std::string> {};

TEST_P(BoardCommand, DryRunTraceIsMurvaneSimsTimesAsideAndItsVcdPassesTheCaptureCheck) {
  const fs::path board_trace = work_dir() / (GetParam() + "-board.jsonl");
  const fs::path sim_trace = work_dir() / (GetParam() + "-sim.jsonl");
  const fs::path vcd = work_dir() / (GetParam() + "-dry.vcd");
  const CommandRun b = run_command(MURVANE_BOARD_COMMAND, {"--dry-run", "--chip", GetParam(), "--trace",
                                                           board_trace.string(), "--vcd", vcd.string()});
  const CommandRun s = run_command(MURVANE_SIM_COMMAND, {"--chip", GetParam(), "--trace", sim_trace.string()});
  ASSERT_EQ(b.exit_code, 0) << b.err;
  ASSERT_EQ(s.exit_code, 0) << s.err;
  EXPECT_EQ(b.err, "");
  const std::vector<json> board = jsonl_timeless(slurp(board_trace));
  EXPECT_GT(board.size(), 100U);
  EXPECT_EQ(board, jsonl_timeless(slurp(sim_trace)));
  // The report: what would be sent, then the log and the summary.
  EXPECT_NE(b.out.find("ioctl I2C_RDWR 0x5A: write 0x00, read 1 -> "), std::string::npos);
  EXPECT_NE(b.out.find("ioctl GPIO_V2_LINE_SET_VALUES_IOCTL 0 (pin low)"), std::string::npos);
  EXPECT_NE(b.out.find("bring-up      complete: the chip identified itself as " + GetParam()), std::string::npos);
  // The dry run's bus, timed as the virtual platform times it, is the
  // traffic the capture check expects of a healthy chip: murvane-sim's
  // (its own simulation) and murvane-board's.
  for (const char* command : {MURVANE_SIM_COMMAND, MURVANE_BOARD_COMMAND}) {
    const CommandRun c = run_command(command, {"--chip", GetParam(), "--check-capture", vcd.string()});
    EXPECT_EQ(c.exit_code, 0) << command << ": " << c.out << c.err;
    EXPECT_EQ(c.out.rfind("matches: ", 0), 0U) << command << ": " << c.out;
  }
}

// The same calls after the bring-up: the dry run's traffic is murvane-sim's
// with those calls after its entry, and the f0 the chip model measures.
TEST_P(BoardCommand, DryRunCallsAreMurvaneSimsCalls) {
  const fs::path board_trace = work_dir() / (GetParam() + "-calls-board.jsonl");
  const fs::path sim_trace = work_dir() / (GetParam() + "-calls-sim.jsonl");
  const std::vector<std::string> calls = {"--call", "get_f0",        "--call", "stop",
                                          "--call", "set_gain:0x80", "--call", "set_sequence:0,1"};
  std::vector<std::string> board_args = {"--dry-run", "--chip", GetParam(), "--trace", board_trace.string()};
  std::vector<std::string> sim_args = {"--chip", GetParam(), "--trace", sim_trace.string()};
  board_args.insert(board_args.end(), calls.begin(), calls.end());
  sim_args.insert(sim_args.end(), calls.begin(), calls.end());
  const CommandRun b = run_command(MURVANE_BOARD_COMMAND, board_args);
  const CommandRun s = run_command(MURVANE_SIM_COMMAND, sim_args);
  ASSERT_EQ(b.exit_code, 0) << b.err;
  ASSERT_EQ(s.exit_code, 0) << s.err;
  const std::vector<json> board = jsonl_timeless(slurp(board_trace));
  EXPECT_EQ(board, jsonl_timeless(slurp(sim_trace)));
  std::vector<std::string> slots;
  for (const json& e : board) {
    if (e["ev"] == "call" && e["fn"] != "entry") {
      slots.push_back(e["fn"].get<std::string>() + e["args"].dump());
    }
  }
  EXPECT_EQ(slots,
            (std::vector<std::string>{"slot:get_f0[]", "slot:stop[]", "slot:set_gain[128]", "slot:set_sequence[0,1]"}));
  EXPECT_NE(b.out.find("\nf0            170.0 Hz, measured (the driver's lra_f0: 1700, in 0.1 Hz)\n"),
            std::string::npos)
      << b.out;
  EXPECT_NE(b.out.find("\n              set_sequence:0,1 -> 0\n"), std::string::npos) << b.out;
}

INSTANTIATE_TEST_SUITE_P(OnePerFamily, BoardCommand, ::testing::ValuesIn(one_per_family),
                         [](const auto& p) { return p.param; });

TEST(BoardCommandLines, CallsWithNoFamilyAreNotRunAndExit1) {
  const CommandRun r =
      run_command(MURVANE_BOARD_COMMAND, {"--dry-run", "--chip", "absent", "--quiet", "--call", "get_f0"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err.rfind("murvane-board: --call: not run: the bring-up selected no chip family\n"
                        "murvane-board: bring-up not complete: nothing answered at 0x5A",
                        0),
            0U)
      << r.err;
}

TEST(BoardCommandLines, AbsentChipIsOneLineAndExit1) {
  const CommandRun r = run_command(MURVANE_BOARD_COMMAND, {"--dry-run", "--chip", "absent", "--quiet"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err,
            "murvane-board: bring-up not complete: nothing answered at 0x5A on /dev/i2c-5: all 2 transfers failed "
            "(ENXIO); is the chip powered, wired to this bus and at this address?\n");
}

// Another model's traffic departs, at the identifier (families zq310x and
// zq320x differ in what the driver does once identified).
TEST(BoardCommandLines, CaptureOfAnotherModelDeparts) {
  const fs::path vcd = work_dir() / "zq3101-for-zq3201.vcd";
  const CommandRun d =
      run_command(MURVANE_BOARD_COMMAND, {"--dry-run", "--chip", "zq3101", "--vcd", vcd.string(), "--quiet"});
  ASSERT_EQ(d.exit_code, 0) << d.err;
  const CommandRun c = run_command(MURVANE_BOARD_COMMAND, {"--chip", "zq3201", "--check-capture", vcd.string()});
  EXPECT_EQ(c.exit_code, 1) << c.out << c.err;
  EXPECT_EQ(c.out.rfind("departs at transfer ", 0), 0U) << c.out;
  EXPECT_EQ(std::count(c.out.begin(), c.out.end(), '\n'), 1) << c.out;
}

// The version the driver logs, as murvane-sim and murvane-depex print theirs.
TEST(BoardCommandLines, VersionIsTheOneTheDriverLogs) {
  FakeBoard board("zq3101");
  ASSERT_EQ(board.run(), BoardRun::Outcome::complete);
  const std::string first = board.log().at(0);
  const std::string prefix = "Murvane: zq uefi driver version is ";
  ASSERT_EQ(first.rfind(prefix, 0), 0U) << first;
  const CommandRun r = run_command(MURVANE_BOARD_COMMAND, {"--version"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, "murvane-board " + first.substr(prefix.size()));
  EXPECT_EQ(r.err, "");
}

// Help reads as a person writes it: no parser notation in the two options
// that had it.
TEST(BoardCommandLines, HelpNamesTheFormatsAndTheSignalList) {
  for (const char* command : {MURVANE_BOARD_COMMAND, MURVANE_SIM_COMMAND}) {
    const CommandRun r = run_command(command, {"--help"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_NE(r.out.find("--trace-format jsonl|text"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("--capture-signals SCL,SDA[,RST]"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("one comma-separated list"), std::string::npos) << r.out;
    for (const char* parser_word : {"TEXT:{", "Needs:", "x 2", "[Multiple]", "{text,jsonl}"}) {
      EXPECT_EQ(r.out.find(parser_word), std::string::npos) << parser_word << " in " << command;
    }
  }
}

// One wording for both commands: the same mistake gets the same line after
// the command's name.
TEST(BoardCommandLines, BothCommandsWordAMistakeAlike) {
  const auto line_after_name = [](const CommandRun& r, const std::string& command) {
    std::string line = r.err.rfind(command + ": ", 0) == 0 ? r.err.substr(command.size() + 2) : "(" + r.err + ")";
    for (const std::string tail : {" (see --help)\n", "\n"}) {
      if (line.size() >= tail.size() && line.compare(line.size() - tail.size(), tail.size(), tail) == 0) {
        return line.substr(0, line.size() - tail.size());
      }
    }
    return line;
  };
  const fs::path capture = work_dir() / "any.vcd";
  std::ofstream(capture) << "$timescale 1 us $end\n";
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"--chip", "zq31o1", "--check-capture", capture.string()},
           {"--trace", "--quiet"},
           {"--trace"},
           {"--trace-format", "xml", "--trace", "-"},
           {"--trace-format", "text"},
           {"--chp", "zq3101"},
           {"--chip", "zq3101", "--check-capture", capture.string(), "--capture-signals", "SCL"},
           {"--call", "get_fo"},
           {"--call", "set_sequence:1"},
           {"--call", "set_gain:loud"}}) {
    const CommandRun b = run_command(MURVANE_BOARD_COMMAND, args);
    const CommandRun s = run_command(MURVANE_SIM_COMMAND, args);
    EXPECT_EQ(b.exit_code, 2) << args.front() << ": " << b.err;
    EXPECT_EQ(s.exit_code, 2) << args.front() << ": " << s.err;
    EXPECT_EQ(line_after_name(b, "murvane-board"), line_after_name(s, "murvane-sim")) << args.front();
  }
  // "--trace --quiet" took no option for a file name, in either command.
  EXPECT_FALSE(fs::exists("--quiet"));
}

TEST(BoardCommandLines, TraceToStandardOutputIsTheTraceAlone) {
  const CommandRun r = run_command(MURVANE_BOARD_COMMAND, {"--dry-run", "--chip", "zq3401", "--trace", "-"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(jsonl_timeless(r.out).size(), timeless(simulated("zq3401")).size());
}

struct BadOption {
  const char* name;
  std::vector<std::string> args;
  std::string starts;
};

class BoardCommandRefuses : public ::testing::TestWithParam<BadOption> {};

TEST_P(BoardCommandRefuses, WithOneLineAndExit2) {
  const CommandRun r = run_command(MURVANE_BOARD_COMMAND, GetParam().args);
  EXPECT_EQ(r.exit_code, 2) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err.rfind(GetParam().starts, 0), 0U) << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  // In our words, never the option parser's.
  for (const char* parser_words : {"Could not convert", "required", "The following argument", "not in {"}) {
    EXPECT_EQ(r.err.find(parser_words), std::string::npos) << r.err;
  }
  // No option was taken for a file name.
  for (const std::string& arg : GetParam().args) {
    if (arg.rfind("--", 0) == 0) {
      EXPECT_FALSE(fs::exists(arg)) << arg;
      EXPECT_FALSE(fs::exists(work_dir() / arg)) << arg;
    }
  }
}

// The real kernel, without a bus: a missing device, and a file that is no
// i2c-dev device (a link named like one to /dev/null).
const std::string not_a_bus = [] {
  const fs::path link = work_dir() / "i2c-7";
  std::error_code ignored;
  fs::create_symlink("/dev/null", link, ignored);
  return link.string();
}();

const std::string no_folder = (work_dir() / "no-such-folder" / "out").string();

INSTANTIATE_TEST_SUITE_P(
    Options, BoardCommandRefuses,
    ::testing::Values(
        BadOption{"AddressOutOfRange",
                  {"--dry-run", "--address", "0x99"},
                  "murvane-board: --address: \"0x99\" is not a 7-bit device address (0x03 ... 0x77)"},
        BadOption{"NegativeLine",
                  {"--dry-run", "--gpio-line", "-3"},
                  "murvane-board: --gpio-line: \"-3\" is not a line offset"},
        BadOption{"LineNotANumber",
                  {"--dry-run", "--gpio-line", "thirty"},
                  "murvane-board: --gpio-line: \"thirty\" is not a line offset"},
        BadOption{"UnknownModel",
                  {"--dry-run", "--chip", "zq31o1"},
                  "murvane-board: --chip: unknown chip \"zq31o1\" (nearest known name: \"zq3101\""},
        BadOption{"ChipWithoutDryRun", {"--chip", "zq3101"}, "murvane-board: --chip: names the model of a dry run"},
        BadOption{"TraceTakesNoOption",
                  {"--dry-run", "--trace", "--quiet"},
                  "murvane-board: --trace: needs FILE after it (\"--quiet\" is an option)"},
        BadOption{
            "VcdTakesNoOption", {"--vcd", "-y"}, "murvane-board: --vcd: needs FILE after it (\"-y\" is an option)"},
        BadOption{"BusWithoutValue", {"--bus"}, "murvane-board: --bus: needs DEV after it"},
        BadOption{"UnknownOption",
                  {"--dry-run", "--gpio-actve-low"},
                  "murvane-board: --gpio-actve-low: no such option (nearest known name: \"--gpio-active-low\")"},
        BadOption{"TraceFormatUnknown",
                  {"--dry-run", "--trace", "-", "--trace-format", "xml"},
                  "murvane-board: --trace-format: \"xml\" is not a trace format (jsonl or text)"},
        BadOption{"TraceFormatWithoutTrace",
                  {"--dry-run", "--trace-format", "text"},
                  "murvane-board: --trace-format: needs --trace FILE"},
        BadOption{"CaptureSignalsAsWords",
                  {"--chip", "zq3101", "--check-capture", "c.vcd", "--capture-signals", "SCL", "SDA"},
                  "murvane-board: --capture-signals: takes one value (\"SCL\"), and \"SDA\" after it is no option"},
        BadOption{"CaptureSignalsTooMany",
                  {"--chip", "zq3101", "--check-capture", "c.vcd", "--capture-signals", "A,B,C,D"},
                  "murvane-board: --capture-signals: \"A,B,C,D\" is not SCL,SDA or SCL,SDA,RST"},
        // A typo in an output path costs no bring-up: found before the board
        // is opened (the bus here would be refused, later, for what it is).
        BadOption{"TraceInAMissingFolder",
                  {"--bus", not_a_bus, "--yes", "--trace", no_folder},
                  "murvane-board: --trace: cannot write "},
        BadOption{"VcdIsAFolder",
                  {"--bus", not_a_bus, "--yes", "--vcd", "/tmp"},
                  "murvane-board: --vcd: cannot write /tmp: it is a folder"},
        BadOption{"MissingBusDevice",
                  {"--bus", "/nonexistent/i2c-3", "--yes"},
                  "murvane-board: cannot open /nonexistent/i2c-3: ENOENT"},
        // A GPIO chip given for the bus: refused by its name, before
        // anything is opened.
        BadOption{"GpioChipAsBus",
                  {"--bus", "/dev/gpiochip0", "--yes"},
                  "murvane-board: /dev/gpiochip0 is not an i2c-dev device (/dev/i2c-N): give the chip's bus by "
                  "that name"},
        BadOption{"NotAnI2cDevice",
                  {"--bus", not_a_bus, "--yes"},
                  "murvane-board: " + not_a_bus + " is not an i2c-dev device: it does not answer I2C_FUNCS"},
        // A call the driver's table does not have, or not with that count,
        // costs no bring-up either (the bus here does not exist).
        BadOption{"UnknownCall",
                  {"--bus", "/nonexistent/i2c-3", "--yes", "--call", "get_fo"},
                  "murvane-board: --call: no operation \"get_fo\" (nearest known name: \"get_f0\")\n"},
        BadOption{"CallWithoutItsArgument",
                  {"--bus", "/nonexistent/i2c-3", "--yes", "--call", "get_f0", "--call", "set_gain"},
                  "murvane-board: --call: \"set_gain\" takes 1 argument (set_gain:GAIN), got 0\n"},
        BadOption{"CallWithAnArgumentTooMany",
                  {"--bus", "/nonexistent/i2c-3", "--yes", "--call", "stop:1"},
                  "murvane-board: --call: \"stop\" takes 0 arguments (stop), got 1\n"},
        BadOption{"CallArgumentNotANumber",
                  {"--dry-run", "--call", "set_gain:loud"},
                  "murvane-board: --call: \"loud\" is not an argument of set_gain (a number: decimal or 0x)\n"},
        BadOption{"CallArgumentsAsWords",
                  {"--dry-run", "--call", "set_sequence", "0", "1"},
                  "murvane-board: --call: takes one value (\"set_sequence\"), and \"0\" after it is no option"}),
    [](const auto& p) { return std::string(p.param.name); });

#endif  // MURVANE_BOARD_COMMAND

}  // namespace

#endif  // __linux__
