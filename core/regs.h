// The one path between the driver and the chip: the I2C bus client and the
// single-byte register primitives every family uses.
#pragma once

#include <stdint.h>

#include "murvane/board_settings.h"
#include "platform/efi.h"
#include "platform/protocols.h"

namespace murvane {

// The bus and the slave configuration are the board's (build-time settings,
// murvane/board_settings.h); the time-out is the driver's own.
inline constexpr uint32_t i2c_instance = board::i2c_instance;
inline constexpr uint32_t i2c_timeout = 2500;
inline constexpr uint32_t slave_config_words = 6;
// Bus clock in kHz, 7-bit chip address, then words the bus component wants.
inline constexpr uint32_t slave_config_values[slave_config_words] = {board::i2c_speed_khz,
                                                                     board::i2c_address,
                                                                     board::i2c_config_words_3_to_6[0],
                                                                     board::i2c_config_words_3_to_6[1],
                                                                     board::i2c_config_words_3_to_6[2],
                                                                     board::i2c_config_words_3_to_6[3]};

// Bus status returned by the client when it has no bus protocol to call.
inline constexpr uint32_t bus_no_protocol = 1;

extern EFI_ZELT_I2C_PROTOCOL* i2c_iface;
extern uint64_t bus_handle;
extern uint32_t slave_config[slave_config_words];

EFI_STATUS bus_open();
uint32_t i2c_open(uint32_t instance, uint64_t* handle);
uint32_t i2c_read(uint64_t handle, const uint32_t* config, uint32_t reg, uint32_t reg_len, uint8_t* data, uint32_t len,
                  uint32_t* transferred, uint32_t timeout);
uint32_t i2c_write(uint64_t handle, const uint32_t* config, uint32_t reg, uint32_t reg_len, uint8_t* data, uint32_t len,
                   uint32_t* transferred, uint32_t timeout);

uint32_t reg_read(uint8_t reg, uint8_t* value);

// Transfers that failed since load. The primitives log every failure once
// and count it here, so an operation that must not conclude anything from a
// failed transfer compares the count at its start with the count at its
// decision (transfer_watch) instead of checking each access on the way.
extern uint32_t bus_failed_transfers;

class transfer_watch {
 public:
  // True when a transfer failed since this watch was made.
  [[nodiscard]] bool any_failed() const { return bus_failed_transfers != start_; }

 private:
  uint32_t start_ = bus_failed_transfers;
};

// What a register read gives back: the byte, and whether the transfer
// delivered it. A failed read leaves the byte as it started; a caller that
// must not take that for the chip's answer (a poll, identification) asks
// ok(). A plain aggregate of one 16-bit word: the firmware's calling
// convention returns only such types in a register (a constructor or a
// private member would send every read's result through memory).
struct [[nodiscard]] reg_byte {
  static constexpr uint16_t failed_bit = 0x100;
  uint16_t bits;  // the byte in bits 7..0, failed_bit when the transfer failed

  [[nodiscard]] constexpr bool ok() const { return (bits & failed_bit) == 0; }
  [[nodiscard]] constexpr uint8_t value() const { return static_cast<uint8_t>(bits); }
};

// reg_read for a caller that wants the byte back by value (no local whose
// address is taken, so no stack-protected frame); the byte starts as
// `initial`.
reg_byte reg_read_byte(uint8_t reg, uint8_t initial = 0);

// A read the chip wants for its side effect (a read-to-clear status, a
// trigger): the byte is of no use to the driver.
inline void reg_read_discard(uint8_t reg, uint8_t initial = 0) { static_cast<void>(reg_read_byte(reg, initial)); }

// Fields by bit position. A register's field is stated once, as the bits it
// spans; its masks and the placement of a value follow from that. Every
// helper is constexpr: with the families' constant fields it folds to a
// constant at compile time, so a family's register map costs nothing at run
// time.
//
// bit(5) is 0x20; bits(3, 2) is 0x0C, bits 3..2.
constexpr uint8_t bit(unsigned n) { return static_cast<uint8_t>(1U << n); }
constexpr uint8_t bits(unsigned high, unsigned low) {
  return static_cast<uint8_t>(((2U << high) - 1U) & ~((1U << low) - 1U));
}
// The lowest bit of a field: a value scales by it to sit in the field.
constexpr uint8_t field_unit(uint8_t field) { return static_cast<uint8_t>(field & (0U - field)); }
// Whether value, placed in field, keeps all its bits.
constexpr bool field_fits(uint8_t field, uint32_t value) {
  return field == 0 ? value == 0 : value <= static_cast<uint32_t>(field / field_unit(field));
}

// A constant too wide for its field is a mistake the build catches, as
// Linux's FIELD_PREP does: masked into the field without a word it would
// set other bits than meant, or none. Never defined: a call to one of these
// that the compiler cannot prove dead stops the build with its message.
// Where a value is only known at run time it is masked as always.
[[gnu::error("a constant does not fit its field")]] void constant_does_not_fit_its_field();
[[gnu::error("a constant other than 0 written to a field known only at run time: it cannot be checked to fit")]] void
constant_for_a_run_time_field();

// The check, once inlined into a call: the optimiser then knows which values
// and fields are constants (an unoptimised build does not check). It costs no
// code: a fitting constant leaves a dead branch. `placed`: value is given as
// it sits in the register (write_field), not from bit 0 up (field_prep).
//
// The helpers that carry it are always inlined where code size is not the
// point (the host builds, which every build of the project makes first), so
// that it sees every call's own arguments. The firmware image, built for
// size, keeps the calls the compiler chose not to inline: forcing them
// inline would grow it, and its code stays what it was.
#if defined(__OPTIMIZE_SIZE__)
#define MURVANE_CHECKED_INLINE inline
#else
#define MURVANE_CHECKED_INLINE [[gnu::always_inline]] inline
#endif
MURVANE_CHECKED_INLINE constexpr void check_constant_fits(uint8_t field, uint32_t value, bool placed) {
  if (__builtin_constant_p(value) && value != 0) {
    if (!__builtin_constant_p(field)) {
      constant_for_a_run_time_field();
    } else if (placed ? (value & ~uint32_t{field}) != 0 : !field_fits(field, value)) {
      constant_does_not_fit_its_field();
    }
  }
}

// value placed in field (its lowest bit in the field's lowest bit), cut to
// the field: field_prep(bits(3, 2), 2) is 0x08. A constant too wide for the
// field does not build: in a constant expression (a register map's named
// values) whatever the optimisation, elsewhere as check_constant_fits says.
MURVANE_CHECKED_INLINE constexpr uint8_t field_prep(uint8_t field, uint32_t value) {
  if (__builtin_is_constant_evaluated()) {
    if (!field_fits(field, value)) {
      constant_does_not_fit_its_field();  // not a constant expression: the build stops here
    }
  } else {
    check_constant_fits(field, value, false);
  }
  return static_cast<uint8_t>(value * field_unit(field) & field);
}
// The value a register byte holds in field: field_get(bits(3, 2), 0x0B) is 2.
constexpr uint8_t field_get(uint8_t field, uint8_t byte) {
  return static_cast<uint8_t>((byte & field) / field_unit(field));
}
static_assert(bits(3, 2) == 0x0C && bits(7, 0) == 0xFF && bit(7) == 0x80);
static_assert(field_prep(bits(3, 2), 2) == 0x08 && field_get(bits(3, 2), 0x0B) == 2);

// The keep mask that updates exactly `field`: every other bit keeps its value.
constexpr uint8_t keep_except(uint8_t field) { return static_cast<uint8_t>(~field); }

// The bodies of reg_write and reg_write_bits take their operands packed in
// one word, reg in bits 7..0 and then the other bytes in argument order: a
// call site loads one constant (most operands are) where it would load two or
// three, and there are a few hundred call sites.
uint32_t reg_write_packed(uint32_t reg_value);
uint32_t reg_write_bits_packed(uint32_t reg_mask_value);

inline uint32_t reg_write(uint8_t reg, uint8_t value) {
  return reg_write_packed(reg | static_cast<uint32_t>(value) << 8);
}

// update reg (keep mask) <- value: bits set in mask keep the register's
// current value, the others take value's. A failed read writes nothing and
// returns the read's status: never write a byte built on one we could not read.
inline uint32_t reg_write_bits(uint8_t reg, uint8_t mask, uint8_t value) {
  return reg_write_bits_packed(reg | static_cast<uint32_t>(mask) << 8 | static_cast<uint32_t>(value) << 16);
}

// A field of a register (or a single bit): what a masked update changes.
struct reg_field {
  uint8_t reg;
  uint8_t mask;
};

// A register and the whole byte a step writes into it.
struct reg_value {
  uint8_t reg;
  uint8_t value;
};

// The one masked update the families call: update f.reg (keep all but
// f.mask) <- value, the bits as they sit in the register; a run-time
// value's bits outside the field are ignored. A constant value with bits
// outside a constant field does not build, nor a constant other than 0 for a
// field only known at run time (check_constant_fits): write the field's own
// mask, or a value placed with field_prep, instead.
MURVANE_CHECKED_INLINE uint32_t write_field(reg_field f, uint8_t value) {
  check_constant_fits(f.mask, value, true);
  return reg_write_bits(f.reg, keep_except(f.mask), value);
}
// write w.reg <- w.value.
inline uint32_t write_value(reg_value w) { return reg_write(w.reg, w.value); }

}  // namespace murvane
