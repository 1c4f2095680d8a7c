#include "testbench/qemu/platform_hooks.h"

#include "platform/platform.h"
#include "platform/protocols.h"
#include "testbench/qemu/efi_extra.h"

namespace fwhooks {

namespace {

constinit MURVANE_SIM_COUNTERS* counters = nullptr;
constinit size_t watch_limit = 0;

struct image_range {
  uintptr_t begin;
  uintptr_t end;
};
constinit image_range watched[max_watched] = {};
constinit size_t watched_count = 0;

// Nothing counts before the driver image is watched: a driver the firmware
// refused never ran, and the firmware's own waits are not the driver's.
bool from_watched(uintptr_t from) {
  for (size_t i = 0; i < watched_count; ++i) {
    if (from >= watched[i].begin && from < watched[i].end) {
      return true;
    }
  }
  return false;
}

using stall_fn = EFI_STATUS(EFIAPI*)(UINTN microseconds);
constinit stall_fn original_stall = nullptr;
constinit void (*stall_observer)() = nullptr;

EFI_STATUS EFIAPI counted_stall(UINTN microseconds) {
  if (stall_observer != nullptr) {
    stall_observer();
  }
  if (from_watched(reinterpret_cast<uintptr_t>(__builtin_return_address(0)))) {
    ++counters->Stalls;
    counters->StallUs += microseconds;
  }
  return original_stall(microseconds);
}

// The firmware's RNG protocol as the driver sees it: a copy whose GetRNG
// notes what it handed out, so the test can tell where the driver's stack
// guard came from (the RNG's bytes, or the processor counter without one).
using locate_fn = EFI_STATUS(EFIAPI*)(const EFI_GUID* protocol, void* registration, void** iface);
constinit locate_fn original_locate = nullptr;
constinit EFI_RNG_PROTOCOL* firmware_rng = nullptr;

EFI_STATUS EFIAPI noted_rng_info(EFI_RNG_PROTOCOL* /*self*/, UINTN* list_size, EFI_RNG_ALGORITHM* list) {
  return firmware_rng->GetInfo(firmware_rng, list_size, list);
}

EFI_STATUS EFIAPI noted_rng_draw(EFI_RNG_PROTOCOL* /*self*/, EFI_RNG_ALGORITHM* algorithm, UINTN length, UINT8* value) {
  const EFI_STATUS s = firmware_rng->GetRNG(firmware_rng, algorithm, length, value);
  ++counters->RngDraws;
  counters->RngStatus = s;
  counters->RngValue = 0;
  for (UINTN i = 0; s == EFI_SUCCESS && value != nullptr && i < length && i < 8; ++i) {
    counters->RngValue = (counters->RngValue << 8) | value[i];
  }
  return s;
}

constinit EFI_RNG_PROTOCOL noted_rng = {&noted_rng_info, &noted_rng_draw};

EFI_STATUS EFIAPI counted_locate(const EFI_GUID* protocol, void* registration, void** iface) {
  const auto from = reinterpret_cast<uintptr_t>(__builtin_return_address(0));
  const EFI_STATUS s = original_locate(protocol, registration, iface);
  if (protocol != nullptr && guid_equal(*protocol, EFI_RNG_PROTOCOL_GUID) && from_watched(from)) {
    ++counters->RngLocates;
    if (s == EFI_SUCCESS && iface != nullptr && *iface != nullptr) {
      firmware_rng = static_cast<EFI_RNG_PROTOCOL*>(*iface);
      *iface = &noted_rng;
    }
  }
  return s;
}

constinit load_fn original_load = nullptr;

}  // namespace

EFI_STATUS hook_boot_services(EFI_BOOT_SERVICES* bs, MURVANE_SIM_COUNTERS* counts, size_t max_images,
                              load_fn watching_load) {
  using crc_fn = EFI_STATUS(EFIAPI*)(const void* data, UINTN size, UINT32* crc);
  const auto crc32 = reinterpret_cast<crc_fn>(bs->CalculateCrc32);
  if (bs->Stall == nullptr || bs->LocateProtocol == nullptr || bs->LoadImage == nullptr || crc32 == nullptr) {
    return EFI_UNSUPPORTED;
  }
  counters = counts;
  watch_limit = max_images < max_watched ? max_images : max_watched;
  original_stall = bs->Stall;
  bs->Stall = &counted_stall;
  original_locate = bs->LocateProtocol;
  bs->LocateProtocol = &counted_locate;
  original_load = bs->LoadImage;
  bs->LoadImage = watching_load;
  bs->Hdr.CRC32 = 0;
  UINT32 crc = 0;
  crc32(bs, bs->Hdr.HeaderSize, &crc);
  bs->Hdr.CRC32 = crc;
  return EFI_SUCCESS;
}

EFI_STATUS firmware_load(BOOLEAN boot_policy, EFI_HANDLE parent, EFI_DEVICE_PATH_PROTOCOL* path, void* source,
                         UINTN size, EFI_HANDLE* image) {
  return original_load(boot_policy, parent, path, source, size, image);
}

EFI_STATUS firmware_locate(const EFI_GUID* protocol, void* registration, void** iface) {
  return original_locate(protocol, registration, iface);
}

EFI_STATUS EFIAPI watch_image(const void* base, UINT64 size) {
  if (base == nullptr || size == 0) {
    return EFI_INVALID_PARAMETER;
  }
  const auto begin = reinterpret_cast<uintptr_t>(base);
  for (size_t i = 0; i < watched_count; ++i) {
    if (watched[i].begin == begin) {
      return EFI_SUCCESS;  // the same image, told twice (the test application names the driver again)
    }
  }
  if (watched_count == watch_limit) {
    return EFI_OUT_OF_RESOURCES;
  }
  if (watched_count == 0) {
    // Forget the firmware's own waits so far (loading images from disk polls
    // with Stall). The driver has not run, so the chip has not seen the
    // clock. Later images only add to it: the chip's clock never goes back.
    counters->Stalls = 0;
    counters->StallUs = 0;
  }
  watched[watched_count++] = {begin, begin + size};
  return EFI_SUCCESS;
}

size_t watched_images() { return watched_count; }

EFI_STATUS EFIAPI watch_loads_after_bridge(BOOLEAN boot_policy, EFI_HANDLE parent, EFI_DEVICE_PATH_PROTOCOL* path,
                                           void* source, UINTN size, EFI_HANDLE* image) {
  const EFI_STATUS s = firmware_load(boot_policy, parent, path, source, size, image);
  void* bridge = nullptr;
  void* li = nullptr;
  EFI_BOOT_SERVICES* bs = murvane::g_support.boot_services;
  if (s == EFI_SUCCESS && image != nullptr &&
      firmware_locate(&EFI_ZELT_I2C_PROTOCOL_GUID, nullptr, &bridge) == EFI_SUCCESS &&
      bs->HandleProtocol(*image, &fwefi::EFI_LOADED_IMAGE_PROTOCOL_GUID, &li) == EFI_SUCCESS) {
    const auto* loaded = static_cast<const fwefi::EFI_LOADED_IMAGE_PROTOCOL*>(li);
    watch_image(loaded->ImageBase, loaded->ImageSize);
  }
  return s;
}

void observe_stalls(void (*before)()) { stall_observer = before; }

}  // namespace fwhooks
