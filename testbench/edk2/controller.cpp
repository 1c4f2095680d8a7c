// EdkController.efi: a test-only I2C controller driver, and nothing more,
// for the boots through EDK2's own I2C stack (I2cDxe) and GPIO driver
// (PL061GpioDxe). On one handle with a device path it publishes:
//   - EFI_I2C_MASTER_PROTOCOL, which takes the host driver's event, does the
//     transfer at once and signals it;
//   - EFI_I2C_ENUMERATE_PROTOCOL, with one device: the chip, with the
//     bridge's DeviceGuid and the board's address;
//   - EFI_I2C_BUS_CONFIGURATION_MANAGEMENT_PROTOCOL (one configuration, the
//     board's bus clock).
// No I2C IO and no GPIO of its own: EDK2's bus driver makes the chip's
// EFI_I2C_IO_PROTOCOL, PL061GpioDxe drives the reset line.
//
// Behind the master sits the chip model (\sim.cfg, as for the other test
// platforms). It learns of the reset pulse from QEMU's PL061 itself: the
// direction and data registers, read over MMIO whenever the driver waits
// (a reset pulse is a wait between two pin changes) and before every
// transfer. A line the PL061 does not drive is released (a pull-up on the
// board); an active-low build has an inverter between the PL061 and the
// chip.
//
// What the master was asked to do is kept, in order, with the reset line's
// changes, and printed when the image is loaded a second time:
//   [EdkController] reset line: held | released
//   [EdkController] i2c: 5A w 0C 01 | 5A r 0C 01 | 5A w 0C 01 nack | 5A r 0C nack
//   [EdkController] end: N transfers, M reset pulses, B bad requests
// The test application's private protocol is published too (counters, the
// chip), so its verdict lines work as with the other platforms.
//
// Never shipped.
#include "bridge/pi_i2c.h"
#include "murvane/board_settings.h"
#include "murvane/bridge_settings.h"
#include "platform/platform.h"
#include "platform/protocols.h"
#include "testbench/edk2/pi_i2c_controller.h"
#include "testbench/qemu/chip_models.h"
#include "testbench/qemu/efi_extra.h"
#include "testbench/qemu/fake_board/fake_bus.h"
#include "testbench/qemu/fw_support.h"
#include "testbench/qemu/platform_hooks.h"
#include "testbench/qemu/sim_platform_protocol.h"
#include "testbench/qemu/sim_scenario.h"
#include "testbench/qemu/text.h"

namespace {

using namespace pi;
using murvane::install_protocol;

constinit EFI_SYSTEM_TABLE* g_st = nullptr;
constinit sim::chip_model* chip = nullptr;
constinit char scenario_text[fwsim::scenario_text_max] = {};
constinit MURVANE_SIM_COUNTERS counters = {};
constinit fakeboard::fake_bus bus;

void say(const char* text) {
  char line[200];
  fwsim::text_builder t(line, sizeof(line));
  t.put("[EdkController] ").put(text).put('\n');
  fwtest::print(g_st, line);
}

void report_broken(const char* what) {
  char line[200];
  fwsim::text_builder t(line, sizeof(line));
  t.put("\n[EdkController] broken request: ").put(what).put('\n');
  fwtest::print(g_st, line);
}

// ---- what the master saw, in order ----

enum class event_kind : UINT8 { write, read, held, released };
struct seen {
  event_kind kind;
  UINT8 address;
  UINT8 reg;
  UINT8 value;
  bool failed;
};
// A bring-up makes a few hundred transfers; the log keeps the first ones
// and counts the rest.
constexpr size_t max_events = 4096;
constinit seen events[max_events] = {};
constinit size_t event_count = 0;
constinit size_t events_lost = 0;

void note(const seen& e) {
  if (event_count < max_events) {
    events[event_count++] = e;
  } else {
    ++events_lost;
  }
}

// ---- the reset line, from QEMU's PL061 ----

constexpr uintptr_t pl061_base = 0x09030000;
constexpr uintptr_t pl061_data_all = 0x3FC;  // the data register with every line in its address mask
constexpr uintptr_t pl061_direction = 0x400;
constexpr UINTN reset_gpio = murvane::bridge_board::gpio_pin;
constexpr bool inverted = murvane::bridge_board::gpio_active_low;
static_assert(reset_gpio < 8, "the PL061 has lines 0 to 7 (port 0)");
constinit bool line_held = false;

UINT8 pl061_read(uintptr_t offset) { return *reinterpret_cast<volatile const UINT8*>(pl061_base + offset); }

void look_at_reset_line() {
  const UINT8 mask = static_cast<UINT8>(1u << reset_gpio);
  const bool driven = (pl061_read(pl061_direction) & mask) != 0;
  // Undriven, the board's pull-up releases the chip.
  const bool level = driven ? ((pl061_read(pl061_data_all) & mask) != 0) != inverted : true;
  const bool held = !level;
  if (held == line_held) {
    return;
  }
  line_held = held;
  note({held ? event_kind::held : event_kind::released, 0, 0, 0, false});
  if (!held) {
    // The rising edge ends a reset pulse, at the time the pin changed: no
    // wait of the driver's has been counted since.
    ++counters.ResetPulses;
    if (chip != nullptr) {
      chip->set_time(counters.StallUs * 1000 + counters.BusTimeNs);
      chip->reset_pulse();
    }
  }
  bus.set_in_reset(held);
}

// ---- the driver's waits ----

// Every image loaded once the bridge's bus protocol is there is the
// driver's (fwhooks::watch_loads_after_bridge): its waits make the chip's
// clock.
constexpr size_t max_driver_images = 8;

// ---- the controller ----

constexpr EFI_I2C_CONTROLLER_CAPABILITIES capabilities = {sizeof(EFI_I2C_CONTROLLER_CAPABILITIES), 32, 32, 64};
constexpr UINTN board_hz = static_cast<UINTN>(murvane::board::i2c_speed_khz) * 1000;

EFI_STATUS signal(EFI_EVENT e) {
  const auto fn = __builtin_bit_cast(signal_event_fn, murvane::g_support.boot_services->SignalEvent);
  return fn(e);
}

EFI_STATUS EFIAPI master_set_bus_frequency(const EFI_I2C_MASTER_PROTOCOL* /*self*/, UINTN* hz) {
  return bus.set_bus_frequency(hz);
}

EFI_STATUS EFIAPI master_reset(const EFI_I2C_MASTER_PROTOCOL* /*self*/) { return bus.reset(); }

// A transfer is done at once. With an event (as EDK2's host always calls)
// the call returns success, the outcome goes to *i2c_status and the event is
// signalled; without one the call is synchronous and returns the outcome.
EFI_STATUS EFIAPI master_start_request(const EFI_I2C_MASTER_PROTOCOL* /*self*/, UINTN address,
                                       EFI_I2C_REQUEST_PACKET* packet, EFI_EVENT event, EFI_STATUS* i2c_status) {
  const EFI_TPL tpl = fwtest::current_tpl();
  if (tpl > TPL_NOTIFY || (event == nullptr && tpl > TPL_CALLBACK)) {
    ++counters.BadRequests;
    report_broken(event == nullptr ? "a synchronous StartRequest above TPL_CALLBACK" : "StartRequest above TPL_NOTIFY");
    return EFI_INVALID_PARAMETER;
  }
  look_at_reset_line();
  EFI_STATUS outcome = EFI_SUCCESS;
  const UINT64 failed_before = counters.FailedTransfers;
  const UINT64 bad_before = counters.BadRequests;
  // The bus checks the request as a synchronous one at TPL_CALLBACK: the
  // TPL rules were checked above.
  const EFI_STATUS s = bus.request(address, packet, nullptr, &outcome, TPL_CALLBACK);
  if (counters.BadRequests != bad_before) {
    return s;  // refused: not started, nothing signalled
  }
  const bool failed = counters.FailedTransfers != failed_before;
  const EFI_I2C_OPERATION* ops = packet->Operation;
  const bool is_write = packet->OperationCount == 1;
  note({is_write ? event_kind::write : event_kind::read, static_cast<UINT8>(address), ops[0].Buffer[0],
        is_write ? ops[0].Buffer[1] : ops[1].Buffer[0], failed});
  const EFI_STATUS result = EFI_ERROR(s) ? s : outcome;
  if (event == nullptr) {
    if (i2c_status != nullptr) {
      *i2c_status = result;
    }
    return result;
  }
  if (i2c_status != nullptr) {
    *i2c_status = result;
  }
  signal(event);
  return EFI_SUCCESS;
}

constinit EFI_I2C_MASTER_PROTOCOL master = {&master_set_bus_frequency, &master_reset, &master_start_request,
                                            &capabilities};

constexpr EFI_GUID chip_guid = murvane::bridge_board::device_guid;
constexpr UINT32 chip_addresses[1] = {murvane::board::i2c_address};
constexpr EFI_I2C_DEVICE chip_device = {&chip_guid, 0, 1, 0, 1, chip_addresses};

EFI_STATUS EFIAPI enumerate(const EFI_I2C_ENUMERATE_PROTOCOL* /*self*/, const EFI_I2C_DEVICE** device) {
  if (device == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  if (*device == nullptr) {
    *device = &chip_device;
    return EFI_SUCCESS;
  }
  return EFI_NO_MAPPING;
}

EFI_STATUS EFIAPI get_bus_frequency(const EFI_I2C_ENUMERATE_PROTOCOL* /*self*/, UINTN configuration, UINTN* hz) {
  if (hz == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  if (configuration != 0) {
    return EFI_NO_MAPPING;
  }
  *hz = board_hz;
  return EFI_SUCCESS;
}

constinit EFI_I2C_ENUMERATE_PROTOCOL enumerate_protocol = {&enumerate, &get_bus_frequency};

// The one configuration: the controller reset and set to the board's clock.
EFI_STATUS EFIAPI enable_configuration(const EFI_I2C_BUS_CONFIGURATION_MANAGEMENT_PROTOCOL* /*self*/,
                                       UINTN configuration, EFI_EVENT event, EFI_STATUS* i2c_status) {
  EFI_STATUS s = EFI_NO_MAPPING;
  if (configuration == 0) {
    UINTN hz = board_hz;
    s = bus.reset();
    if (s == EFI_SUCCESS) {
      s = bus.set_bus_frequency(&hz);
    }
  }
  if (i2c_status != nullptr) {
    *i2c_status = s;
  }
  if (event != nullptr) {
    signal(event);
    return EFI_SUCCESS;
  }
  return s;
}

constinit EFI_I2C_BUS_CONFIGURATION_MANAGEMENT_PROTOCOL configuration_protocol = {&enable_configuration};

// The controller's device path: one vendor hardware node, then the end.
struct controller_path {
  fwefi::EFI_DEVICE_PATH vendor;
  EFI_GUID guid;
  fwefi::EFI_DEVICE_PATH end;
};
static_assert(sizeof(controller_path) == 24);
// {3B8C5E14-7A2D-4F61-9E03-C5D18B2A6F70}
constinit controller_path device_path = {{1, 4, {20, 0}},
                                         {0x3B8C5E14, 0x7A2D, 0x4F61, {0x9E, 0x03, 0xC5, 0xD1, 0x8B, 0x2A, 0x6F, 0x70}},
                                         {fwefi::END_DEVICE_PATH_TYPE, fwefi::END_ENTIRE_DEVICE_PATH_SUBTYPE, {4, 0}}};

// ---- the test application's view, and the second load ----

EFI_STATUS EFIAPI watch_driver(const void* base, UINT64 size) { return fwhooks::watch_image(base, size); }

constinit MURVANE_SIM_PLATFORM_PROTOCOL sim_protocol = {MURVANE_SIM_PLATFORM_PROTOCOL_REVISION, scenario_text, nullptr,
                                                        &counters, &watch_driver};

void put_byte(fwsim::text_builder& t, UINT8 v) { t.put("0123456789ABCDEF"[v >> 4]).put("0123456789ABCDEF"[v & 0xF]); }

EFI_STATUS EFIAPI print_events() {
  for (size_t i = 0; i < event_count; ++i) {
    const seen& e = events[i];
    char line[80];
    fwsim::text_builder t(line, sizeof(line));
    if (e.kind == event_kind::held || e.kind == event_kind::released) {
      t.put("[EdkController] reset line: ").put(e.kind == event_kind::held ? "held" : "released");
    } else {
      t.put("[EdkController] i2c: ");
      put_byte(t, e.address);
      t.put(e.kind == event_kind::write ? " w " : " r ");
      put_byte(t, e.reg);
      // A read nobody answered has no value.
      if (e.kind == event_kind::write || !e.failed) {
        t.put(' ');
        put_byte(t, e.value);
      }
      if (e.failed) {
        t.put(" nack");
      }
    }
    t.put('\n');
    fwtest::print(g_st, line);
  }
  char line[160];
  fwsim::text_builder t(line, sizeof(line));
  t.put("[EdkController] end: ").dec(event_count).put(" events, ").dec(events_lost).put(" not kept, ");
  t.dec(counters.ResetPulses).put(" reset pulses, ").dec(counters.BadRequests).put(" bad requests\n");
  fwtest::print(g_st, line);
  return EFI_SUCCESS;
}

struct printer_protocol {
  EFI_STATUS(EFIAPI* Print)();
};
constinit printer_protocol printer = {&print_events};
// {6E0F3A92-C4B7-4D15-8A2E-91F7D3B06C48}: private to this image.
constexpr EFI_GUID printer_guid = {0x6E0F3A92, 0xC4B7, 0x4D15, {0x8A, 0x2E, 0x91, 0xF7, 0xD3, 0xB0, 0x6C, 0x48}};

}  // namespace

extern "C" EFI_STATUS EFIAPI edk_controller_main(EFI_HANDLE image, EFI_SYSTEM_TABLE* st) {
  if (!murvane::support_init(image, st)) {
    return EFI_INVALID_PARAMETER;
  }
  g_st = st;
  // Loaded again: the first copy prints what its master saw, and this one
  // goes away.
  void* running = nullptr;
  if (st->BootServices->LocateProtocol(&printer_guid, nullptr, &running) == EFI_SUCCESS && running != nullptr) {
    static_cast<printer_protocol*>(running)->Print();
    return EFI_ABORTED;
  }
  size_t len = 0;
  if (EFI_ERROR(fwtest::read_own_volume_file(image, st, "\\sim.cfg", scenario_text, sizeof(scenario_text), &len))) {
    say("cannot read \\sim.cfg beside this image");
    return EFI_NOT_FOUND;
  }
  while (len > 0 &&
         (scenario_text[len - 1] == '\n' || scenario_text[len - 1] == '\r' || scenario_text[len - 1] == ' ')) {
    scenario_text[--len] = '\0';
  }
  fwsim::scenario sc = {};
  const char* bad = nullptr;
  if (fwsim::parse_scenario(scenario_text, len, &sc, &bad) != fwsim::parse_status::ok) {
    say("bad \\sim.cfg");
    return EFI_INVALID_PARAMETER;
  }
  chip = fwsim::chip_for(sc);
  sim_protocol.Chip = chip;
  bus.attach(chip, murvane::board::i2c_address, fakeboard::quirks{}, &counters, &report_broken);

  EFI_HANDLE own = image;
  EFI_STATUS s = install_protocol(&own, MURVANE_SIM_PLATFORM_PROTOCOL_GUID, &sim_protocol);
  if (EFI_ERROR(s)) {
    say("cannot install its protocols");
    return s;
  }
  // From here on an interface of ours is installed: stay resident.
  if (EFI_ERROR(fwhooks::hook_boot_services(st->BootServices, &counters, max_driver_images,
                                            &fwhooks::watch_loads_after_bridge))) {
    say("cannot hook the firmware's boot services");
    return EFI_SUCCESS;
  }
  fwhooks::observe_stalls(&look_at_reset_line);
  EFI_HANDLE controller = nullptr;
  if (EFI_ERROR(install_protocol(&controller, fwefi::EFI_DEVICE_PATH_PROTOCOL_GUID, &device_path)) ||
      EFI_ERROR(install_protocol(&controller, EFI_I2C_MASTER_PROTOCOL_GUID, &master)) ||
      EFI_ERROR(install_protocol(&controller, EFI_I2C_ENUMERATE_PROTOCOL_GUID, &enumerate_protocol)) ||
      EFI_ERROR(
          install_protocol(&controller, EFI_I2C_BUS_CONFIGURATION_MANAGEMENT_PROTOCOL_GUID, &configuration_protocol)) ||
      EFI_ERROR(install_protocol(&own, printer_guid, &printer))) {
    say("cannot install its protocols");
    return EFI_SUCCESS;
  }
  char line[fwsim::scenario_text_max + 40];
  fwsim::text_builder t(line, sizeof(line));
  t.put("chip: ").put(scenario_text);
  say(line);
  return EFI_SUCCESS;
}
