// ConRecord.efi (test only): a boot-service driver that keeps a copy of
// everything written through the system table's ConOut and StdErr from its
// load on, for the load-option test.
//
// EDK2's boot manager starts Driver#### images before it connects the
// consoles, so what a driver prints then reaches no device. Loaded as the
// first driver option, this puts a recording step in front of both
// OutputString entries (the firmware's console splitter stays behind it)
// and publishes the copy through a private protocol; the test application
// prints it and stops the recording.
#include "testbench/qemu/console_record_protocol.h"

namespace {

constinit char text[32768] = {};
constinit MURVANE_CONSOLE_RECORD record = {text, 0, 0, nullptr};
constinit bool recording = false;
constinit EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL* con_out = nullptr;
constinit EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL* std_err = nullptr;
constinit EFI_TEXT_STRING con_out_string = nullptr;
constinit EFI_TEXT_STRING std_err_string = nullptr;

void keep(const CHAR16* s) {
  for (; recording && s != nullptr && *s != 0; ++s) {
    if (*s == '\r') {
      continue;
    }
    if (record.Length + 1 >= sizeof(text)) {
      ++record.Dropped;
      continue;
    }
    text[record.Length++] = *s < 0x80 ? static_cast<char>(*s) : '?';
    text[record.Length] = '\0';
  }
}

EFI_STATUS EFIAPI recording_con_out(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL* self, const CHAR16* s) {
  keep(s);
  return con_out_string(self, s);
}

// When ConOut and StdErr are one record, its entry is recorded once.
EFI_STATUS EFIAPI recording_std_err(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL* self, const CHAR16* s) {
  keep(s);
  return std_err_string(self, s);
}

EFI_STATUS EFIAPI stop() {
  recording = false;
  return EFI_SUCCESS;
}

}  // namespace

extern "C" EFI_STATUS EFIAPI console_recorder_main(EFI_HANDLE image, EFI_SYSTEM_TABLE* st) {
  record.Stop = &stop;
  recording = true;
  con_out = st->ConOut;
  std_err = st->StdErr;
  if (con_out != nullptr) {
    con_out_string = con_out->OutputString;
    con_out->OutputString = &recording_con_out;
  }
  if (std_err != nullptr && std_err != con_out) {
    std_err_string = std_err->OutputString;
    std_err->OutputString = &recording_std_err;
  }
  EFI_HANDLE handle = image;
  // Installed or not, the entries now point here: stay resident.
  st->BootServices->InstallProtocolInterface(&handle, &MURVANE_CONSOLE_RECORD_GUID, EFI_NATIVE_INTERFACE, &record);
  return EFI_SUCCESS;
}
