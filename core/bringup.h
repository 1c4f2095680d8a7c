// The driver's whole job: open the bus, reset and identify the chip, check
// and calibrate it, program its defaults, load the waveform and play it.
#pragma once

#include "platform/efi.h"

namespace murvane {

EFI_STATUS bringup();

}  // namespace murvane
