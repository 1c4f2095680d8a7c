// FakeBoard.efi's own protocol (test only): several chips, one after the
// other, in one boot. \sim.cfg may name several scenarios separated by ',';
// the board starts with the first. Loading FakeBoard.efi again (a Shell
// script's `load FakeBoard.efi`) does not make a second board: it moves the
// first to the next scenario, with fresh counters, as if the machine had
// been rebooted with that chip; the driver is then loaded again.
#pragma once

#include "platform/efi.h"

// {E3B1F6A2-8C47-4D5E-9A13-6F2C0B7D4E98}
inline constexpr EFI_GUID FAKE_BOARD_ROUNDS_PROTOCOL_GUID = {
    0xE3B1F6A2, 0x8C47, 0x4D5E, {0x9A, 0x13, 0x6F, 0x2C, 0x0B, 0x7D, 0x4E, 0x98}};

struct FAKE_BOARD_ROUNDS_PROTOCOL {
  // Scenarios after the current one.
  UINT64(EFIAPI* RoundsLeft)();
  // Moves to the next scenario; EFI_NOT_FOUND when there is none.
  EFI_STATUS(EFIAPI* NextRound)();
};
