// The one built-in waveform: a one-entry waveform table and the samples of
// waveform 1, laid out for SRAM base 0x0800.
#pragma once

#include <stdint.h>

namespace murvane {

inline constexpr uint16_t waveform_sram_base = 0x0800;
inline constexpr uint32_t waveform_image_size = 146;
extern const uint8_t waveform_image[waveform_image_size];
extern const uint32_t waveform_image_len;

// Register every family streams SRAM bytes into; the chip advances its RAM
// address pointer after each byte.
inline constexpr uint8_t reg_ram_data = 0x42;

// Streams len bytes of image into the RAM data register, one write per
// byte, in order. The bound is read before every byte (so an empty image
// writes nothing); failed writes are logged and the stream goes on.
void stream_waveform(const uint8_t* image, const volatile uint32_t* len);

}  // namespace murvane
