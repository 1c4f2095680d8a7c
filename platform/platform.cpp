#include "platform/platform.h"

namespace murvane {

constinit support_state g_support = {nullptr, nullptr, nullptr, nullptr};

bool support_init(EFI_HANDLE image, EFI_SYSTEM_TABLE* st) {
  if (st == nullptr || st->Hdr.Signature != EFI_SYSTEM_TABLE_SIGNATURE || st->BootServices == nullptr) {
    support_teardown();
    return false;
  }
  g_support = {st, st->BootServices, st->RuntimeServices, image};
  return true;
}

void support_teardown() { g_support = {nullptr, nullptr, nullptr, nullptr}; }

EFI_STATUS locate_protocol(const EFI_GUID& guid, void** iface) {
  if (g_support.boot_services == nullptr) {
    return EFI_NOT_READY;
  }
  return g_support.boot_services->LocateProtocol(&guid, nullptr, iface);
}

EFI_STATUS stall(UINTN microseconds) {
  if (g_support.boot_services == nullptr) {
    return EFI_NOT_READY;
  }
  return g_support.boot_services->Stall(microseconds);
}

EFI_STATUS install_protocol(EFI_HANDLE* handle, const EFI_GUID& guid, void* iface) {
  if (g_support.boot_services == nullptr) {
    return EFI_NOT_READY;
  }
  return g_support.boot_services->InstallProtocolInterface(handle, &guid, EFI_NATIVE_INTERFACE, iface);
}

EFI_STATUS install_config_table(const EFI_GUID& guid, void* table) {
  if (g_support.boot_services == nullptr) {
    return EFI_NOT_READY;
  }
  return g_support.boot_services->InstallConfigurationTable(&guid, table);
}

}  // namespace murvane
