// EFI/BOOT/BOOTAA64.EFI of the firmware test disk (test only): loads
// SimPlatform.efi and then the driver, Murvane.efi, from its own volume,
// calls Start of the protocol the driver published, prints what happened
// and what the simulated chip ended up with, and powers the machine off.
//
// Started from the UEFI Shell after `load SimPlatform.efi` and `load
// Murvane.efi`, it finds both already there and is only the driver's
// consumer: it checks the protocol, calls Start and prints the verdict.
//
// When the firmware refuses the driver (Secure Boot: unsigned, altered or
// signed by a key the firmware does not trust), it prints the status by
// name, unloads the image if the firmware made one (Security Violation),
// and still prints the bus counters, which must show that nothing ran.
//
// Every line of its own starts with "[fwtest] ". The driver's console output
// comes between "[fwtest] <call>: begin" and "[fwtest] <call>: status ..."
// (which this application always starts on a new line), so the checker on
// the host can cut it out of the serial log and compare it with the same
// chip on the host virtual platform.
#include "platform/log.h"
#include "platform/platform.h"
#include "platform/protocols.h"
#include "testbench/qemu/efi_extra.h"
#include "testbench/qemu/fake_board/fake_board_protocol.h"
#include "testbench/qemu/fw_support.h"
#include "testbench/qemu/sim_platform_protocol.h"
#include "testbench/qemu/sim_scenario.h"
#include "testbench/qemu/text.h"

namespace {

constinit EFI_SYSTEM_TABLE* g_st = nullptr;

void print(const char* text) { fwtest::print(g_st, text); }

void print_status_line(const char* head, EFI_STATUS s) { fwtest::print_status_line(g_st, head, s); }

bool shared_guard(EFI_SYSTEM_TABLE* st, uint64_t* value) {
  for (UINTN i = 0; st->ConfigurationTable != nullptr && i < st->NumberOfTableEntries; ++i) {
    if (guid_equal(st->ConfigurationTable[i].VendorGuid, MURVANE_STACK_GUARD_GUID)) {
      *value = reinterpret_cast<uintptr_t>(st->ConfigurationTable[i].VendorTable);
      return true;
    }
  }
  return false;
}

// Where the published guard came from, as far as SimPlatform.efi saw the
// driver use the firmware's RNG: the value it drew, or no draw at all (the
// driver then mixes the processor counter).
void print_guard(EFI_SYSTEM_TABLE* st, const MURVANE_SIM_COUNTERS& c) {
  uint64_t value = 0;
  if (!shared_guard(st, &value)) {
    print("[fwtest] stack guard: not shared\n");
    return;
  }
  print("[fwtest] stack guard: shared\n");
  const char* source = "unknown";
  if (c.RngDraws == 0) {
    source =
        c.RngLocates > 0 ? "processor counter (no RNG protocol)" : "unknown (the RNG protocol was never asked for)";
  } else if (c.RngStatus == EFI_SUCCESS && c.RngValue == value) {
    source = "RNG protocol (the value drawn)";
  } else if (c.RngStatus != EFI_SUCCESS) {
    source = "processor counter (the RNG protocol failed)";
  } else {
    source = "unknown (not the value the RNG protocol gave)";
  }
  char line[128];
  fwsim::text_builder t(line, sizeof(line));
  t.put("[fwtest] stack guard source: ").put(source).put('\n');
  print(line);
}

void print_verdict(const MURVANE_SIM_PLATFORM_PROTOCOL* sim) {
  fwtest::print_verdict(g_st, "[fwtest] ", sim->Chip);
  const MURVANE_SIM_COUNTERS& c = *sim->Counters;
  char traffic[128];
  fwsim::format_traffic(c.Reads, c.Writes, c.Stalls, c.StallUs, traffic, sizeof(traffic));
  char bus[256];
  fwsim::text_builder t(bus, sizeof(bus));
  t.put("[fwtest] ").put(traffic);
  print(bus);
  fwsim::text_builder b(bus, sizeof(bus));
  b.put("[fwtest] bus: opens ").dec(c.Opens).put(", failed transfers ").dec(c.FailedTransfers);
  b.put(", pin configures ").dec(c.PinConfigures).put(", pin outputs ").dec(c.PinOutputs);
  b.put(", reset pulses ").dec(c.ResetPulses).put(", bus time ").dec(c.BusTimeNs / 1000).put(" us\n");
  print(bus);
  fwsim::text_builder r(bus, sizeof(bus));
  r.put("[fwtest] bad requests: ").dec(c.BadRequests).put('\n');
  print(bus);
}

// Writes `extra` bytes past the end of a protected local buffer: over the
// frame's copy of the stack guard, which the check on the way out finds.
__attribute__((noinline)) void overflow_local_buffer(size_t extra) {
  char buffer[16];
  volatile char* p = buffer;
  for (size_t i = 0; i < sizeof(buffer) + extra; ++i) {
    p[i] = 0x5A;
  }
  __asm__ volatile("" : : "r"(buffer) : "memory");
}

void stack_smash() {
  print("[fwtest] stack smash: overflowing a protected buffer\n");
  volatile size_t extra = 16;
  overflow_local_buffer(extra);
  print("[fwtest] stack smash: NOT caught\n");
}

// When the disk carries \Consumer.efi (the C consumer of the integrator's
// header), runs it after everything above, so the lines and counters the
// other checks read stay as they are. Without the file nothing is printed.
void run_consumer(EFI_HANDLE image, EFI_SYSTEM_TABLE* st) {
  EFI_HANDLE consumer = nullptr;
  EFI_STATUS s = fwtest::load_own_volume_image(image, st, "\\Consumer.efi", &consumer);
  if (s == EFI_NOT_FOUND) {
    return;
  }
  if (EFI_ERROR(s)) {
    print_status_line("[fwtest] consumer: not loaded: ", s);
    return;
  }
  print("[fwtest] consumer: begin\n");
  s = st->BootServices->StartImage(consumer, nullptr, nullptr);
  print_status_line("\n[fwtest] consumer: status ", s);
}

const MURVANE_SIM_PLATFORM_PROTOCOL* find_sim_platform(EFI_BOOT_SERVICES* bs, EFI_STATUS* s) {
  void* located = nullptr;
  *s = bs->LocateProtocol(&MURVANE_SIM_PLATFORM_PROTOCOL_GUID, nullptr, &located);
  return EFI_ERROR(*s) ? nullptr : static_cast<const MURVANE_SIM_PLATFORM_PROTOCOL*>(located);
}

const EFI_ZELT_I2C_HAPTIC_PROTOCOL* find_haptic(EFI_BOOT_SERVICES* bs, EFI_STATUS* s) {
  void* located = nullptr;
  *s = bs->LocateProtocol(&EFI_ZELT_I2C_HAPTIC_PROTOCOL_GUID, nullptr, &located);
  return EFI_ERROR(*s) ? nullptr : static_cast<const EFI_ZELT_I2C_HAPTIC_PROTOCOL*>(located);
}

// A refused image: Access Denied leaves no image behind; Security Violation
// does (the firmware may still let the platform's policy start it), and it
// must be unloaded, never started.
void report_refusal(EFI_BOOT_SERVICES* bs, EFI_STATUS s, EFI_HANDLE driver) {
  print_status_line("\n[fwtest] entry: not loaded: ", s);
  if (s == EFI_SECURITY_VIOLATION && driver != nullptr) {
    using unload_fn = EFI_STATUS(EFIAPI*)(EFI_HANDLE image);
    const auto unload = reinterpret_cast<unload_fn>(bs->UnloadImage);
    print_status_line("[fwtest] entry: refused image unloaded: ", unload(driver));
  }
}

// Loads and starts the driver; false when it never ran.
bool load_driver(EFI_HANDLE image, EFI_SYSTEM_TABLE* st, const MURVANE_SIM_PLATFORM_PROTOCOL* sim) {
  EFI_BOOT_SERVICES* bs = st->BootServices;
  print("[fwtest] entry: begin\n");
  EFI_HANDLE driver = nullptr;
  EFI_STATUS s = fwtest::load_own_volume_image(image, st, "\\Murvane.efi", &driver);
  if (EFI_ERROR(s)) {
    report_refusal(bs, s, driver);
    return false;
  }
  // Only the driver's own waits run the simulated chip's clock.
  void* li = nullptr;
  s = bs->HandleProtocol(driver, &fwefi::EFI_LOADED_IMAGE_PROTOCOL_GUID, &li);
  if (!EFI_ERROR(s)) {
    const auto* loaded = static_cast<const fwefi::EFI_LOADED_IMAGE_PROTOCOL*>(li);
    s = sim->WatchDriver(loaded->ImageBase, loaded->ImageSize);
  }
  if (EFI_ERROR(s)) {
    print_status_line("\n[fwtest] entry: driver image not watched, failed: ", s);
    return false;
  }
  s = bs->StartImage(driver, nullptr, nullptr);
  print_status_line("\n[fwtest] entry: status ", s);
  return true;
}

// SimPlatform.efi; or, on a disk that carries FakeBoard.efi (a stock EDK2
// board's I2C stack and GPIO), that board and then MurvaneBridge.efi, which
// gives the driver its platform protocols on top of it.
EFI_STATUS start_image_file(EFI_HANDLE image, EFI_SYSTEM_TABLE* st, const char* path) {
  EFI_HANDLE loaded = nullptr;
  EFI_STATUS s = fwtest::load_own_volume_image(image, st, path, &loaded);
  if (!EFI_ERROR(s)) {
    s = st->BootServices->StartImage(loaded, nullptr, nullptr);
  }
  return s;
}

EFI_STATUS start_platform(EFI_HANDLE image, EFI_SYSTEM_TABLE* st) {
  EFI_STATUS s = start_image_file(image, st, "\\FakeBoard.efi");
  if (s == EFI_NOT_FOUND) {
    s = start_image_file(image, st, "\\SimPlatform.efi");
    if (EFI_ERROR(s)) {
      print_status_line("[fwtest] SimPlatform.efi failed: ", s);
    }
    return s;
  }
  if (EFI_ERROR(s)) {
    print_status_line("[fwtest] FakeBoard.efi failed: ", s);
    return s;
  }
  s = start_image_file(image, st, "\\MurvaneBridge.efi");
  print_status_line(EFI_ERROR(s) ? "[fwtest] MurvaneBridge.efi failed: " : "[fwtest] MurvaneBridge.efi: ", s);
  return s;
}

void run(EFI_HANDLE image, EFI_SYSTEM_TABLE* st) {
  EFI_BOOT_SERVICES* bs = st->BootServices;
  EFI_STATUS s = EFI_SUCCESS;
  // From the Shell, SimPlatform.efi and the driver were loaded before us.
  const bool from_shell = find_sim_platform(bs, &s) != nullptr;
  if (from_shell) {
    print("[fwtest] SimPlatform.efi: already loaded\n");
  } else {
    s = start_platform(image, st);
    if (EFI_ERROR(s)) {
      return;
    }
  }
  const MURVANE_SIM_PLATFORM_PROTOCOL* sim = find_sim_platform(bs, &s);
  if (EFI_ERROR(s) || sim == nullptr || sim->Revision != MURVANE_SIM_PLATFORM_PROTOCOL_REVISION) {
    print_status_line("[fwtest] no simulated platform: ", s);
    return;
  }
  {
    char line[fwsim::scenario_text_max + 32];
    fwsim::text_builder t(line, sizeof(line));
    t.put("[fwtest] scenario: ").put(sim->Scenario).put('\n');
    print(line);
  }
  fwsim::scenario sc = {};
  size_t len = 0;
  while (sim->Scenario[len] != '\0') {
    ++len;
  }
  if (fwsim::parse_scenario(sim->Scenario, len, &sc) == fwsim::parse_status::ok && sc.stack_smash) {
    stack_smash();
    return;
  }

  // From the Shell the driver's entry ran at its `load`, before us.
  if (from_shell) {
    if (find_haptic(bs, &s) == nullptr) {
      print("[fwtest] Murvane.efi: not loaded before this application\n");
      print_verdict(sim);
      return;
    }
    print("[fwtest] Murvane.efi: already loaded\n");
  } else if (!load_driver(image, st, sim)) {
    print_verdict(sim);
    return;
  }
  print_guard(st, *sim->Counters);

  const EFI_ZELT_I2C_HAPTIC_PROTOCOL* haptic = find_haptic(bs, &s);
  if (EFI_ERROR(s) || haptic == nullptr) {
    print_status_line("[fwtest] protocol: not found: ", s);
  } else {
    char line[96];
    fwsim::text_builder t(line, sizeof(line));
    t.put("[fwtest] protocol: revision ").hex(haptic->Revision, 8);
    t.put(haptic->Revision == EFI_ZELT_I2C_HAPTIC_PROTOCOL_REVISION ? " ok\n" : " wrong\n");
    print(line);
  }

  print("[fwtest] start: begin\n");
  s = haptic != nullptr ? haptic->Start() : EFI_NOT_FOUND;
  print_status_line("\n[fwtest] start: status ", s);

  print_verdict(sim);
  run_consumer(image, st);
}

}  // namespace

extern "C" EFI_STATUS EFIAPI fwtest_main(EFI_HANDLE image, EFI_SYSTEM_TABLE* st) {
  murvane::support_init(image, st);
  g_st = st;
  // The firmware arms a 5-minute watchdog for boot applications; this one
  // ends by powering off, or hangs on purpose in a failure QEMU's time-out
  // catches sooner.
  st->BootServices->SetWatchdogTimer(0, 0, 0, nullptr);
  print("\n[fwtest] Murvane firmware test\n");
  run(image, st);
  print("[fwtest] done\n");
  // A batch of chips on the fake board: the Shell script goes on with the
  // next one, and powers the machine off itself after the last.
  void* rounds = nullptr;
  if (st->BootServices->LocateProtocol(&FAKE_BOARD_ROUNDS_PROTOCOL_GUID, nullptr, &rounds) == EFI_SUCCESS &&
      rounds != nullptr && static_cast<FAKE_BOARD_ROUNDS_PROTOCOL*>(rounds)->RoundsLeft() > 0) {
    return EFI_SUCCESS;
  }
  st->RuntimeServices->ResetSystem(EfiResetShutdown, EFI_SUCCESS, 0, nullptr);
  return EFI_SUCCESS;
}
