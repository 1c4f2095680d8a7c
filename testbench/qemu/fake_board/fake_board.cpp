// FakeBoard.efi: a test-only boot-service driver that behaves like the I2C
// stack and GPIO driver of a stock EDK2 board, in front of the same chip
// models as SimPlatform.efi. It publishes:
//   - one EFI_I2C_MASTER_PROTOCOL (the controller the chip is on);
//   - two EFI_I2C_IO_PROTOCOL devices, as the generic I2C bus driver would
//     enumerate them: first an EEPROM at 0x50 that nobody should talk to,
//     then the haptic chip, whose DeviceGuid is the bridge's board setting;
//   - EMBEDDED_GPIO, the chip's reset line at the bridge's board pin, with
//     the board's polarity (an active-low board has an inverter);
//   - the private simulated-platform protocol of the test application
//     (testbench/qemu/sim_platform_protocol.h), so BOOTAA64.EFI prints the same
//     verdict and counters as with SimPlatform.efi.
// The chip is chosen by \sim.cfg, the master driver's behaviour by the
// optional \board.cfg (testbench/qemu/fake_board/fake_bus.h). Several scenarios
// in \sim.cfg, separated by ',', are played one after the other in one boot
// (testbench/qemu/fake_board/fake_board_protocol.h).
//
// Time runs as in SimPlatform.efi: the driver's own Stall calls and the
// modelled transfer times. Every image loaded once EFI_ZELT_I2C_PROTOCOL is
// installed (by the bridge) is watched: the driver, and in a batch each
// later copy of it and the test application (which makes no Stall calls);
// from the first such load on, only their Stall and LocateProtocol calls
// count.
//
// Never shipped.
#include "bridge/pi_i2c.h"
#include "murvane/board_settings.h"
#include "murvane/bridge_settings.h"
#include "platform/platform.h"
#include "platform/protocols.h"
#include "testbench/qemu/chip_models.h"
#include "testbench/qemu/efi_extra.h"
#include "testbench/qemu/fake_board/fake_board_protocol.h"
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
// The whole of \sim.cfg, and where the next scenario in it starts.
constinit char rounds_text[fwsim::scenario_text_max] = {};
constinit size_t next_round_at = 0;
constinit char board_text[fwsim::scenario_text_max] = {};
constinit MURVANE_SIM_COUNTERS counters = {};
constinit fakeboard::fake_bus bus;
// The chip's reset line (high = released), as the GPIO and the board's
// inverter, if any, make it.
constinit UINT32 reset_line = 1;

void say(const char* what, const char* detail) {
  char line[fwsim::scenario_text_max + 160];
  fwsim::text_builder t(line, sizeof(line));
  t.put("[FakeBoard] ").put(what).put(detail).put('\n');
  fwtest::print(g_st, line);
}

// A request a real stack would refuse: one clear line, on a line of its own.
void report_broken(const char* what) {
  char line[200];
  fwsim::text_builder t(line, sizeof(line));
  t.put("\n[FakeBoard] broken request: ").put(what).put('\n');
  fwtest::print(g_st, line);
}

// ---- time: the driver's waits, as in SimPlatform.efi ----

// The driver comes after the bridge: every image loaded once the bridge's
// bus protocol is there is watched (fwhooks::watch_loads_after_bridge).
constexpr size_t max_driver_images = 24;

// ---- the I2C stack ----

constexpr EFI_I2C_CONTROLLER_CAPABILITIES capabilities = {sizeof(EFI_I2C_CONTROLLER_CAPABILITIES), 32, 32, 64};

EFI_STATUS EFIAPI master_set_bus_frequency(const EFI_I2C_MASTER_PROTOCOL* /*self*/, UINTN* hz) {
  return bus.set_bus_frequency(hz);
}

EFI_STATUS EFIAPI master_reset(const EFI_I2C_MASTER_PROTOCOL* /*self*/) { return bus.reset(); }

EFI_STATUS EFIAPI master_start_request(const EFI_I2C_MASTER_PROTOCOL* /*self*/, UINTN address,
                                       EFI_I2C_REQUEST_PACKET* packet, EFI_EVENT event, EFI_STATUS* i2c_status) {
  return bus.request(address, packet, event, i2c_status, fwtest::current_tpl());
}

constinit EFI_I2C_MASTER_PROTOCOL master = {&master_set_bus_frequency, &master_reset, &master_start_request,
                                            &capabilities};

// {7C2E4B10-39A5-4D8E-B6F1-0A9D3C5E2F47}: an EEPROM on the same bus.
constexpr EFI_GUID eeprom_guid = {0x7C2E4B10, 0x39A5, 0x4D8E, {0xB6, 0xF1, 0x0A, 0x9D, 0x3C, 0x5E, 0x2F, 0x47}};
constexpr EFI_GUID chip_guid = murvane::bridge_board::device_guid;

EFI_STATUS EFIAPI eeprom_queue_request(const EFI_I2C_IO_PROTOCOL* /*self*/, UINTN /*index*/, EFI_EVENT /*event*/,
                                       EFI_I2C_REQUEST_PACKET* /*packet*/, EFI_STATUS* /*i2c_status*/) {
  ++counters.BadRequests;
  report_broken("a request to the EEPROM, not the haptic chip (DeviceGuid ignored?)");
  return EFI_DEVICE_ERROR;
}

EFI_STATUS EFIAPI chip_queue_request(const EFI_I2C_IO_PROTOCOL* /*self*/, UINTN index, EFI_EVENT event,
                                     EFI_I2C_REQUEST_PACKET* packet, EFI_STATUS* i2c_status) {
  if (index != 0) {
    ++counters.BadRequests;
    report_broken("a slave address index the device does not have (it has one, index 0)");
    return EFI_INVALID_PARAMETER;
  }
  bus.configure_for_device();
  return bus.request(murvane::board::i2c_address, packet, event, i2c_status, fwtest::current_tpl());
}

constinit EFI_I2C_IO_PROTOCOL eeprom_io = {&eeprom_queue_request, &eeprom_guid, 0, 1, &capabilities};
constinit EFI_I2C_IO_PROTOCOL chip_io = {&chip_queue_request, &chip_guid, 1, 1, &capabilities};

// ---- the GPIO ----

constexpr UINTN reset_gpio = murvane::bridge_board::gpio_pin;
constexpr bool inverted = murvane::bridge_board::gpio_active_low;
constinit EMBEDDED_GPIO_MODE gpio_mode = GPIO_MODE_INPUT;

EFI_STATUS EFIAPI gpio_get(EMBEDDED_GPIO* /*self*/, EMBEDDED_GPIO_PIN pin, UINTN* value) {
  if (value == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  *value = pin == reset_gpio ? (reset_line != 0) != inverted : 0;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI gpio_set(EMBEDDED_GPIO* /*self*/, EMBEDDED_GPIO_PIN pin, EMBEDDED_GPIO_MODE mode) {
  ++counters.PinOutputs;
  if (pin != reset_gpio) {
    ++counters.BadRequests;
    report_broken("EMBEDDED_GPIO.Set on a pin that is not the chip's reset line");
    return EFI_INVALID_PARAMETER;
  }
  if (mode != GPIO_MODE_OUTPUT_0 && mode != GPIO_MODE_OUTPUT_1) {
    ++counters.BadRequests;
    report_broken("EMBEDDED_GPIO.Set of the reset line to a mode other than output low or high");
    return EFI_UNSUPPORTED;
  }
  gpio_mode = mode;
  const UINT32 line = (mode == GPIO_MODE_OUTPUT_1) != inverted ? 1 : 0;
  // A low-to-high edge of the reset line ends a reset pulse.
  if (line != 0 && reset_line == 0) {
    ++counters.ResetPulses;
    if (chip != nullptr) {
      chip->set_time(counters.StallUs * 1000 + counters.BusTimeNs);
      chip->reset_pulse();
    }
  }
  reset_line = line;
  bus.set_in_reset(line == 0);
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI gpio_get_mode(EMBEDDED_GPIO* /*self*/, EMBEDDED_GPIO_PIN pin, EMBEDDED_GPIO_MODE* mode) {
  if (mode == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  *mode = pin == reset_gpio ? gpio_mode : GPIO_MODE_INPUT;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI gpio_set_pull(EMBEDDED_GPIO* /*self*/, EMBEDDED_GPIO_PIN /*pin*/, EMBEDDED_GPIO_PULL pull) {
  return pull <= 2 ? EFI_SUCCESS : EFI_INVALID_PARAMETER;
}

constinit EMBEDDED_GPIO gpio = {&gpio_get, &gpio_set, &gpio_get_mode, &gpio_set_pull};

constinit MURVANE_SIM_PLATFORM_PROTOCOL sim_protocol = {MURVANE_SIM_PLATFORM_PROTOCOL_REVISION, scenario_text, nullptr,
                                                        &counters, &fwhooks::watch_image};

// A text file beside this image as one line; false when it cannot be read.
bool read_line_file(EFI_HANDLE image, const char* path, char* text, size_t cap, size_t* len) {
  if (EFI_ERROR(fwtest::read_own_volume_file(image, g_st, path, text, cap, len))) {
    return false;
  }
  for (size_t i = 0; i < *len; ++i) {
    if (text[i] == '\r' || text[i] == '\n' || text[i] == '\t') {
      text[i] = ' ';
    }
  }
  while (*len > 0 && text[*len - 1] == ' ') {
    text[--*len] = '\0';
  }
  return true;
}

// ---- rounds: several chips in one boot ----

constinit fakeboard::quirks board_quirks = {};

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The scenario from `at` up to the next ',' or the end; where the one after starts.
size_t round_end(size_t at) {
  while (rounds_text[at] != '\0' && rounds_text[at] != ',') {
    ++at;
  }
  return at;
}

bool start_round(size_t at) {
  const size_t end = round_end(at);
  next_round_at = rounds_text[end] == ',' ? end + 1 : end;
  while (at < end && is_blank(rounds_text[at])) {
    ++at;
  }
  size_t len = 0;
  while (at + len < end && len + 1 < sizeof(scenario_text)) {
    scenario_text[len] = rounds_text[at + len];
    ++len;
  }
  while (len > 0 && is_blank(scenario_text[len - 1])) {
    --len;
  }
  scenario_text[len] = '\0';
  fwsim::scenario sc = {};
  const char* bad = nullptr;
  const fwsim::parse_status ps = fwsim::parse_scenario(scenario_text, len, &sc, &bad);
  if (ps != fwsim::parse_status::ok) {
    say("bad \\sim.cfg: ", fwsim::parse_status_text(ps));
    return false;
  }
  chip = fwsim::chip_for(sc);
  // A fresh machine: nothing counted, the reset line released, the
  // controller without a clock.
  sim_protocol.Chip = chip;
  counters = {};
  reset_line = 1;
  gpio_mode = GPIO_MODE_INPUT;
  bus.attach(chip, murvane::board::i2c_address, board_quirks, &counters, &report_broken);
  return true;
}

UINT64 EFIAPI rounds_left() {
  UINT64 n = 0;
  for (size_t at = next_round_at; rounds_text[at] != '\0';) {
    const size_t end = round_end(at);
    bool words = false;
    for (size_t i = at; i < end; ++i) {
      words = words || !is_blank(rounds_text[i]);
    }
    n += words ? 1 : 0;
    at = rounds_text[end] == ',' ? end + 1 : end;
  }
  return n;
}

EFI_STATUS EFIAPI next_round() {
  if (rounds_left() == 0) {
    return EFI_NOT_FOUND;
  }
  if (!start_round(next_round_at)) {
    return EFI_INVALID_PARAMETER;
  }
  say("next chip: ", scenario_text);
  return EFI_SUCCESS;
}

constinit FAKE_BOARD_ROUNDS_PROTOCOL rounds_protocol = {&rounds_left, &next_round};

}  // namespace

extern "C" EFI_STATUS EFIAPI fake_board_main(EFI_HANDLE image, EFI_SYSTEM_TABLE* st) {
  if (!murvane::support_init(image, st)) {
    return EFI_INVALID_PARAMETER;
  }
  g_st = st;
  // Loaded again: the board there moves on to its next chip.
  void* running = nullptr;
  if (st->BootServices->LocateProtocol(&FAKE_BOARD_ROUNDS_PROTOCOL_GUID, nullptr, &running) == EFI_SUCCESS &&
      running != nullptr) {
    const EFI_STATUS s = static_cast<FAKE_BOARD_ROUNDS_PROTOCOL*>(running)->NextRound();
    if (EFI_ERROR(s)) {
      say("loaded again, but no next chip in \\sim.cfg", "");
    }
    return s;
  }
  size_t len = 0;
  if (!read_line_file(image, "\\sim.cfg", rounds_text, sizeof(rounds_text), &len)) {
    say("cannot read \\sim.cfg beside this image", "");
    return EFI_NOT_FOUND;
  }
  size_t board_len = 0;
  const char* bad = nullptr;
  if (read_line_file(image, "\\board.cfg", board_text, sizeof(board_text), &board_len) &&
      !fakeboard::parse_quirks(board_text, board_len, &board_quirks, &bad)) {
    say("bad \\board.cfg, unknown behaviour at: ", bad);
    return EFI_INVALID_PARAMETER;
  }
  if (!start_round(0)) {
    return EFI_INVALID_PARAMETER;
  }

  // Each on its own handle, as a controller, its enumerated devices and a
  // GPIO controller are; the EEPROM is enumerated before the chip.
  EFI_HANDLE master_handle = nullptr;
  EFI_HANDLE eeprom_handle = nullptr;
  EFI_HANDLE chip_handle = nullptr;
  EFI_HANDLE gpio_handle = nullptr;
  EFI_HANDLE own = image;
  const EFI_STATUS s = install_protocol(&own, MURVANE_SIM_PLATFORM_PROTOCOL_GUID, &sim_protocol);
  if (EFI_ERROR(s)) {
    say("cannot install the board's protocols", "");
    return s;
  }
  // From here on an interface of ours is installed: stay resident.
  if (EFI_ERROR(fwhooks::hook_boot_services(st->BootServices, &counters, max_driver_images,
                                            &fwhooks::watch_loads_after_bridge))) {
    say("cannot hook the firmware's boot services", "");
    return EFI_SUCCESS;
  }
  if (EFI_ERROR(install_protocol(&master_handle, EFI_I2C_MASTER_PROTOCOL_GUID, &master)) ||
      EFI_ERROR(install_protocol(&eeprom_handle, EFI_I2C_IO_PROTOCOL_GUID, &eeprom_io)) ||
      EFI_ERROR(install_protocol(&chip_handle, EFI_I2C_IO_PROTOCOL_GUID, &chip_io)) ||
      EFI_ERROR(install_protocol(&gpio_handle, EMBEDDED_GPIO_PROTOCOL_GUID, &gpio)) ||
      EFI_ERROR(install_protocol(&own, FAKE_BOARD_ROUNDS_PROTOCOL_GUID, &rounds_protocol))) {
    say("cannot install the board's protocols", "");
    return EFI_SUCCESS;
  }
  say("chip: ", scenario_text);
  say("master: ", board_len > 0 ? board_text : "a well-behaved one");
  return EFI_SUCCESS;
}
