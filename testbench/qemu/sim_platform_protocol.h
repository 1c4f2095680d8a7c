// The private protocol through which SimPlatform.efi (test only) shows the
// test application what happened on its simulated bus: the scenario, the
// chip model with its SRAM and violations, and transfer counters.
#pragma once

#include "platform/efi.h"
#include "sim/models/chip_model.h"

// {4D7A9E12-5C3B-4F80-9A61-2E8B7D0C3F59}
inline constexpr EFI_GUID MURVANE_SIM_PLATFORM_PROTOCOL_GUID = {
    0x4D7A9E12, 0x5C3B, 0x4F80, {0x9A, 0x61, 0x2E, 0x8B, 0x7D, 0x0C, 0x3F, 0x59}};
inline constexpr UINT64 MURVANE_SIM_PLATFORM_PROTOCOL_REVISION = 2;

struct MURVANE_SIM_COUNTERS {
  UINT64 Opens;
  UINT64 Reads;
  UINT64 Writes;
  UINT64 FailedTransfers;
  // Calls outside the bus and pin contract: another I2C instance, another
  // bus handle or chip address, more than one byte, a null buffer, another
  // time-out, another pin. They are still carried out.
  UINT64 BadRequests;
  UINT64 PinConfigures;
  UINT64 PinOutputs;
  UINT64 ResetPulses;
  UINT64 BusTimeNs;  // modelled transfer time at the bus clock passed (host/bus_timing.h)
  // The firmware's Stall as called by the driver (see WatchDriver).
  UINT64 Stalls;
  UINT64 StallUs;
  // The driver's use of EFI_RNG_PROTOCOL (see WatchDriver for which calls
  // count): LocateProtocol calls for it, GetRNG calls, the status of the
  // last GetRNG, and its first 8 bytes, the first one the most significant
  // (the way the driver turns them into its stack guard).
  UINT64 RngLocates;
  UINT64 RngDraws;
  EFI_STATUS RngStatus;
  UINT64 RngValue;
};

struct MURVANE_SIM_PLATFORM_PROTOCOL {
  UINT64 Revision;
  const char* Scenario;         // the scenario text as read, NUL-terminated
  const sim::chip_model* Chip;  // null when no chip answers
  const MURVANE_SIM_COUNTERS* Counters;
  // From now on only Stall and LocateProtocol calls made from code in
  // [base, base + size), a driver image, count (Stall calls advance the
  // chip's clock); the stall counters restart when it is the first image
  // watched, later ones add to it. The first image loaded after
  // SimPlatform.efi is watched this way from its LoadImage on (as when the
  // Shell loads the driver), and so is every later image of the same code
  // type and size (the driver loaded again); until then every call counts.
  EFI_STATUS(EFIAPI* WatchDriver)(const void* base, UINT64 size);
};
