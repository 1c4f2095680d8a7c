// The driver's waits and its use of the firmware's RNG, as the test platforms
// (SimPlatform.efi, FakeBoard.efi) count them: a counting step in front of
// the firmware's Stall and LocateProtocol in the boot-services table. Only
// calls from the watched images count (none while no image is watched, so a
// driver the firmware refused counts nothing);
// which images those are is each platform's own choice, made in the
// LoadImage hook it installs with these.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "platform/efi.h"
#include "testbench/qemu/sim_platform_protocol.h"

namespace fwhooks {

using load_fn = EFI_STATUS(EFIAPI*)(BOOLEAN boot_policy, EFI_HANDLE parent, EFI_DEVICE_PATH_PROTOCOL* path,
                                    void* source, UINTN size, EFI_HANDLE* image);

// The most images one platform can watch.
constexpr size_t max_watched = 24;

// Puts the counting Stall and LocateProtocol and the platform's watching_load
// in front of the firmware's Stall, LocateProtocol and LoadImage, and
// refreshes the table's checksum as firmware expects. The counts go to
// *counters; at most max_images (<= max_watched) images are watched.
// EFI_UNSUPPORTED, with the table untouched, when the firmware lacks one.
EFI_STATUS hook_boot_services(EFI_BOOT_SERVICES* bs, MURVANE_SIM_COUNTERS* counters, size_t max_images,
                              load_fn watching_load);

// The firmware's own LoadImage and LocateProtocol, past the hooks.
EFI_STATUS firmware_load(BOOLEAN boot_policy, EFI_HANDLE parent, EFI_DEVICE_PATH_PROTOCOL* path, void* source,
                         UINTN size, EFI_HANDLE* image);
EFI_STATUS firmware_locate(const EFI_GUID* protocol, void* registration, void** iface);

// Counts the calls made from the image at [base, base + size) from now on;
// the first image watched clears the waits counted so far.
// (MURVANE_SIM_PLATFORM_PROTOCOL.WatchDriver.)
EFI_STATUS EFIAPI watch_image(const void* base, UINT64 size);

// The LoadImage hook of the platforms behind the bridge (FakeBoard.efi,
// EdkController.efi): the driver comes after the bridge, so every image
// loaded once the bridge's EFI_ZELT_I2C_PROTOCOL is installed is watched.
EFI_STATUS EFIAPI watch_loads_after_bridge(BOOLEAN boot_policy, EFI_HANDLE parent, EFI_DEVICE_PATH_PROTOCOL* path,
                                           void* source, UINTN size, EFI_HANDLE* image);

// How many images are watched.
size_t watched_images();

// Calls `before` at the start of every Stall, before it is counted (a
// platform that learns of pin changes from the hardware looks at them then,
// at the time the pin was set). Null: nothing is called.
void observe_stalls(void (*before)());

}  // namespace fwhooks
