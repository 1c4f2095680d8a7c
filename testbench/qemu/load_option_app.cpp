// EFI/BOOT/BOOTAA64.EFI of the load-option test disk (test only): shows the
// driver loaded by the firmware's boot manager from Driver####/DriverOrder,
// the way platforms without a DXE dispatcher for it load drivers, with no
// dependency expression looked at.
//
// First boot (no DriverOrder yet): writes one active Driver#### option per
// image named in \loadopt.cfg ("SimPlatform.efi Murvane.efi", or just
// "Murvane.efi" for a driver that comes before any bus protocol), each a
// file path on this disk, and DriverOrder in that order; then a warm reset.
//
// Second boot: the boot manager has loaded and started those images before
// it booted this application. It reports what it finds: whether the test
// platform is there (and loads it now if not), the bus traffic so far, the
// driver's protocol and the image it sits on; then it calls Start, prints
// the verdict on the simulated chip and powers the machine off.
//
// Lines of its own start with "[loadopt] ". The driver's console output
// during Start comes between "[loadopt] start: begin" and "[loadopt] start:
// status ...", as with the other test applications.
#include "platform/log.h"
#include "platform/platform.h"
#include "platform/protocols.h"
#include "testbench/qemu/console_record_protocol.h"
#include "testbench/qemu/efi_extra.h"
#include "testbench/qemu/fw_support.h"
#include "testbench/qemu/sim_platform_protocol.h"
#include "testbench/qemu/sim_scenario.h"
#include "testbench/qemu/text.h"

namespace {

// EFI_GLOBAL_VARIABLE: where Driver#### and DriverOrder live.
constexpr EFI_GUID global_variable_guid = {
    0x8BE4DF61, 0x93CA, 0x11D2, {0xAA, 0x0D, 0x00, 0xE0, 0x98, 0x03, 0x2B, 0x8C}};
constexpr UINT32 var_non_volatile = 0x1;
constexpr UINT32 var_boot_service = 0x2;
constexpr UINT32 var_runtime = 0x4;
constexpr UINT32 load_option_active = 0x1;
constexpr size_t max_options = 4;

using get_variable_fn = EFI_STATUS(EFIAPI*)(const CHAR16* name, const EFI_GUID* vendor, UINT32* attributes, UINTN* size,
                                            void* data);
using set_variable_fn = EFI_STATUS(EFIAPI*)(const CHAR16* name, const EFI_GUID* vendor, UINT32 attributes, UINTN size,
                                            const void* data);
using locate_handle_fn = EFI_STATUS(EFIAPI*)(EFI_LOCATE_SEARCH_TYPE type, const EFI_GUID* protocol, void* key,
                                             UINTN* size, EFI_HANDLE* buffer);

constinit EFI_SYSTEM_TABLE* g_st = nullptr;

void print(const char* text) { fwtest::print(g_st, text); }

void print_status_line(const char* head, EFI_STATUS s) { fwtest::print_status_line(g_st, head, s); }

// "Driver" and four upper-case hex digits, as UCS-2.
void option_name(unsigned index, CHAR16 (&out)[11]) {
  const char* head = "Driver";
  size_t n = 0;
  for (; head[n] != '\0'; ++n) {
    out[n] = static_cast<CHAR16>(head[n]);
  }
  for (int shift = 12; shift >= 0; shift -= 4) {
    out[n++] = static_cast<CHAR16>("0123456789ABCDEF"[(index >> shift) & 0xF]);
  }
  out[n] = 0;
}

// The device path of the volume this application was loaded from, without
// its end node: the file-path node of each option goes after it.
EFI_STATUS own_volume_path(EFI_HANDLE image, const uint8_t** path, size_t* len) {
  EFI_BOOT_SERVICES* bs = g_st->BootServices;
  void* li = nullptr;
  EFI_STATUS s = bs->HandleProtocol(image, &fwefi::EFI_LOADED_IMAGE_PROTOCOL_GUID, &li);
  if (EFI_ERROR(s)) {
    return s;
  }
  void* dp = nullptr;
  s = bs->HandleProtocol(static_cast<fwefi::EFI_LOADED_IMAGE_PROTOCOL*>(li)->DeviceHandle,
                         &fwefi::EFI_DEVICE_PATH_PROTOCOL_GUID, &dp);
  if (EFI_ERROR(s)) {
    return s;
  }
  const auto* base = static_cast<const uint8_t*>(dp);
  size_t n = 0;
  for (;;) {
    const auto* node = reinterpret_cast<const fwefi::EFI_DEVICE_PATH*>(base + n);
    const size_t node_len = static_cast<size_t>(node->Length[0] | (node->Length[1] << 8));
    if (node->Type == fwefi::END_DEVICE_PATH_TYPE || node_len < sizeof(fwefi::EFI_DEVICE_PATH)) {
      break;
    }
    n += node_len;
  }
  *path = base;
  *len = n;
  return EFI_SUCCESS;
}

// EFI_LOAD_OPTION: Attributes (u32), FilePathListLength (u16), the
// description (UCS-2, NUL-terminated), the file path list; packed, no
// optional data.
size_t build_option(const uint8_t* volume, size_t volume_len, const char* file, uint8_t* out, size_t cap) {
  size_t chars = 0;
  while (file[chars] != '\0') {
    ++chars;
  }
  const size_t file_node = sizeof(fwefi::EFI_DEVICE_PATH) + (chars + 2) * sizeof(CHAR16);  // "\" + name + NUL
  const size_t path_len = volume_len + file_node + sizeof(fwefi::EFI_DEVICE_PATH);
  const size_t desc_len = (chars + 1) * sizeof(CHAR16);
  const size_t total = 6 + desc_len + path_len;
  if (total > cap || path_len > 0xFFFF) {
    return 0;
  }
  size_t at = 0;
  auto put8 = [&](uint8_t b) { out[at++] = b; };
  auto put16 = [&](uint16_t v) {
    put8(static_cast<uint8_t>(v));
    put8(static_cast<uint8_t>(v >> 8));
  };
  put16(static_cast<uint16_t>(load_option_active));
  put16(0);
  put16(static_cast<uint16_t>(path_len));
  for (size_t i = 0; i < chars; ++i) {  // the description: the file's name
    put16(static_cast<unsigned char>(file[i]));
  }
  put16(0);
  for (size_t i = 0; i < volume_len; ++i) {
    put8(volume[i]);
  }
  put8(fwefi::MEDIA_DEVICE_PATH);
  put8(fwefi::MEDIA_FILEPATH_DP);
  put16(static_cast<uint16_t>(file_node));
  put16('\\');
  for (size_t i = 0; i < chars; ++i) {
    put16(static_cast<unsigned char>(file[i]));
  }
  put16(0);
  put8(fwefi::END_DEVICE_PATH_TYPE);
  put8(fwefi::END_ENTIRE_DEVICE_PATH_SUBTYPE);
  put16(sizeof(fwefi::EFI_DEVICE_PATH));
  return at;
}

// Splits \loadopt.cfg into up to max_options names (cut in place).
size_t parse_config(char* text, const char* (&names)[max_options]) {
  size_t count = 0;
  char* p = text;
  while (*p != '\0') {
    while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n') {
      *p++ = '\0';
    }
    if (*p == '\0') {
      break;
    }
    if (count == max_options) {
      return max_options + 1;
    }
    names[count++] = p;
    while (*p != '\0' && *p != ' ' && *p != '\t' && *p != '\r' && *p != '\n') {
      ++p;
    }
  }
  return count;
}

// "Driver0001": the load option's variable name, as the lines print it.
void put_option_name(fwsim::text_builder& t, size_t index) {
  t.put("Driver");
  for (int shift = 12; shift >= 0; shift -= 4) {
    t.put("0123456789ABCDEF"[(index >> shift) & 0xF]);
  }
}

void write_options(EFI_HANDLE image) {
  static constinit char config[128] = {};
  size_t len = 0;
  EFI_STATUS s = fwtest::read_own_volume_file(image, g_st, "\\loadopt.cfg", config, sizeof(config), &len);
  if (EFI_ERROR(s)) {
    print_status_line("[loadopt] cannot read \\loadopt.cfg: ", s);
    return;
  }
  const char* names[max_options] = {};
  const size_t count = parse_config(config, names);
  if (count == 0 || count > max_options) {
    print("[loadopt] \\loadopt.cfg must name one to four images\n");
    return;
  }
  const uint8_t* volume = nullptr;
  size_t volume_len = 0;
  s = own_volume_path(image, &volume, &volume_len);
  if (EFI_ERROR(s)) {
    print_status_line("[loadopt] no device path for this volume: ", s);
    return;
  }
  const auto set = reinterpret_cast<set_variable_fn>(g_st->RuntimeServices->SetVariable);
  constexpr UINT32 attributes = var_non_volatile | var_boot_service | var_runtime;
  UINT16 order[max_options] = {};
  static constinit uint8_t option[512] = {};
  for (size_t i = 0; i < count; ++i) {
    const size_t size = build_option(volume, volume_len, names[i], option, sizeof(option));
    CHAR16 name[11];
    option_name(static_cast<unsigned>(i), name);
    s = size == 0 ? EFI_BAD_BUFFER_SIZE : set(name, &global_variable_guid, attributes, size, option);
    char line[128];
    fwsim::text_builder t(line, sizeof(line));
    put_option_name(t.put("[loadopt] "), i);
    t.put(" = active, \\").put(names[i]).put(" on this disk: ");
    fwtest::put_status(t, s);
    t.put('\n');
    print(line);
    if (EFI_ERROR(s)) {
      return;
    }
    order[i] = static_cast<UINT16>(i);
  }
  const CHAR16 driver_order[] = {'D', 'r', 'i', 'v', 'e', 'r', 'O', 'r', 'd', 'e', 'r', 0};
  s = set(driver_order, &global_variable_guid, attributes, count * sizeof(UINT16), order);
  print_status_line("[loadopt] DriverOrder written: ", s);
  if (EFI_ERROR(s)) {
    return;
  }
  print("[loadopt] warm reset\n");
  g_st->RuntimeServices->ResetSystem(EfiResetWarm, EFI_SUCCESS, 0, nullptr);
}

// The handle EFI_ZELT_I2C_HAPTIC_PROTOCOL is installed on: the driver's image.
EFI_HANDLE haptic_handle() {
  const auto locate = reinterpret_cast<locate_handle_fn>(g_st->BootServices->LocateHandle);
  EFI_HANDLE handles[4] = {};
  UINTN size = sizeof(handles);
  const EFI_STATUS s = locate(ByProtocol, &EFI_ZELT_I2C_HAPTIC_PROTOCOL_GUID, nullptr, &size, handles);
  return EFI_ERROR(s) || size < sizeof(EFI_HANDLE) ? nullptr : handles[0];
}

void print_counters(const char* head, const MURVANE_SIM_COUNTERS& c) {
  char line[192];
  fwsim::text_builder t(line, sizeof(line));
  t.put("[loadopt] ").put(head).put(": opens ").dec(c.Opens).put(", reads ").dec(c.Reads);
  t.put(", writes ").dec(c.Writes).put(", failed transfers ").dec(c.FailedTransfers);
  t.put(", reset pulses ").dec(c.ResetPulses).put(", bad requests ").dec(c.BadRequests).put('\n');
  print(line);
}

// What ConRecord.efi, the first driver option, kept of the console output
// since it was loaded: the other driver options' lines, which the firmware
// wrote before it connected any console, then the boot manager's own.
void print_console_record() {
  void* located = nullptr;
  const EFI_STATUS s = g_st->BootServices->LocateProtocol(&MURVANE_CONSOLE_RECORD_GUID, nullptr, &located);
  if (EFI_ERROR(s)) {
    print_status_line("[loadopt] no console record: ", s);
    return;
  }
  const auto* record = static_cast<const MURVANE_CONSOLE_RECORD*>(located);
  record->Stop();
  print("[loadopt] console record: begin\n");
  print(record->Text);
  char line[96];
  fwsim::text_builder t(line, sizeof(line));
  t.put("\n[loadopt] console record: end, ").dec(record->Length).put(" characters, ");
  t.dec(record->Dropped).put(" dropped\n");
  print(line);
}

void print_driver_order(const UINT16* order, size_t count) {
  char line[96];
  fwsim::text_builder t(line, sizeof(line));
  t.put("[loadopt] booted with DriverOrder:");
  for (size_t i = 0; i < count; ++i) {
    put_option_name(t.put(' '), order[i]);
  }
  t.put('\n');
  print(line);
}

// The simulated platform: loaded by a driver option before this
// application, or loaded now from this disk. Null when there is none.
const MURVANE_SIM_PLATFORM_PROTOCOL* find_platform(EFI_HANDLE image) {
  EFI_BOOT_SERVICES* bs = g_st->BootServices;
  void* located = nullptr;
  EFI_STATUS s = bs->LocateProtocol(&MURVANE_SIM_PLATFORM_PROTOCOL_GUID, nullptr, &located);
  if (!EFI_ERROR(s)) {
    print("[loadopt] SimPlatform.efi: loaded before this application\n");
  } else {
    EFI_HANDLE platform = nullptr;
    s = fwtest::load_own_volume_image(image, g_st, "\\SimPlatform.efi", &platform);
    if (!EFI_ERROR(s)) {
      s = bs->StartImage(platform, nullptr, nullptr);
    }
    print_status_line("[loadopt] SimPlatform.efi: not there before this application; loaded now: ", s);
    s = bs->LocateProtocol(&MURVANE_SIM_PLATFORM_PROTOCOL_GUID, nullptr, &located);
  }
  const auto* sim = static_cast<const MURVANE_SIM_PLATFORM_PROTOCOL*>(located);
  if (EFI_ERROR(s) || sim == nullptr || sim->Revision != MURVANE_SIM_PLATFORM_PROTOCOL_REVISION) {
    print_status_line("[loadopt] no simulated platform: ", s);
    return nullptr;
  }
  return sim;
}

// The driver's protocol and its image, installed by its driver option
// before this application; false (after saying why) when they are not.
bool find_driver(const EFI_ZELT_I2C_HAPTIC_PROTOCOL** haptic, const fwefi::EFI_LOADED_IMAGE_PROTOCOL** loaded) {
  EFI_BOOT_SERVICES* bs = g_st->BootServices;
  const EFI_HANDLE driver = haptic_handle();
  void* located = nullptr;
  EFI_STATUS s = bs->LocateProtocol(&EFI_ZELT_I2C_HAPTIC_PROTOCOL_GUID, nullptr, &located);
  *haptic = static_cast<const EFI_ZELT_I2C_HAPTIC_PROTOCOL*>(located);
  if (EFI_ERROR(s) || *haptic == nullptr || driver == nullptr) {
    print_status_line("[loadopt] protocol: not installed before this application: ", s);
    return false;
  }
  void* li = nullptr;
  s = bs->HandleProtocol(driver, &fwefi::EFI_LOADED_IMAGE_PROTOCOL_GUID, &li);
  if (EFI_ERROR(s)) {
    print_status_line("[loadopt] protocol: not on an image handle: ", s);
    return false;
  }
  *loaded = static_cast<const fwefi::EFI_LOADED_IMAGE_PROTOCOL*>(li);
  return true;
}

// The image's file path: its last file-path node, as ASCII.
const char* image_file_name(const fwefi::EFI_LOADED_IMAGE_PROTOCOL& loaded) {
  const auto* node = reinterpret_cast<const uint8_t*>(loaded.FilePath);
  const char* name = "(no file path)";
  static constinit char path[64] = {};
  for (size_t guard = 0; node != nullptr && guard < 16; ++guard) {
    const auto* n = reinterpret_cast<const fwefi::EFI_DEVICE_PATH*>(node);
    const size_t n_len = static_cast<size_t>(n->Length[0] | (n->Length[1] << 8));
    if (n->Type == fwefi::END_DEVICE_PATH_TYPE || n_len < sizeof(fwefi::EFI_DEVICE_PATH)) {
      break;
    }
    if (n->Type == fwefi::MEDIA_DEVICE_PATH && n->SubType == fwefi::MEDIA_FILEPATH_DP) {
      size_t k = 0;
      for (size_t i = sizeof(fwefi::EFI_DEVICE_PATH); i + 1 < n_len && k + 1 < sizeof(path); i += 2) {
        if (node[i] == 0 && node[i + 1] == 0) {
          break;
        }
        path[k++] = static_cast<char>(node[i]);
      }
      path[k] = '\0';
      name = path;
    }
    node += n_len;
  }
  return name;
}

void print_protocol(const EFI_ZELT_I2C_HAPTIC_PROTOCOL& haptic, const fwefi::EFI_LOADED_IMAGE_PROTOCOL& loaded) {
  char line[160];
  fwsim::text_builder t(line, sizeof(line));
  t.put("[loadopt] protocol: revision ").hex(haptic.Revision, 8);
  t.put(haptic.Revision == EFI_ZELT_I2C_HAPTIC_PROTOCOL_REVISION ? " ok" : " wrong");
  t.put(", installed before this application on the image of ").put(image_file_name(loaded)).put('\n');
  print(line);
}

// The second boot: what the driver options left, then Start on the chip.
void report(EFI_HANDLE image, const UINT16* order, size_t count) {
  print_console_record();
  print_driver_order(order, count);
  const MURVANE_SIM_PLATFORM_PROTOCOL* sim = find_platform(image);
  if (sim == nullptr) {
    return;
  }
  print_counters("bus before this application's calls", *sim->Counters);
  const EFI_ZELT_I2C_HAPTIC_PROTOCOL* haptic = nullptr;
  const fwefi::EFI_LOADED_IMAGE_PROTOCOL* loaded = nullptr;
  if (!find_driver(&haptic, &loaded)) {
    return;
  }
  print_protocol(*haptic, *loaded);
  // Only the driver's own waits run the simulated chip's clock.
  const EFI_STATUS s = sim->WatchDriver(loaded->ImageBase, loaded->ImageSize);
  if (EFI_ERROR(s)) {
    print_status_line("[loadopt] driver image not watched: ", s);
    return;
  }
  print("[loadopt] start: begin\n");
  print_status_line("\n[loadopt] start: status ", haptic->Start());
  fwtest::print_verdict(g_st, "[loadopt] ", sim->Chip);
  print_counters("bus in all", *sim->Counters);
}

void run(EFI_HANDLE image) {
  const auto get = reinterpret_cast<get_variable_fn>(g_st->RuntimeServices->GetVariable);
  const CHAR16 driver_order[] = {'D', 'r', 'i', 'v', 'e', 'r', 'O', 'r', 'd', 'e', 'r', 0};
  UINT16 order[max_options] = {};
  UINTN size = sizeof(order);
  UINT32 attributes = 0;
  const EFI_STATUS s = get(driver_order, &global_variable_guid, &attributes, &size, order);
  if (s == EFI_NOT_FOUND) {
    print("[loadopt] first boot: no DriverOrder\n");
    write_options(image);
    return;
  }
  if (EFI_ERROR(s)) {
    print_status_line("[loadopt] DriverOrder unreadable: ", s);
    return;
  }
  report(image, order, size / sizeof(UINT16));
}

}  // namespace

extern "C" EFI_STATUS EFIAPI load_option_main(EFI_HANDLE image, EFI_SYSTEM_TABLE* st) {
  murvane::support_init(image, st);
  g_st = st;
  st->BootServices->SetWatchdogTimer(0, 0, 0, nullptr);
  print("\n[loadopt] Murvane load-option test\n");
  run(image);
  print("[loadopt] done\n");
  st->RuntimeServices->ResetSystem(EfiResetShutdown, EFI_SUCCESS, 0, nullptr);
  return EFI_SUCCESS;
}
