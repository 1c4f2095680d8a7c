// SimPlatform.efi: a test-only boot-service driver that gives real firmware
// the two platform protocols the driver needs, EFI_ZELT_I2C_PROTOCOL and
// EFI_KORM_PROTOCOL, in front of the same behavioural chip models the host
// virtual platform uses. The chip is chosen at run time by \sim.cfg on the
// volume this image was loaded from (see testbench/qemu/sim_scenario.h).
//
// Time: the chip's clock runs as on the host virtual platform, on the
// driver's waits and the bus: every Stall the driver makes adds its
// microseconds, every transfer its time at the bus clock of the slave
// configuration it was passed with (host/bus_timing.h). The driver still
// calls the firmware's own Stall, which still really waits: this image
// only puts a counting step in front of it in the boot-services table. So a
// chip that is "busy for 20 ms" is busy for the same waits and transfers
// as on the host, whatever QEMU's speed, and a run is reproducible.
//
// Never shipped with the driver.
#include "host/bus_timing.h"
#include "murvane/board_settings.h"
#include "platform/platform.h"
#include "platform/protocols.h"
#include "testbench/qemu/chip_models.h"
#include "testbench/qemu/efi_extra.h"
#include "testbench/qemu/fw_support.h"
#include "testbench/qemu/platform_hooks.h"
#include "testbench/qemu/sim_platform_protocol.h"
#include "testbench/qemu/sim_scenario.h"
#include "testbench/qemu/text.h"

namespace {

using murvane::install_protocol;

// Status of every transfer when nothing answers on the bus.
constexpr UINT32 no_chip_status = 5;
constexpr UINT64 bus_handle_value = 0x5A5A0005;

// What the driver is expected to ask for; anything else is counted. The bus,
// address and pin are the board settings the driver image was built with
// (the same generated header): a test platform of its own board.
constexpr UINT32 expected_instance = murvane::board::i2c_instance;
constexpr UINT32 expected_address = murvane::board::i2c_address;
constexpr UINT32 expected_timeout = 2500;
constexpr UINT32 expected_pin = murvane::board::reset_pin_word;

constinit sim::chip_model* chip = nullptr;
constinit char scenario_text[fwsim::scenario_text_max] = {};
constinit MURVANE_SIM_COUNTERS counters = {};
constinit UINT32 pin_level = 1;

uint64_t now_ns() { return counters.StallUs * 1000 + counters.BusTimeNs; }

// The first image loaded after this one is the driver (the test
// application loads it next, and so does a Shell script after `load
// SimPlatform.efi`): it is watched from its load on, so the firmware's own
// waits in between never reach the chip's clock, whoever loaded it. A later
// image of the same kind and size is the driver loaded again and is watched
// too (the Shell may `load` it again and again; each load's waits run the
// chip's clock); the test application and the C consumer are applications,
// never boot-service drivers, so they are not mistaken for it.
constexpr size_t max_driver_images = 8;
constinit EFI_MEMORY_TYPE driver_code_type = {};
constinit UINT64 driver_size = 0;

EFI_STATUS EFIAPI watching_load(BOOLEAN boot_policy, EFI_HANDLE parent, EFI_DEVICE_PATH_PROTOCOL* path, void* source,
                                UINTN size, EFI_HANDLE* image) {
  const EFI_STATUS s = fwhooks::firmware_load(boot_policy, parent, path, source, size, image);
  void* li = nullptr;
  if (s == EFI_SUCCESS && image != nullptr &&
      murvane::g_support.boot_services->HandleProtocol(*image, &fwefi::EFI_LOADED_IMAGE_PROTOCOL_GUID, &li) ==
          EFI_SUCCESS) {
    const auto* loaded = static_cast<const fwefi::EFI_LOADED_IMAGE_PROTOCOL*>(li);
    if (fwhooks::watched_images() == 0) {
      driver_code_type = loaded->ImageCodeType;
      driver_size = loaded->ImageSize;
      fwhooks::watch_image(loaded->ImageBase, loaded->ImageSize);
    } else if (loaded->ImageCodeType == driver_code_type && loaded->ImageSize == driver_size) {
      fwhooks::watch_image(loaded->ImageBase, loaded->ImageSize);
    }
  }
  return s;
}

UINT32 EFIAPI i2c_open(UINT32 instance, UINT64* handle) {
  ++counters.Opens;
  if (instance != expected_instance || handle == nullptr) {
    ++counters.BadRequests;
  }
  if (handle != nullptr) {
    *handle = bus_handle_value;
  }
  return 0;
}

UINT32 transfer(bool write, UINT64 handle, const UINT32* config, UINT32 reg, UINT32 reg_len, UINT8* data, UINT32 len,
                UINT32* transferred, UINT32 timeout) {
  // The slot the transfer takes at the clock it was passed with.
  counters.BusTimeNs += host::transfer_ns(write, config != nullptr ? config[0] : murvane::board::i2c_speed_khz);
  if (write) {
    ++counters.Writes;
  } else {
    ++counters.Reads;
  }
  if (handle != bus_handle_value || config == nullptr || config[1] != expected_address || reg_len != 1 || len != 1 ||
      data == nullptr || timeout != expected_timeout || reg > 0xFF) {
    ++counters.BadRequests;
  }
  if (chip == nullptr || data == nullptr) {
    // Nobody acknowledges: the caller's buffer stays as it was.
    ++counters.FailedTransfers;
    return no_chip_status;
  }
  chip->set_time(now_ns());
  const auto r = static_cast<uint8_t>(reg);
  if (write) {
    chip->write(r, *data);
  } else {
    *data = chip->read(r);
  }
  if (transferred != nullptr) {
    *transferred = len;
  }
  return 0;
}

UINT32 EFIAPI i2c_read(UINT64 handle, const UINT32* config, UINT32 reg, UINT32 reg_len, UINT8* data, UINT32 len,
                       UINT32* transferred, UINT32 timeout) {
  return transfer(false, handle, config, reg, reg_len, data, len, transferred, timeout);
}

UINT32 EFIAPI i2c_write(UINT64 handle, const UINT32* config, UINT32 reg, UINT32 reg_len, UINT8* data, UINT32 len,
                        UINT32* transferred, UINT32 timeout) {
  return transfer(true, handle, config, reg, reg_len, data, len, transferred, timeout);
}

EFI_STATUS EFIAPI pin_configure(UINT32 word, UINT32 /*value*/) {
  ++counters.PinConfigures;
  if (word != expected_pin) {
    ++counters.BadRequests;
  }
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI pin_set_output(UINT32 word, UINT32 level) {
  ++counters.PinOutputs;
  if (word != expected_pin) {
    ++counters.BadRequests;
  }
  // A low-to-high edge ends a reset pulse.
  if (level != 0 && pin_level == 0) {
    ++counters.ResetPulses;
    if (chip != nullptr) {
      chip->set_time(now_ns());
      chip->reset_pulse();
    }
  }
  pin_level = level;
  return EFI_SUCCESS;
}

constinit EFI_ZELT_I2C_PROTOCOL i2c_protocol = {nullptr, &i2c_open, &i2c_read, &i2c_write};
constinit EFI_KORM_PROTOCOL korm_protocol = {nullptr, &pin_configure, nullptr, nullptr, &pin_set_output};
constinit MURVANE_SIM_PLATFORM_PROTOCOL sim_protocol = {MURVANE_SIM_PLATFORM_PROTOCOL_REVISION, scenario_text, nullptr,
                                                        &counters, &fwhooks::watch_image};

void say(EFI_SYSTEM_TABLE* st, const char* what, const char* detail) {
  char line[fwsim::scenario_text_max + 96];
  fwsim::text_builder t(line, sizeof(line));
  t.put("[SimPlatform] ").put(what).put(detail).put('\n');
  fwtest::print(st, line);
}

}  // namespace

extern "C" EFI_STATUS EFIAPI sim_platform_main(EFI_HANDLE image, EFI_SYSTEM_TABLE* st) {
  if (!murvane::support_init(image, st)) {
    return EFI_INVALID_PARAMETER;
  }
  size_t len = 0;
  const EFI_STATUS rs =
      fwtest::read_own_volume_file(image, st, "\\sim.cfg", scenario_text, sizeof(scenario_text), &len);
  if (EFI_ERROR(rs)) {
    say(st, "cannot read \\sim.cfg beside this image", "");
    return rs;
  }
  // The scenario as one line, for the record.
  for (size_t i = 0; i < len; ++i) {
    if (scenario_text[i] == '\r' || scenario_text[i] == '\n' || scenario_text[i] == '\t') {
      scenario_text[i] = ' ';
    }
  }
  while (len > 0 && scenario_text[len - 1] == ' ') {
    scenario_text[--len] = '\0';
  }
  fwsim::scenario sc = {};
  const char* bad = nullptr;
  const fwsim::parse_status ps = fwsim::parse_scenario(scenario_text, len, &sc, &bad);
  if (ps != fwsim::parse_status::ok) {
    char why[160];
    fwsim::text_builder t(why, sizeof(why));
    t.put(fwsim::parse_status_text(ps));
    if (bad != nullptr) {
      t.put(", at: ").put(bad);
    }
    say(st, "bad \\sim.cfg: ", why);
    return EFI_INVALID_PARAMETER;
  }
  chip = fwsim::chip_for(sc);
  sim_protocol.Chip = chip;

  EFI_HANDLE handle = image;
  const EFI_STATUS s = install_protocol(&handle, EFI_ZELT_I2C_PROTOCOL_GUID, &i2c_protocol);
  if (EFI_ERROR(s)) {
    say(st, "cannot install the platform protocols", "");
    return s;
  }
  // From here on an interface of ours is installed: stay resident whatever
  // happens, or the firmware would free what it points into. Without the
  // private protocol the test application reports the failure.
  if (EFI_ERROR(fwhooks::hook_boot_services(st->BootServices, &counters, max_driver_images, &watching_load))) {
    say(st, "cannot hook the firmware's boot services", "");
    return EFI_SUCCESS;
  }
  if (EFI_ERROR(install_protocol(&handle, EFI_KORM_PROTOCOL_GUID, &korm_protocol)) ||
      EFI_ERROR(install_protocol(&handle, MURVANE_SIM_PLATFORM_PROTOCOL_GUID, &sim_protocol))) {
    say(st, "cannot install the platform protocols", "");
    return EFI_SUCCESS;
  }
  say(st, "chip: ", scenario_text);
  return EFI_SUCCESS;
}
