// Support state recorded at entry and the boot services the driver calls.
#pragma once

#include "platform/efi.h"

namespace murvane {

struct support_state {
  EFI_SYSTEM_TABLE* system_table;
  EFI_BOOT_SERVICES* boot_services;
  EFI_RUNTIME_SERVICES* runtime_services;
  EFI_HANDLE image_handle;
};

extern support_state g_support;

// Records the firmware tables for everyone else. Returns false (and records
// nothing usable) when the system table is null, is not a system table, or
// has no boot services: the driver cannot run without them.
bool support_init(EFI_HANDLE image, EFI_SYSTEM_TABLE* st);
void support_teardown();

EFI_STATUS locate_protocol(const EFI_GUID& guid, void** iface);
EFI_STATUS stall(UINTN microseconds);
EFI_STATUS install_protocol(EFI_HANDLE* handle, const EFI_GUID& guid, void* iface);
EFI_STATUS install_config_table(const EFI_GUID& guid, void* table);

}  // namespace murvane
