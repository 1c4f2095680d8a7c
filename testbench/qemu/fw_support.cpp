#include "testbench/qemu/fw_support.h"

#include "bridge/pi_i2c.h"
#include "core/waveform.h"
#include "platform/console.h"
#include "platform/log.h"
#include "platform/platform.h"
#include "testbench/qemu/efi_extra.h"
#include "testbench/qemu/sim_scenario.h"
#include "testbench/qemu/text.h"

namespace fwtest {

using namespace fwefi;

void print(EFI_SYSTEM_TABLE* st, const char* text) {
  if (st == nullptr || st->ConOut == nullptr) {
    return;
  }
  murvane::console_output(st->ConOut, text);
}

EFI_TPL current_tpl() {
  EFI_BOOT_SERVICES* bs = murvane::g_support.boot_services;
  const auto raise = __builtin_bit_cast(pi::raise_tpl_fn, bs->RaiseTPL);
  const auto restore = __builtin_bit_cast(pi::restore_tpl_fn, bs->RestoreTPL);
  const EFI_TPL old = raise(pi::TPL_HIGH_LEVEL);
  restore(old);
  return old;
}

namespace {

EFI_STATUS own_device(EFI_HANDLE image, EFI_SYSTEM_TABLE* st, EFI_HANDLE* device) {
  void* li = nullptr;
  EFI_STATUS s = st->BootServices->HandleProtocol(image, &EFI_LOADED_IMAGE_PROTOCOL_GUID, &li);
  if (EFI_ERROR(s)) {
    return s;
  }
  *device = static_cast<EFI_LOADED_IMAGE_PROTOCOL*>(li)->DeviceHandle;
  return *device != nullptr ? EFI_SUCCESS : EFI_NOT_FOUND;
}

uint16_t node_length(const EFI_DEVICE_PATH* n) { return static_cast<uint16_t>(n->Length[0] | (n->Length[1] << 8)); }

}  // namespace

EFI_STATUS read_own_volume_file(EFI_HANDLE image, EFI_SYSTEM_TABLE* st, const char* path, char* buf, size_t cap,
                                size_t* len) {
  *len = 0;
  if (cap == 0) {
    return EFI_BUFFER_TOO_SMALL;
  }
  buf[0] = '\0';
  EFI_HANDLE device = nullptr;
  EFI_STATUS s = own_device(image, st, &device);
  if (EFI_ERROR(s)) {
    return s;
  }
  void* fs = nullptr;
  s = st->BootServices->HandleProtocol(device, &EFI_SIMPLE_FILE_SYSTEM_PROTOCOL_GUID, &fs);
  if (EFI_ERROR(s)) {
    return s;
  }
  auto* sfs = static_cast<EFI_SIMPLE_FILE_SYSTEM_PROTOCOL*>(fs);
  EFI_FILE_PROTOCOL* root = nullptr;
  s = sfs->OpenVolume(sfs, &root);
  if (EFI_ERROR(s)) {
    return s;
  }
  CHAR16 name[64];
  size_t n = 0;
  for (; path[n] != '\0' && n + 1 < sizeof(name) / sizeof(name[0]); ++n) {
    name[n] = static_cast<CHAR16>(static_cast<unsigned char>(path[n]));
  }
  name[n] = 0;
  EFI_FILE_PROTOCOL* file = nullptr;
  s = root->Open(root, &file, name, EFI_FILE_MODE_READ, 0);
  if (!EFI_ERROR(s)) {
    UINTN size = cap - 1;
    s = file->Read(file, &size, buf);
    if (!EFI_ERROR(s)) {
      buf[size] = '\0';
      *len = size;
    }
    file->Close(file);
  }
  root->Close(root);
  return s;
}

EFI_STATUS load_own_volume_image(EFI_HANDLE image, EFI_SYSTEM_TABLE* st, const char* path, EFI_HANDLE* loaded) {
  EFI_HANDLE device = nullptr;
  EFI_STATUS s = own_device(image, st, &device);
  if (EFI_ERROR(s)) {
    return s;
  }
  void* dp = nullptr;
  s = st->BootServices->HandleProtocol(device, &EFI_DEVICE_PATH_PROTOCOL_GUID, &dp);
  if (EFI_ERROR(s)) {
    return s;
  }
  // The device's path up to its end node, then a file-path node, then the end.
  const auto* base = static_cast<const uint8_t*>(dp);
  size_t device_len = 0;
  for (;;) {
    const auto* node = reinterpret_cast<const EFI_DEVICE_PATH*>(base + device_len);
    const uint16_t n = node_length(node);
    if (node->Type == END_DEVICE_PATH_TYPE || n < sizeof(EFI_DEVICE_PATH)) {
      break;
    }
    device_len += n;
  }
  size_t chars = 0;
  while (path[chars] != 0) {
    ++chars;
  }
  const size_t file_len = sizeof(EFI_DEVICE_PATH) + (chars + 1) * sizeof(CHAR16);
  const size_t total = device_len + file_len + sizeof(EFI_DEVICE_PATH);
  void* mem = nullptr;
  s = st->BootServices->AllocatePool(EfiLoaderData, total, &mem);
  if (EFI_ERROR(s)) {
    return s;
  }
  auto* out = static_cast<uint8_t*>(mem);
  for (size_t i = 0; i < device_len; ++i) {
    out[i] = base[i];
  }
  auto* file = reinterpret_cast<EFI_DEVICE_PATH*>(out + device_len);
  file->Type = MEDIA_DEVICE_PATH;
  file->SubType = MEDIA_FILEPATH_DP;
  file->Length[0] = static_cast<UINT8>(file_len);
  file->Length[1] = static_cast<UINT8>(file_len >> 8);
  uint8_t* name = out + device_len + sizeof(EFI_DEVICE_PATH);
  for (size_t i = 0; i <= chars; ++i) {
    name[2 * i] = static_cast<uint8_t>(path[i]);
    name[2 * i + 1] = 0;
  }
  auto* end = reinterpret_cast<EFI_DEVICE_PATH*>(out + device_len + file_len);
  end->Type = END_DEVICE_PATH_TYPE;
  end->SubType = END_ENTIRE_DEVICE_PATH_SUBTYPE;
  end->Length[0] = sizeof(EFI_DEVICE_PATH);
  end->Length[1] = 0;
  s = st->BootServices->LoadImage(0, image, reinterpret_cast<EFI_DEVICE_PATH_PROTOCOL*>(mem), nullptr, 0, loaded);
  st->BootServices->FreePool(mem);
  return s;
}

void put_status(fwsim::text_builder& t, EFI_STATUS s) {
  const char* name = murvane::status_name(s);
  if (name != nullptr) {
    t.put(name);
  } else {
    t.hex(s, 16);
  }
}

void print_status_line(EFI_SYSTEM_TABLE* st, const char* head, EFI_STATUS s) {
  char line[128];
  fwsim::text_builder t(line, sizeof(line));
  t.put(head);
  put_status(t, s);
  t.put('\n');
  print(st, line);
}

void print_verdict(EFI_SYSTEM_TABLE* st, const char* prefix, const sim::chip_model* chip) {
  const fwsim::verdict v =
      fwsim::judge(chip, murvane::waveform_image, murvane::waveform_image_len, murvane::waveform_sram_base);
  static constinit char text[fwsim::verdict_text_max] = {};
  fwsim::format_verdict(v, chip, murvane::waveform_image_len, murvane::waveform_sram_base, text, sizeof(text));
  char line[512];
  const char* p = text;
  while (*p != '\0') {
    fwsim::text_builder t(line, sizeof(line));
    t.put(prefix);
    while (*p != '\0' && *p != '\n') {
      t.put(*p++);
    }
    if (*p == '\n') {
      ++p;
    }
    t.put('\n');
    print(st, line);
  }
}

}  // namespace fwtest
