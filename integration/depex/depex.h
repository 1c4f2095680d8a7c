// The DXE dependency expression of the driver image, in the encoding of the
// Platform Initialization (PI) standard that a firmware-volume build puts into the driver's
// DXE_DEPEX section: opcodes of one byte, PUSH followed by the 16 bytes of a
// GUID as EFI_GUID lays them out in memory (Data1..Data3 little-endian),
// evaluated on a stack, ending with END.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/efi.h"

namespace depex {

enum class op : uint8_t {
  before = 0x00,
  after = 0x01,
  push = 0x02,
  and_ = 0x03,
  or_ = 0x04,
  not_ = 0x05,
  true_ = 0x06,
  false_ = 0x07,
  end = 0x08,
  sor = 0x09,
};

struct instruction {
  op code = op::end;
  EFI_GUID guid = {};  // PUSH, BEFORE and AFTER only
};

// What the driver needs before the DXE dispatcher may start it: the
// platform's I2C bus protocol AND its pin-control protocol. Its entry point
// locates both at once and does not wait for either.
std::vector<instruction> driver_expression();

// What MurvaneBridge.efi needs: the standard protocol its mode sits on
// (EFI_I2C_MASTER_PROTOCOL, or EFI_I2C_IO_PROTOCOL in I2C IO mode) AND
// EMBEDDED_GPIO. It looks them up only when the driver opens the bus and
// drives the pin, but a bridge started before them would fail every open.
std::vector<instruction> bridge_expression(bool io_mode);

std::vector<uint8_t> encode(const std::vector<instruction>& program);

// The instructions of an encoded expression, or nothing with the reason in
// *error: an unknown opcode, a GUID cut short, bytes after END, no END, or a
// stack that does not end with exactly one value.
std::optional<std::vector<instruction>> decode(const std::vector<uint8_t>& bytes, std::string* error);

// "{6B0F3C2E-91D4-4A57-8E6B-2F19C04D7A31}" (the registry format, upper case).
std::string guid_text(const EFI_GUID& g);

// "PUSH {...}", "AND", "END", one instruction a line.
std::string listing(const std::vector<instruction>& program);

}  // namespace depex
