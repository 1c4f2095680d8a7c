// MurvaneBridge on the host: the driver's bus and pin calls as they reach a
// board's EFI_I2C_MASTER_PROTOCOL, EFI_I2C_IO_PROTOCOL and EMBEDDED_GPIO.
// The board is the fake board's bus (testbench/qemu/fake_board/fake_bus.h) with a
// chip model behind it, in a small table of boot services.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bridge/bridge.h"
#include "platform/log.h"
#include "platform/platform.h"
#include "sim/model_factory.h"
#include "sim/models/model_table.h"
#include "testbench/qemu/fake_board/fake_bus.h"
#include "tests/model_lists.h"

namespace {

using namespace murvane::bridge;

// {8F4A2C71-5D3E-4B96-A0C8-7E19D62B4F35}
constexpr EFI_GUID chip_guid = {0x8F4A2C71, 0x5D3E, 0x4B96, {0xA0, 0xC8, 0x7E, 0x19, 0xD6, 0x2B, 0x4F, 0x35}};
constexpr EFI_GUID eeprom_guid = {0x7C2E4B10, 0x39A5, 0x4D8E, {0xB6, 0xF1, 0x0A, 0x9D, 0x3C, 0x5E, 0x2F, 0x47}};
constexpr uint32_t pin_word = 0x200EC1E0;
constexpr UINTN gpio_pin = (2u << 16) | 7u;
constexpr uint32_t chip_address = 0x5A;

settings board(bridge_mode mode, uint32_t master_index = only_master, bool active_low = false) {
  return {mode, master_index, chip_guid, gpio_pin, active_low, 5, 400, pin_word};
}

// One request as the master or device saw it.
struct seen_request {
  UINTN address;                                           // the slave address, or the device's address index
  std::vector<std::pair<UINT32, std::vector<UINT8>>> ops;  // flags, bytes written (or length read)
  bool event;
  bool has_status;
};

struct test_board;
test_board* g_board = nullptr;

struct fake_master {
  pi::EFI_I2C_MASTER_PROTOCOL proto;  // first: the protocol pointer is this record's
  std::vector<std::string> calls;
};

struct fake_device {
  pi::EFI_I2C_IO_PROTOCOL proto;
};

struct test_board {
  EFI_TPL tpl = pi::TPL_APPLICATION;
  std::vector<std::pair<EFI_GUID, void*>> handles;  // one protocol each: enough here
  // ... and the handles that carry EFI_I2C_HOST_PROTOCOL too (EDK2's host
  // driver manages their master).
  std::vector<EFI_HANDLE> host_managed;
  std::vector<seen_request> requests;
  std::vector<std::pair<UINTN, pi::EMBEDDED_GPIO_MODE>> gpio_sets;
  std::vector<std::string> log;
  // InstallProtocolInterface: what was installed on which handle, and the
  // status the n-th call returns (EFI_SUCCESS past the list).
  struct install {
    EFI_HANDLE handle;
    EFI_GUID protocol;
    EFI_INTERFACE_TYPE type;
    void* iface;
  };
  std::vector<install> installs;
  std::vector<EFI_STATUS> install_results;
  MURVANE_SIM_COUNTERS counters = {};
  std::vector<std::string> broken;
  fakeboard::fake_bus bus;
  std::unique_ptr<sim::ModelHandle> chip;
  fake_master masters[2] = {};
  fake_device devices[2] = {};
  pi::EMBEDDED_GPIO gpio = {};
  EFI_BOOT_SERVICES bs = {};
  EFI_SYSTEM_TABLE st = {};
};

void note(const pi::EFI_I2C_REQUEST_PACKET* packet, UINTN address, EFI_EVENT event, const EFI_STATUS* status) {
  seen_request r{address, {}, event != nullptr, status != nullptr};
  for (UINTN i = 0; packet != nullptr && i < packet->OperationCount; ++i) {
    const pi::EFI_I2C_OPERATION& op = packet->Operation[i];
    std::vector<UINT8> bytes;
    if (op.Flags == 0) {
      bytes.assign(op.Buffer, op.Buffer + op.LengthInBytes);
    } else {
      bytes.assign(op.LengthInBytes, 0);
    }
    r.ops.emplace_back(op.Flags, bytes);
  }
  g_board->requests.push_back(r);
}

EFI_STATUS EFIAPI master_set_frequency(const pi::EFI_I2C_MASTER_PROTOCOL* self, UINTN* hz) {
  const auto* m = reinterpret_cast<const fake_master*>(self);
  const_cast<fake_master*>(m)->calls.push_back("SetBusFrequency " + std::to_string(*hz));
  return g_board->bus.set_bus_frequency(hz);
}

EFI_STATUS EFIAPI master_reset(const pi::EFI_I2C_MASTER_PROTOCOL* self) {
  const auto* m = reinterpret_cast<const fake_master*>(self);
  const_cast<fake_master*>(m)->calls.emplace_back("Reset");
  return g_board->bus.reset();
}

EFI_STATUS EFIAPI master_start(const pi::EFI_I2C_MASTER_PROTOCOL* /*self*/, UINTN address,
                               pi::EFI_I2C_REQUEST_PACKET* packet, EFI_EVENT event, EFI_STATUS* status) {
  note(packet, address, event, status);
  return g_board->bus.request(address, packet, event, status, g_board->tpl);
}

EFI_STATUS EFIAPI device_queue(const pi::EFI_I2C_IO_PROTOCOL* self, UINTN index, EFI_EVENT event,
                               pi::EFI_I2C_REQUEST_PACKET* packet, EFI_STATUS* status) {
  note(packet, index, event, status);
  if (self != &g_board->devices[1].proto || index != 0) {
    g_board->broken.emplace_back("request to the wrong device or index");
    return EFI_INVALID_PARAMETER;
  }
  g_board->bus.configure_for_device();
  return g_board->bus.request(chip_address, packet, event, status, g_board->tpl);
}

EFI_STATUS EFIAPI gpio_set(pi::EMBEDDED_GPIO* /*self*/, pi::EMBEDDED_GPIO_PIN pin, pi::EMBEDDED_GPIO_MODE mode) {
  g_board->gpio_sets.emplace_back(pin, mode);
  return EFI_SUCCESS;
}

EFI_TPL EFIAPI raise_tpl(EFI_TPL tpl) {
  const EFI_TPL old = g_board->tpl;
  g_board->tpl = tpl;
  return old;
}

void EFIAPI restore_tpl(EFI_TPL tpl) { g_board->tpl = tpl; }

EFI_STATUS EFIAPI locate_handle(EFI_LOCATE_SEARCH_TYPE search, const EFI_GUID* guid, void* /*key*/, UINTN* size,
                                EFI_HANDLE* buffer) {
  if (search != ByProtocol) {
    return EFI_INVALID_PARAMETER;
  }
  std::vector<EFI_HANDLE> found;
  for (auto& h : g_board->handles) {
    if (guid_equal(h.first, *guid)) {
      found.push_back(&h);
    }
  }
  if (found.empty()) {
    return EFI_NOT_FOUND;
  }
  const UINTN need = found.size() * sizeof(EFI_HANDLE);
  if (*size < need) {
    *size = need;
    return EFI_BUFFER_TOO_SMALL;
  }
  *size = need;
  for (size_t i = 0; i < found.size(); ++i) {
    buffer[i] = found[i];
  }
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI handle_protocol(EFI_HANDLE handle, const EFI_GUID* guid, void** iface) {
  auto* h = static_cast<std::pair<EFI_GUID, void*>*>(handle);
  if (guid_equal(*guid, pi::EFI_I2C_HOST_PROTOCOL_GUID) &&
      std::find(g_board->host_managed.begin(), g_board->host_managed.end(), handle) != g_board->host_managed.end()) {
    *iface = &g_board->host_managed;  // an interface of EDK2's host: never called
    return EFI_SUCCESS;
  }
  if (!guid_equal(h->first, *guid)) {
    return EFI_UNSUPPORTED;
  }
  *iface = h->second;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI locate_protocol(const EFI_GUID* guid, void* /*registration*/, void** iface) {
  for (auto& h : g_board->handles) {
    if (guid_equal(h.first, *guid)) {
      *iface = h.second;
      return EFI_SUCCESS;
    }
  }
  *iface = nullptr;
  return EFI_NOT_FOUND;
}

// A new handle for *handle null (the address of the board's first install
// record stands for it), the same handle otherwise.
EFI_STATUS EFIAPI install_protocol_interface(EFI_HANDLE* handle, const EFI_GUID* guid, EFI_INTERFACE_TYPE type,
                                             void* iface) {
  const size_t n = g_board->installs.size();
  const EFI_STATUS r = n < g_board->install_results.size() ? g_board->install_results[n] : EFI_SUCCESS;
  g_board->installs.push_back({*handle, *guid, type, iface});
  if (r == EFI_SUCCESS && *handle == nullptr) {
    *handle = &g_board->installs;
  }
  return r;
}

void on_log(uint32_t /*level*/, const char* text) { g_board->log.emplace_back(text); }

void on_broken(const char* what) { g_board->broken.emplace_back(what); }

class Bridge : public ::testing::Test {
 protected:
  void SetUp() override {
    g_board = &b_;
    b_.bs.Hdr.Signature = EFI_BOOT_SERVICES_SIGNATURE;
    b_.bs.RaiseTPL = __builtin_bit_cast(EFI_GENERIC_FN, &raise_tpl);
    b_.bs.RestoreTPL = __builtin_bit_cast(EFI_GENERIC_FN, &restore_tpl);
    b_.bs.LocateHandle = __builtin_bit_cast(EFI_GENERIC_FN, &locate_handle);
    b_.bs.HandleProtocol = &handle_protocol;
    b_.bs.LocateProtocol = &locate_protocol;
    b_.bs.InstallProtocolInterface = &install_protocol_interface;
    b_.st.Hdr.Signature = EFI_SYSTEM_TABLE_SIGNATURE;
    b_.st.BootServices = &b_.bs;
    ASSERT_TRUE(murvane::support_init(reinterpret_cast<EFI_HANDLE>(0x1000), &b_.st));
    murvane::g_log_observer = &on_log;
    for (fake_master& m : b_.masters) {
      m.proto = {&master_set_frequency, &master_reset, &master_start, nullptr};
    }
    b_.devices[0].proto = {&device_queue, &eeprom_guid, 0, 1, nullptr};
    b_.devices[1].proto = {&device_queue, &chip_guid, 1, 1, nullptr};
    b_.gpio = {nullptr, &gpio_set, nullptr, nullptr};
    b_.handles.reserve(8);
  }
  void TearDown() override {
    murvane::g_log_observer = nullptr;
    murvane::support_teardown();
    g_board = nullptr;
  }

  // A board: `masters` controllers, the two enumerated devices (EEPROM
  // first), the GPIO; `model` on the bus (empty: nothing answers).
  void make_board(int masters, const std::string& model, const fakeboard::quirks& q = {}) {
    for (int i = 0; i < masters; ++i) {
      b_.handles.emplace_back(pi::EFI_I2C_MASTER_PROTOCOL_GUID, &b_.masters[i].proto);
    }
    b_.handles.emplace_back(pi::EFI_I2C_IO_PROTOCOL_GUID, &b_.devices[0].proto);
    b_.handles.emplace_back(pi::EFI_I2C_IO_PROTOCOL_GUID, &b_.devices[1].proto);
    b_.handles.emplace_back(pi::EMBEDDED_GPIO_PROTOCOL_GUID, &b_.gpio);
    if (!model.empty()) {
      b_.chip = sim::make_model(model);
    }
    b_.bus.attach(b_.chip ? &b_.chip->model() : nullptr, chip_address, q, &b_.counters, &on_broken);
  }

  uint32_t open(const settings& s) {
    settings_ = s;
    bridge_init(&settings_);
    UINT64 handle = 0;
    const uint32_t r = bridge_open(5, &handle);
    EXPECT_EQ(handle, r == 0 ? bridge_handle : 0u);
    return r;
  }

  uint32_t read(uint8_t reg, uint8_t* value, uint32_t address = chip_address) {
    const uint32_t config[6] = {400, address, 0, 500, 0, 0};
    uint32_t transferred = 0;
    return bridge_read(bridge_handle, config, reg, 1, value, 1, &transferred, 2500);
  }
  uint32_t write(uint8_t reg, uint8_t value) {
    const uint32_t config[6] = {400, chip_address, 0, 500, 0, 0};
    uint32_t transferred = 0;
    return bridge_write(bridge_handle, config, reg, 1, &value, 1, &transferred, 2500);
  }

  test_board b_;
  settings settings_ = {};
};

const char* mode_name(bridge_mode m) { return m == bridge_mode::master ? "master" : "I2C IO"; }

TEST(BridgeStatus, EveryFailureIsANonZeroBusStatus) {
  constexpr EFI_STATUS warn_unknown_glyph = 1;
  struct row {
    EFI_STATUS returned;
    EFI_STATUS i2c_status;
    uint32_t bus_status;
  };
  const row rows[] = {
      {EFI_SUCCESS, EFI_SUCCESS, 0},
      {EFI_SUCCESS, EFI_DEVICE_ERROR, 7},  // the failure only in *I2cStatus
      {EFI_DEVICE_ERROR, EFI_SUCCESS, 7},
      {EFI_DEVICE_ERROR, EFI_DEVICE_ERROR, 7},
      {pi::EFI_NO_RESPONSE, pi::EFI_NO_RESPONSE, 16},
      {EFI_NOT_READY, EFI_SUCCESS, 6},
      {EFI_TIMEOUT, EFI_DEVICE_ERROR, 18},  // the call's own status comes first
      {warn_unknown_glyph, EFI_SUCCESS, 0x101},
      {EFI_SUCCESS, warn_unknown_glyph, 0x101},
      {EFI_ERROR_BIT, EFI_SUCCESS, 0x100},
  };
  for (const row& r : rows) {
    EXPECT_EQ(bus_status_of(r.returned, r.i2c_status), r.bus_status)
        << std::hex << "returned 0x" << r.returned << ", *I2cStatus 0x" << r.i2c_status;
  }
}

TEST_F(Bridge, RegisterAccessesAreTheTwoPacketShapesInBothModes) {
  for (const bridge_mode mode : {bridge_mode::master, bridge_mode::io}) {
    SCOPED_TRACE(mode_name(mode));
    b_.handles.clear();
    b_.requests.clear();
    make_board(1, "zq3101");
    ASSERT_EQ(open(board(mode)), 0u);
    uint8_t value = 0;
    ASSERT_EQ(read(0x00, &value), 0u);
    EXPECT_EQ(value, 0x95);
    ASSERT_EQ(write(0x04, 0x3C), 0u);
    ASSERT_EQ(b_.requests.size(), 2u);
    const UINTN address = mode == bridge_mode::master ? chip_address : 0;  // IO: the device's address index
    const seen_request& r = b_.requests[0];
    EXPECT_EQ(r.address, address);
    EXPECT_FALSE(r.event);
    EXPECT_TRUE(r.has_status);
    ASSERT_EQ(r.ops.size(), 2u);
    EXPECT_EQ(r.ops[0], (std::pair<UINT32, std::vector<UINT8>>{0, {0x00}}));
    EXPECT_EQ(r.ops[1], (std::pair<UINT32, std::vector<UINT8>>{pi::I2C_FLAG_READ, {0}}));
    const seen_request& w = b_.requests[1];
    EXPECT_EQ(w.address, address);
    ASSERT_EQ(w.ops.size(), 1u);
    EXPECT_EQ(w.ops[0], (std::pair<UINT32, std::vector<UINT8>>{0, {0x04, 0x3C}}));
    EXPECT_EQ(b_.chip->model().reg(0x04), 0x3C);
    EXPECT_TRUE(b_.broken.empty()) << b_.broken.front();
    EXPECT_EQ(b_.counters.BadRequests, 0u);
  }
}

TEST_F(Bridge, ReadsEveryFamilysIdentifierInBothModes) {
  for (const bridge_mode mode : {bridge_mode::master, bridge_mode::io}) {
    for (const std::string& model : murvane_test::first_model_of_each_family()) {
      SCOPED_TRACE(std::string(mode_name(mode)) + " " + model);
      b_.handles.clear();
      make_board(1, model);
      ASSERT_EQ(open(board(mode)), 0u);
      uint8_t r00 = 0;
      uint8_t r57 = 0;
      uint8_t r58 = 0;
      ASSERT_EQ(read(0x00, &r00), 0u);
      ASSERT_EQ(read(0x57, &r57), 0u);
      ASSERT_EQ(read(0x58, &r58), 0u);
      const uint32_t id = b_.chip->model().chip_id();
      if (id > 0xFF) {
        EXPECT_EQ(static_cast<uint32_t>(r57 << 8 | r58), id);
      } else {
        EXPECT_EQ(r00, id);
      }
    }
  }
}

TEST_F(Bridge, OpenResetsTheMasterThenSetsTheBoardsClockAndLogsTheRateSet) {
  struct row {
    bool round_down;
    const char* line;
  };
  const row rows[] = {
      {false, "MurvaneBridge: I2C master 0, bus clock 400000 Hz (asked for 400000 Hz)\n"},
      {true, "MurvaneBridge: I2C master 0, bus clock 375000 Hz (asked for 400000 Hz)\n"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.round_down ? "rounding controller" : "exact controller");
    b_.handles.clear();
    b_.log.clear();
    b_.masters[0].calls.clear();
    fakeboard::quirks q = {};
    q.round_down = r.round_down;
    make_board(1, "zq3201", q);
    ASSERT_EQ(open(board(bridge_mode::master)), 0u);
    EXPECT_EQ(b_.masters[0].calls, (std::vector<std::string>{"Reset", "SetBusFrequency 400000"}));
    ASSERT_EQ(b_.log.size(), 1u);
    EXPECT_EQ(b_.log[0], r.line);
    EXPECT_EQ(opened_bus_clock_hz(), r.round_down ? 375000u : 400000u);
  }
}

TEST_F(Bridge, OpenPicksTheMasterTheBoardNames) {
  struct row {
    int masters;
    uint32_t index;
    uint32_t status;
    int opened;  // which master, -1 none
    const char* line;
  };
  const row rows[] = {
      {1, only_master, 0, 0, "MurvaneBridge: I2C master 0, bus clock 400000 Hz (asked for 400000 Hz)\n"},
      {2, only_master, 14, -1, "MurvaneBridge: 2 I2C masters and none chosen (MURVANE_BRIDGE_MASTER)\n"},
      {2, 1, 0, 1, "MurvaneBridge: I2C master 1, bus clock 400000 Hz (asked for 400000 Hz)\n"},
      {1, 1, 14, -1, "MurvaneBridge: I2C master 1 chosen, 1 found\n"},
      {0, only_master, 14, -1, "MurvaneBridge: no EFI_I2C_MASTER_PROTOCOL - Not Found\n"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(std::to_string(r.masters) + " masters, index " + std::to_string(r.index));
    b_.handles.clear();
    b_.log.clear();
    make_board(r.masters, "zq3201");
    EXPECT_EQ(open(board(bridge_mode::master, r.index)), r.status);
    EXPECT_EQ(opened_master(), r.opened < 0 ? nullptr : &b_.masters[r.opened].proto);
    ASSERT_EQ(b_.log.size(), 1u);
    EXPECT_EQ(b_.log[0], r.line);
  }
}

// Beside EDK2's I2C host, a master-mode bridge would send transactions the
// host's queue knows nothing of: it refuses, names io mode, touches nothing.
TEST_F(Bridge, MasterModeRefusesAMasterThatEdk2sHostDrives) {
  make_board(2, "zq3201");
  b_.host_managed.push_back(&b_.handles[1]);
  EXPECT_EQ(open(board(bridge_mode::master, 1)), status_host_owned);
  EXPECT_EQ(opened_master(), nullptr);
  ASSERT_EQ(b_.log.size(), 1u);
  EXPECT_EQ(b_.log[0], "MurvaneBridge: I2C master 1 is EDK2's I2C host's: build the bridge in io mode\n");
  EXPECT_TRUE(b_.masters[1].calls.empty());
  uint8_t value = 0;
  EXPECT_EQ(read(0x00, &value), status_not_open);
  EXPECT_TRUE(b_.requests.empty());
  // The other master, which no host driver manages, is taken as before.
  b_.log.clear();
  EXPECT_EQ(open(board(bridge_mode::master, 0)), 0u);
  EXPECT_EQ(opened_master(), &b_.masters[0].proto);
}

TEST_F(Bridge, IoModeBindsTheDeviceWithTheBoardsGuid) {
  make_board(1, "zq3301");
  ASSERT_EQ(open(board(bridge_mode::io)), 0u);
  EXPECT_EQ(opened_device(), &b_.devices[1].proto);
  EXPECT_EQ(opened_master(), nullptr);
  EXPECT_EQ(b_.log, (std::vector<std::string>{"MurvaneBridge: I2C IO device 1 of 2 has the board's DeviceGuid\n"}));

  b_.log.clear();
  settings other = board(bridge_mode::io);
  other.device_guid.Data1 ^= 1;
  settings_ = other;
  bridge_init(&settings_);
  UINT64 handle = 0;
  EXPECT_EQ(bridge_open(5, &handle), status_not_found);
  EXPECT_EQ(opened_device(), nullptr);
  EXPECT_EQ(b_.log,
            (std::vector<std::string>{"MurvaneBridge: no I2C IO device with the board's DeviceGuid among 2\n"}));
  uint8_t v = 0;
  EXPECT_EQ(read(0x00, &v), status_not_open);
  EXPECT_TRUE(b_.requests.empty());
}

TEST_F(Bridge, OpenOfAnotherInstanceIsRefused) {
  make_board(1, "zq3201");
  settings_ = board(bridge_mode::master);
  bridge_init(&settings_);
  UINT64 handle = 0;
  EXPECT_EQ(bridge_open(4, &handle), status_bad_request);
  EXPECT_EQ(b_.masters[0].calls.size(), 0u);
  EXPECT_EQ(b_.log, (std::vector<std::string>{"MurvaneBridge: Open of I2C instance 4, the board's is 5\n"}));
}

// How each master tells a NACK (no chip on the bus), and what the driver gets.
TEST_F(Bridge, ANackIsAFailureHoweverTheMasterReportsIt) {
  struct row {
    const char* name;
    fakeboard::quirks q;
    uint32_t bus_status;
  };
  const row rows[] = {
      {"NACK as Device Error", {}, 7},
      {"NACK as No Response", {false, true, false, false}, 16},
      {"failure only in *I2cStatus", {true, false, false, false}, 7},
      {"failure only in *I2cStatus, as No Response", {true, true, false, false}, 16},
      // Invisible to the bridge: the driver reads the byte it pre-set.
      {"success on a NACK", {false, false, false, true}, 0},
  };
  for (const bridge_mode mode : {bridge_mode::master, bridge_mode::io}) {
    for (const row& r : rows) {
      SCOPED_TRACE(std::string(mode_name(mode)) + ", " + r.name);
      b_.handles.clear();
      make_board(1, "", r.q);
      ASSERT_EQ(open(board(mode)), 0u);
      uint8_t value = 0x42;
      EXPECT_EQ(read(0x00, &value), r.bus_status);
      EXPECT_EQ(value, 0x42);
      EXPECT_EQ(write(0x04, 0x01), r.bus_status);
    }
  }
}

TEST_F(Bridge, AWrongAddressIsANackNotATransferToAnotherChip) {
  make_board(1, "zq3201");
  ASSERT_EQ(open(board(bridge_mode::master)), 0u);
  uint8_t value = 0;
  EXPECT_EQ(read(0x00, &value, 0x2C), 7u);
  EXPECT_EQ(b_.requests.at(0).address, 0x2Cu);
}

TEST_F(Bridge, AccessesThatAreNotOneRegisterByteNeverReachTheBus) {
  make_board(1, "zq3201");
  ASSERT_EQ(open(board(bridge_mode::master)), 0u);
  const uint32_t config[6] = {400, chip_address, 0, 500, 0, 0};
  const uint32_t high_address[6] = {400, 0x85, 0, 500, 0, 0};
  uint8_t v = 0;
  uint32_t n = 0;
  EXPECT_EQ(bridge_read(bridge_handle, config, 0x00, 2, &v, 1, &n, 2500), status_bad_request);
  EXPECT_EQ(bridge_read(bridge_handle, config, 0x00, 1, &v, 2, &n, 2500), status_bad_request);
  EXPECT_EQ(bridge_read(bridge_handle, config, 0x100, 1, &v, 1, &n, 2500), status_bad_request);
  EXPECT_EQ(bridge_read(bridge_handle, config, 0x00, 1, nullptr, 1, &n, 2500), status_bad_request);
  EXPECT_EQ(bridge_read(bridge_handle, nullptr, 0x00, 1, &v, 1, &n, 2500), status_bad_request);
  EXPECT_EQ(bridge_read(bridge_handle, high_address, 0x00, 1, &v, 1, &n, 2500), status_bad_request);
  EXPECT_EQ(bridge_write(bridge_handle + 1, config, 0x00, 1, &v, 1, &n, 2500), status_bad_request);
  EXPECT_TRUE(b_.requests.empty());
}

TEST_F(Bridge, NoRequestAboveTplCallback) {
  make_board(1, "zq3201");
  ASSERT_EQ(open(board(bridge_mode::master)), 0u);
  uint8_t v = 0;
  b_.tpl = pi::TPL_CALLBACK;
  EXPECT_EQ(read(0x00, &v), 0u);
  b_.tpl = pi::TPL_NOTIFY;
  EXPECT_EQ(read(0x00, &v), status_tpl_too_high);
  EXPECT_EQ(write(0x04, 1), status_tpl_too_high);
  EXPECT_EQ(b_.tpl, pi::TPL_NOTIFY);  // restored
  EXPECT_EQ(b_.requests.size(), 1u);
}

TEST_F(Bridge, ThePinFollowsTheBoardsPolarity) {
  struct row {
    bool active_low;
    uint32_t level;
    pi::EMBEDDED_GPIO_MODE mode;
  };
  const row rows[] = {
      {false, 0, pi::GPIO_MODE_OUTPUT_0},
      {false, 1, pi::GPIO_MODE_OUTPUT_1},
      {true, 0, pi::GPIO_MODE_OUTPUT_1},
      {true, 1, pi::GPIO_MODE_OUTPUT_0},
  };
  make_board(1, "zq3201");
  for (const row& r : rows) {
    SCOPED_TRACE(std::string(r.active_low ? "active-low" : "active-high") + ", level " + std::to_string(r.level));
    b_.gpio_sets.clear();
    settings_ = board(bridge_mode::master, only_master, r.active_low);
    bridge_init(&settings_);
    EXPECT_EQ(bridge_pin_configure(pin_word, 1), EFI_SUCCESS);
    EXPECT_TRUE(b_.gpio_sets.empty());  // configuring does not drive the line
    EXPECT_EQ(bridge_pin_set_output(pin_word, r.level), EFI_SUCCESS);
    EXPECT_EQ(b_.gpio_sets, (std::vector<std::pair<UINTN, pi::EMBEDDED_GPIO_MODE>>{{gpio_pin, r.mode}}));
  }
}

TEST_F(Bridge, APinWordOrAGpioProtocolThatIsNotThereIsAFailure) {
  make_board(1, "zq3201");
  settings_ = board(bridge_mode::master);
  bridge_init(&settings_);
  EXPECT_EQ(bridge_pin_set_output(pin_word + 1, 1), EFI_INVALID_PARAMETER);
  EXPECT_EQ(b_.log.back(), "MurvaneBridge: pin word 0x200ec1e1 is not the board's reset pin\n");
  b_.handles.pop_back();  // the GPIO
  bridge_init(&settings_);
  EXPECT_EQ(bridge_pin_configure(pin_word, 1), EFI_NOT_FOUND);
  EXPECT_EQ(b_.log.back(), "MurvaneBridge: no EMBEDDED_GPIO protocol - Not Found\n");
  EXPECT_EQ(bridge_pin_set_output(pin_word, 0), EFI_NOT_FOUND);
  EXPECT_TRUE(b_.gpio_sets.empty());
}

// UEFI lets a protocol be installed with a NULL interface: the firmware
// then finds the GUID, with nothing behind it. That is no GPIO to drive
// the reset line with; taking it for one would call through null at the
// first pin level.
TEST_F(Bridge, AGpioProtocolWithANullInterfaceIsNotFound) {
  make_board(1, "zq3201");
  b_.handles.back().second = nullptr;  // the GPIO's interface
  settings_ = board(bridge_mode::master);
  bridge_init(&settings_);
  EXPECT_EQ(bridge_pin_configure(pin_word, 1), EFI_NOT_FOUND);
  EXPECT_EQ(b_.log.back(), "MurvaneBridge: no EMBEDDED_GPIO protocol - Not Found\n");
  EXPECT_EQ(bridge_pin_set_output(pin_word, 1), EFI_NOT_FOUND);
  EXPECT_TRUE(b_.gpio_sets.empty());
  // Once a real one is there, the next call finds it.
  b_.handles.back().second = &b_.gpio;
  EXPECT_EQ(bridge_pin_set_output(pin_word, 1), EFI_SUCCESS);
  EXPECT_EQ(b_.gpio_sets.size(), 1U);
}

// The image's entry installs both platform protocols on one new handle, the
// driver's bus first, with the bridge's own tables behind them, and says so.
TEST_F(Bridge, InstallPutsTheBusAndThePinProtocolOnOneNewHandle) {
  EFI_HANDLE handle = nullptr;
  EXPECT_EQ(install_bridge(&handle), EFI_SUCCESS);
  ASSERT_EQ(b_.installs.size(), 2U);
  EXPECT_NE(handle, nullptr);
  EXPECT_EQ(b_.installs[0].handle, nullptr);  // a new handle
  EXPECT_TRUE(guid_equal(b_.installs[0].protocol, EFI_ZELT_I2C_PROTOCOL_GUID));
  EXPECT_EQ(b_.installs[0].iface, &bridge_i2c_protocol);
  EXPECT_EQ(b_.installs[1].handle, handle);  // the same handle
  EXPECT_TRUE(guid_equal(b_.installs[1].protocol, EFI_KORM_PROTOCOL_GUID));
  EXPECT_EQ(b_.installs[1].iface, &bridge_korm_protocol);
  for (const auto& i : b_.installs) {
    EXPECT_EQ(i.type, EFI_NATIVE_INTERFACE);
  }
  EXPECT_EQ(
      b_.log,
      (std::vector<std::string>{"MurvaneBridge: Install EFI_ZELT_I2C_PROTOCOL and EFI_KORM_PROTOCOL - Success\n"}));
  // What the driver calls through them is the bridge.
  EXPECT_EQ(bridge_i2c_protocol.Open, &bridge_open);
  EXPECT_EQ(bridge_i2c_protocol.Read, &bridge_read);
  EXPECT_EQ(bridge_i2c_protocol.Write, &bridge_write);
  EXPECT_EQ(bridge_korm_protocol.Configure, &bridge_pin_configure);
  EXPECT_EQ(bridge_korm_protocol.SetOutput, &bridge_pin_set_output);
}

// A refused first install leaves nothing of the bridge installed: its
// status is the entry's, and the image may be unloaded. A refused second
// one leaves the bus protocol in, pointing into the image: the entry
// succeeds so that the image stays resident, and the log says what failed.
TEST_F(Bridge, AFailedInstallIsLoggedAndOnlyAFirstOneUnloadsTheImage) {
  b_.install_results = {EFI_OUT_OF_RESOURCES};
  EFI_HANDLE handle = nullptr;
  EXPECT_EQ(install_bridge(&handle), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(b_.installs.size(), 1U);
  EXPECT_EQ(b_.log.back(), "MurvaneBridge: Install EFI_ZELT_I2C_PROTOCOL and EFI_KORM_PROTOCOL - Out of Resources\n");

  b_.installs.clear();
  b_.install_results = {EFI_SUCCESS, EFI_INVALID_PARAMETER};
  handle = nullptr;
  EXPECT_EQ(install_bridge(&handle), EFI_SUCCESS);
  ASSERT_EQ(b_.installs.size(), 2U);
  EXPECT_TRUE(guid_equal(b_.installs[1].protocol, EFI_KORM_PROTOCOL_GUID));
  EXPECT_EQ(b_.log.back(), "MurvaneBridge: Install EFI_ZELT_I2C_PROTOCOL and EFI_KORM_PROTOCOL - Invalid Parameter\n");
}

// The fake board's own rules, which the QEMU boots rely on to catch a
// bridge that breaks them.
TEST(FakeBus, RefusesWhatRealStacksRefuse) {
  MURVANE_SIM_COUNTERS counters = {};
  std::vector<std::string> broken;
  static std::vector<std::string>* sink = nullptr;
  sink = &broken;
  auto model = sim::make_model("zq3201");
  fakeboard::fake_bus bus;
  bus.attach(&model->model(), chip_address, {}, &counters, [](const char* what) { sink->emplace_back(what); });
  UINT8 reg = 0;
  UINT8 data = 0;
  UINT8 pair[2] = {0x04, 0x01};
  EFI_STATUS st = EFI_SUCCESS;
  pi::i2c_request<2> read = {2, {{0, 1, &reg}, {pi::I2C_FLAG_READ, 1, &data}}};
  auto* read_packet = reinterpret_cast<pi::EFI_I2C_REQUEST_PACKET*>(&read);
  pi::EFI_I2C_REQUEST_PACKET write = {1, {{0, 2, pair}}};
  pi::i2c_request<2> two_writes = {2, {{0, 1, &reg}, {0, 1, &data}}};
  pi::EFI_I2C_REQUEST_PACKET smbus = {1, {{0x00010000, 2, pair}}};

  EXPECT_EQ(bus.request(chip_address, &write, nullptr, &st, pi::TPL_APPLICATION), EFI_NOT_READY);  // no clock yet
  UINTN hz = 400000;
  ASSERT_EQ(bus.set_bus_frequency(&hz), EFI_SUCCESS);
  EXPECT_EQ(bus.request(chip_address, &write, nullptr, &st, pi::TPL_APPLICATION), EFI_SUCCESS);
  EXPECT_EQ(bus.request(chip_address, read_packet, nullptr, &st, pi::TPL_CALLBACK), EFI_SUCCESS);
  EXPECT_EQ(bus.request(chip_address, read_packet, nullptr, &st, pi::TPL_NOTIFY), EFI_INVALID_PARAMETER);
  EXPECT_EQ(bus.request(chip_address | 0x100, &write, nullptr, &st, pi::TPL_APPLICATION), EFI_INVALID_PARAMETER);
  EXPECT_EQ(bus.request(chip_address, reinterpret_cast<pi::EFI_I2C_REQUEST_PACKET*>(&two_writes), nullptr, &st,
                        pi::TPL_APPLICATION),
            EFI_UNSUPPORTED);
  EXPECT_EQ(bus.request(chip_address, &smbus, nullptr, &st, pi::TPL_APPLICATION), EFI_UNSUPPORTED);
  EXPECT_EQ(bus.request(chip_address, &write, &st, &st, pi::TPL_APPLICATION), EFI_INVALID_PARAMETER);
  ASSERT_EQ(bus.reset(), EFI_SUCCESS);
  EXPECT_EQ(bus.request(chip_address, &write, nullptr, &st, pi::TPL_APPLICATION), EFI_NOT_READY);
  EXPECT_EQ(counters.BadRequests, 7u);
  EXPECT_EQ(counters.Writes, 1u);
  EXPECT_EQ(counters.Reads, 1u);
  ASSERT_EQ(broken.size(), 7u);
  EXPECT_EQ(broken[0], "a request before SetBusFrequency (after Reset)");
  EXPECT_EQ(broken[2], "a slave address with bits above the 7-bit address");
}

TEST(FakeBus, AChipHeldInResetDoesNotAcknowledge) {
  MURVANE_SIM_COUNTERS counters = {};
  auto model = sim::make_model("zq3101");
  fakeboard::fake_bus bus;
  bus.attach(&model->model(), chip_address, {}, &counters, nullptr);
  UINTN hz = 400000;
  ASSERT_EQ(bus.set_bus_frequency(&hz), EFI_SUCCESS);
  UINT8 reg = 0;
  UINT8 data = 0;
  pi::i2c_request<2> read = {2, {{0, 1, &reg}, {pi::I2C_FLAG_READ, 1, &data}}};
  auto* packet = reinterpret_cast<pi::EFI_I2C_REQUEST_PACKET*>(&read);
  EFI_STATUS st = EFI_SUCCESS;
  bus.set_in_reset(true);
  EXPECT_EQ(bus.request(chip_address, packet, nullptr, &st, pi::TPL_APPLICATION), EFI_DEVICE_ERROR);
  EXPECT_EQ(data, 0);
  bus.set_in_reset(false);
  EXPECT_EQ(bus.request(chip_address, packet, nullptr, &st, pi::TPL_APPLICATION), EFI_SUCCESS);
  EXPECT_EQ(data, 0x95);
  EXPECT_EQ(counters.FailedTransfers, 1u);
}

TEST(FakeBus, BoardTextAndRates) {
  fakeboard::quirks q = {};
  const char all[] = "status-only nack-no-response # comment\nround-down";
  EXPECT_TRUE(fakeboard::parse_quirks(all, sizeof(all) - 1, &q));
  EXPECT_TRUE(q.status_only && q.nack_no_response && q.round_down && !q.nack_success);
  const char* bad = nullptr;
  const char text[] = "nack-success hide-nacks";
  EXPECT_FALSE(fakeboard::parse_quirks(text, sizeof(text) - 1, &q, &bad));
  EXPECT_EQ(bad, text + 13);
  EXPECT_EQ(fakeboard::settable_rate({}, 400000), 400000u);
  EXPECT_EQ(fakeboard::settable_rate({}, 3400000), 1000000u);
  const fakeboard::quirks rounding = {false, false, true, false};
  EXPECT_EQ(fakeboard::settable_rate(rounding, 400000), 375000u);
  EXPECT_EQ(fakeboard::settable_rate(rounding, 100000), 100000u);
  EXPECT_EQ(fakeboard::settable_rate(rounding, 99999), 0u);
}

}  // namespace
