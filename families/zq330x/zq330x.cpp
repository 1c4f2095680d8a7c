// Placeholder until the family's operations land: every slot refuses.
#include "core/family.h"

namespace murvane {

namespace {

constexpr family_dts zq330x_dts = {};

constexpr haptic_ops zq330x_ops = {
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

constexpr chip_family zq330x_family = {&zq330x_dts, &zq330x_ops, "zq330x"};

}  // namespace murvane
