// SimPlatform.efi: a test-only boot-service driver that gives real firmware
// the two platform protocols the driver needs, EFI_ZELT_I2C_PROTOCOL and
// EFI_KORM_PROTOCOL, in front of the same behavioural chip models the host
// virtual platform uses. The chip is chosen at run time by \sim.cfg on the
// volume this image was loaded from (see firmware/sim_scenario.h).
//
// Time: the chip's clock runs as on the host virtual platform, on the
// driver's waits and the bus: every Stall the driver makes adds its
// microseconds, every transfer its time on a 400 kHz bus. The driver still
// calls the firmware's own Stall, which still really waits: this image
// only puts a counting step in front of it in the boot-services table. So a
// chip that is "busy for 20 ms" is busy for the same waits and transfers
// as on the host, whatever QEMU's speed, and a run is reproducible.
//
// Never shipped with the driver.
#include "firmware/efi_extra.h"
#include "firmware/fw_support.h"
#include "firmware/sim_platform_protocol.h"
#include "firmware/sim_scenario.h"
#include "firmware/text.h"
#include "murvane/board_settings.h"
#include "platform/platform.h"
#include "platform/protocols.h"
#include "sim/models/zq310x_model.h"
#include "sim/models/zq320x_model.h"
#include "sim/models/zq330x_model.h"
#include "sim/models/zq340x_model.h"
#include "sim/models/zq350x_model.h"
#include "sim/models/zq360x_model.h"

namespace {

// Transfer times on a 400 kHz bus, as on the host virtual platform.
constexpr uint64_t write_transfer_ns = 72500;
constexpr uint64_t read_transfer_ns = 95000;
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

constinit sim::ZQ310xModel model_zq310x;
constinit sim::ZQ320xModel model_zq320x;
constinit sim::ZQ330xModel model_zq330x;
constinit sim::ZQ340xModel model_zq340x;
constinit sim::ZQ350xModel model_zq350x;
constinit sim::ZQ360xModel model_zq360x;

constinit sim::ChipModel* chip = nullptr;
constinit char scenario_text[fwsim::scenario_text_max] = {};
constinit MURVANE_SIM_COUNTERS counters = {};
constinit UINT32 pin_level = 1;

using stall_fn = EFI_STATUS(EFIAPI*)(UINTN microseconds);
constinit stall_fn firmware_stall = nullptr;
constinit uintptr_t watched_begin = 0;
constinit uintptr_t watched_end = 0;

uint64_t now_ns() { return counters.StallUs * 1000 + counters.BusTimeNs; }

bool from_driver(uintptr_t from) { return watched_end == 0 || (from >= watched_begin && from < watched_end); }

EFI_STATUS EFIAPI counted_stall(UINTN microseconds) {
  if (from_driver(reinterpret_cast<uintptr_t>(__builtin_return_address(0)))) {
    ++counters.Stalls;
    counters.StallUs += microseconds;
  }
  return firmware_stall(microseconds);
}

// The firmware's RNG protocol as the driver sees it: a copy whose GetRNG
// notes what it handed out, so the test can tell where the driver's stack
// guard came from (the RNG's bytes, or the processor counter without one).
using locate_fn = EFI_STATUS(EFIAPI*)(const EFI_GUID* protocol, void* registration, void** iface);
constinit locate_fn firmware_locate = nullptr;
constinit EFI_RNG_PROTOCOL* firmware_rng = nullptr;

EFI_STATUS EFIAPI noted_rng_info(EFI_RNG_PROTOCOL* /*self*/, UINTN* list_size, EFI_RNG_ALGORITHM* list) {
  return firmware_rng->GetInfo(firmware_rng, list_size, list);
}

EFI_STATUS EFIAPI noted_rng_draw(EFI_RNG_PROTOCOL* /*self*/, EFI_RNG_ALGORITHM* algorithm, UINTN length, UINT8* value) {
  const EFI_STATUS s = firmware_rng->GetRNG(firmware_rng, algorithm, length, value);
  ++counters.RngDraws;
  counters.RngStatus = s;
  counters.RngValue = 0;
  for (UINTN i = 0; s == EFI_SUCCESS && value != nullptr && i < length && i < 8; ++i) {
    counters.RngValue = (counters.RngValue << 8) | value[i];
  }
  return s;
}

constinit EFI_RNG_PROTOCOL noted_rng = {&noted_rng_info, &noted_rng_draw};

EFI_STATUS EFIAPI counted_locate(const EFI_GUID* protocol, void* registration, void** iface) {
  const auto from = reinterpret_cast<uintptr_t>(__builtin_return_address(0));
  const EFI_STATUS s = firmware_locate(protocol, registration, iface);
  if (protocol != nullptr && guid_equal(*protocol, EFI_RNG_PROTOCOL_GUID) && from_driver(from)) {
    ++counters.RngLocates;
    if (s == EFI_SUCCESS && iface != nullptr && *iface != nullptr) {
      firmware_rng = static_cast<EFI_RNG_PROTOCOL*>(*iface);
      *iface = &noted_rng;
    }
  }
  return s;
}

EFI_STATUS EFIAPI watch_driver(const void* base, UINT64 size) {
  if (base == nullptr || size == 0) {
    return EFI_INVALID_PARAMETER;
  }
  watched_begin = reinterpret_cast<uintptr_t>(base);
  watched_end = watched_begin + size;
  // Forget the firmware's own waits so far (loading images from disk polls
  // with Stall). The driver has not run, so the chip has not seen the clock.
  counters.Stalls = 0;
  counters.StallUs = 0;
  return EFI_SUCCESS;
}

// The first image loaded after this one is the driver (the test
// application loads it next, and so does a Shell script after `load
// SimPlatform.efi`): it is watched from its load on, so the firmware's own
// waits in between never reach the chip's clock, whoever loaded it.
using load_fn = EFI_STATUS(EFIAPI*)(BOOLEAN boot_policy, EFI_HANDLE parent, EFI_DEVICE_PATH_PROTOCOL* path,
                                    void* source, UINTN size, EFI_HANDLE* image);
constinit load_fn firmware_load = nullptr;

EFI_STATUS EFIAPI watching_load(BOOLEAN boot_policy, EFI_HANDLE parent, EFI_DEVICE_PATH_PROTOCOL* path, void* source,
                                UINTN size, EFI_HANDLE* image) {
  const EFI_STATUS s = firmware_load(boot_policy, parent, path, source, size, image);
  void* li = nullptr;
  if (s == EFI_SUCCESS && watched_end == 0 && image != nullptr &&
      murvane::g_support.boot_services->HandleProtocol(*image, &fwefi::EFI_LOADED_IMAGE_PROTOCOL_GUID, &li) ==
          EFI_SUCCESS) {
    const auto* loaded = static_cast<const fwefi::EFI_LOADED_IMAGE_PROTOCOL*>(li);
    watch_driver(loaded->ImageBase, loaded->ImageSize);
  }
  return s;
}

// Puts counted_stall, counted_locate and watching_load in the boot-services table, in front
// of the firmware's Stall, LocateProtocol and LoadImage, and refreshes the table's
// checksum as firmware expects.
EFI_STATUS hook_boot_services(EFI_BOOT_SERVICES* bs) {
  using crc_fn = EFI_STATUS(EFIAPI*)(const void* data, UINTN size, UINT32* crc);
  const auto crc32 = reinterpret_cast<crc_fn>(bs->CalculateCrc32);
  if (bs->Stall == nullptr || bs->LocateProtocol == nullptr || bs->LoadImage == nullptr || crc32 == nullptr) {
    return EFI_UNSUPPORTED;
  }
  firmware_stall = bs->Stall;
  bs->Stall = &counted_stall;
  firmware_locate = bs->LocateProtocol;
  bs->LocateProtocol = &counted_locate;
  firmware_load = bs->LoadImage;
  bs->LoadImage = &watching_load;
  bs->Hdr.CRC32 = 0;
  UINT32 crc = 0;
  crc32(bs, bs->Hdr.HeaderSize, &crc);
  bs->Hdr.CRC32 = crc;
  return EFI_SUCCESS;
}

sim::ChipModel* model_for(sim::family_id family) {
  switch (family) {
    case sim::family_id::zq310x:
      return &model_zq310x;
    case sim::family_id::zq320x:
      return &model_zq320x;
    case sim::family_id::zq330x:
      return &model_zq330x;
    case sim::family_id::zq340x:
      return &model_zq340x;
    case sim::family_id::zq350x:
      return &model_zq350x;
    case sim::family_id::zq360x:
      return &model_zq360x;
  }
  return nullptr;
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
  counters.BusTimeNs += write ? write_transfer_ns : read_transfer_ns;
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
                                                        &counters, &watch_driver};

void say(EFI_SYSTEM_TABLE* st, const char* what, const char* detail) {
  char line[fwsim::scenario_text_max + 96];
  fwsim::text_builder t(line, sizeof(line));
  t.put("[SimPlatform] ").put(what).put(detail).put('\n');
  fwtest::print(st, line);
}

EFI_STATUS install(EFI_HANDLE* handle, const EFI_GUID& guid, void* iface) {
  return murvane::g_support.boot_services->InstallProtocolInterface(handle, &guid, EFI_NATIVE_INTERFACE, iface);
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
  if (sc.model != nullptr) {
    chip = model_for(sc.model->family);
    chip->configure(sc.model->id);
    fwsim::apply_scenario(sc, *chip);
  }
  sim_protocol.Chip = chip;

  EFI_HANDLE handle = image;
  const EFI_STATUS s = install(&handle, EFI_ZELT_I2C_PROTOCOL_GUID, &i2c_protocol);
  if (EFI_ERROR(s)) {
    say(st, "cannot install the platform protocols", "");
    return s;
  }
  // From here on an interface of ours is installed: stay resident whatever
  // happens, or the firmware would free what it points into. Without the
  // private protocol the test application reports the failure.
  if (EFI_ERROR(hook_boot_services(st->BootServices))) {
    say(st, "cannot hook the firmware's boot services", "");
    return EFI_SUCCESS;
  }
  if (EFI_ERROR(install(&handle, EFI_KORM_PROTOCOL_GUID, &korm_protocol)) ||
      EFI_ERROR(install(&handle, MURVANE_SIM_PLATFORM_PROTOCOL_GUID, &sim_protocol))) {
    say(st, "cannot install the platform protocols", "");
    return EFI_SUCCESS;
  }
  say(st, "chip: ", scenario_text);
  return EFI_SUCCESS;
}
