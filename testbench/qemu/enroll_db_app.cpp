// EnrollDb.efi (a tool of scripts/enroll-db.sh, never part of a platform):
// appends a certificate to the firmware's db, the Secure Boot database of
// trusted signers, through SetVariable, the way a platform owner's tools
// do it at run time.
//
// It reads \db.auth from its own volume: an EFI_SIGNATURE_LIST signed by a
// key in KEK, with its EFI_VARIABLE_AUTHENTICATION_2 header in front
// (efitools: cert-to-efi-sig-list, then sign-efi-sig-list -a db), and
// writes it with the attributes that signature covers: non-volatile, boot
// and run time, time-based authenticated, append. The firmware checks the
// signature against KEK and refuses anything else (Security Violation). It
// then reads db back, prints whether the new list is in it, and powers off.
//
// Lines of its own start with "[enroll] ".
#include "platform/log.h"
#include "platform/platform.h"
#include "testbench/qemu/efi_extra.h"
#include "testbench/qemu/fw_support.h"
#include "testbench/qemu/text.h"

namespace {

// EFI_IMAGE_SECURITY_DATABASE_GUID: db, dbx.
constexpr EFI_GUID image_security_database_guid = {
    0xD719B2CB, 0x3D3A, 0x4596, {0xA3, 0xBC, 0xDA, 0xD0, 0x0E, 0x67, 0x65, 0x6F}};
// EFI_GLOBAL_VARIABLE: SecureBoot, SetupMode.
constexpr EFI_GUID global_variable_guid = {
    0x8BE4DF61, 0x93CA, 0x11D2, {0xAA, 0x0D, 0x00, 0xE0, 0x98, 0x03, 0x2B, 0x8C}};
// Non-volatile, boot service, run time, time-based authenticated write,
// append: what sign-efi-sig-list -a signs.
constexpr UINT32 append_attributes = 0x01 | 0x02 | 0x04 | 0x20 | 0x40;
// EFI_TIME (16 bytes), then WIN_CERTIFICATE_UEFI_GUID starting with its
// dwLength (u32), which counts the whole certificate.
constexpr size_t auth_time_size = 16;

using get_variable_fn = EFI_STATUS(EFIAPI*)(const CHAR16* name, const EFI_GUID* vendor, UINT32* attributes, UINTN* size,
                                            void* data);
using set_variable_fn = EFI_STATUS(EFIAPI*)(const CHAR16* name, const EFI_GUID* vendor, UINT32 attributes, UINTN size,
                                            const void* data);

constinit EFI_SYSTEM_TABLE* g_st = nullptr;
constinit char auth[16384] = {};
constinit uint8_t db[65536] = {};

void print(const char* text) { fwtest::print(g_st, text); }

void print_status_line(const char* head, EFI_STATUS s) { fwtest::print_status_line(g_st, head, s); }

constexpr CHAR16 db_name[] = {'d', 'b', 0};

EFI_STATUS read_db(UINTN* size) {
  const auto get = reinterpret_cast<get_variable_fn>(g_st->RuntimeServices->GetVariable);
  UINT32 attributes = 0;
  *size = sizeof(db);
  return get(db_name, &image_security_database_guid, &attributes, size, db);
}

bool contains(const uint8_t* hay, size_t hay_len, const uint8_t* needle, size_t len) {
  for (size_t i = 0; len > 0 && i + len <= hay_len; ++i) {
    size_t k = 0;
    while (k < len && hay[i + k] == needle[k]) {
      ++k;
    }
    if (k == len) {
      return true;
    }
  }
  return false;
}

void print_secure_boot() {
  const auto get = reinterpret_cast<get_variable_fn>(g_st->RuntimeServices->GetVariable);
  const CHAR16 name[] = {'S', 'e', 'c', 'u', 'r', 'e', 'B', 'o', 'o', 't', 0};
  UINT8 value = 0xFF;
  UINTN size = sizeof(value);
  UINT32 attributes = 0;
  const EFI_STATUS s = get(name, &global_variable_guid, &attributes, &size, &value);
  char line[64];
  fwsim::text_builder t(line, sizeof(line));
  t.put("[enroll] SecureBoot: ");
  if (EFI_ERROR(s)) {
    t.put("unreadable");
  } else {
    t.dec(value);
  }
  t.put('\n');
  print(line);
}

void run(EFI_HANDLE image) {
  print_secure_boot();
  size_t len = 0;
  EFI_STATUS s = fwtest::read_own_volume_file(image, g_st, "\\db.auth", auth, sizeof(auth), &len);
  if (EFI_ERROR(s)) {
    print_status_line("[enroll] cannot read \\db.auth: ", s);
    return;
  }
  const auto* bytes = reinterpret_cast<const uint8_t*>(auth);
  if (len < auth_time_size + 4) {
    print("[enroll] \\db.auth is too short to be signed\n");
    return;
  }
  const size_t cert_len = static_cast<size_t>(bytes[16]) | static_cast<size_t>(bytes[17]) << 8 |
                          static_cast<size_t>(bytes[18]) << 16 | static_cast<size_t>(bytes[19]) << 24;
  const size_t list_at = auth_time_size + cert_len;
  if (cert_len < 4 || list_at >= len) {
    print("[enroll] \\db.auth holds no signature list after its authentication header\n");
    return;
  }
  UINTN before = 0;
  s = read_db(&before);
  if (EFI_ERROR(s)) {
    before = 0;
  }
  const auto set = reinterpret_cast<set_variable_fn>(g_st->RuntimeServices->SetVariable);
  s = set(db_name, &image_security_database_guid, append_attributes, len, auth);
  print_status_line("[enroll] db append: ", s);
  if (EFI_ERROR(s)) {
    return;
  }
  UINTN after = 0;
  s = read_db(&after);
  if (EFI_ERROR(s)) {
    print_status_line("[enroll] db unreadable after the append: ", s);
    return;
  }
  // The list's entries (owner GUID and certificate) follow its 28-byte
  // header; the firmware may merge lists of one type, so look for those.
  constexpr size_t list_header = 28;
  const bool in =
      list_at + list_header < len && contains(db, after, bytes + list_at + list_header, len - list_at - list_header);
  char line[128];
  fwsim::text_builder t(line, sizeof(line));
  t.put("[enroll] db: ").dec(before).put(" bytes before, ").dec(after).put(" after; the new certificate is ");
  t.put(in ? "in it\n" : "NOT in it\n");
  print(line);
  if (in) {
    print("[enroll] enrolled\n");
  }
}

}  // namespace

extern "C" EFI_STATUS EFIAPI enroll_db_main(EFI_HANDLE image, EFI_SYSTEM_TABLE* st) {
  murvane::support_init(image, st);
  g_st = st;
  st->BootServices->SetWatchdogTimer(0, 0, 0, nullptr);
  print("\n[enroll] Murvane db enrollment\n");
  run(image);
  print("[enroll] done\n");
  st->RuntimeServices->ResetSystem(EfiResetShutdown, EFI_SUCCESS, 0, nullptr);
  return EFI_SUCCESS;
}
