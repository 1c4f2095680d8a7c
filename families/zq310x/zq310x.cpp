// Placeholder until the family's operations land: every slot refuses.
#include "core/family.h"

namespace murvane {

namespace {

constexpr family_dts zq310x_dts = {};

constexpr haptic_ops zq310x_ops = {
    [] { return -1; },
    [] { return -1; },
    [](uint8_t) { return -1; },
    [] { return -1; },
    [] {},
    [] { return -1; },
    [] { return -1; },
    [](uint8_t) { return -1; },
    [](uint8_t) { return -1; },
    [](int32_t) { return -1; },
    [](uint8_t, uint8_t) { return -1; },
    [](uint8_t, uint8_t) { return -1; },
    [](uint8_t) { return -1; },
    []() -> EFI_STATUS { return EFI_UNSUPPORTED; },
};

}  // namespace

constexpr chip_family zq310x_family = {&zq310x_dts, &zq310x_ops, "zq310x"};

}  // namespace murvane
