// Short register names per chip family, for the readable traces: what the
// driver uses each register for, as the family's register map describes it.
#pragma once

#include <cstdint>
#include <string>

namespace murvane_tools {

// Name of reg as the given family ("zq310x" ... "zq360x") uses it, falling
// back to the identifier registers every family shares; empty when the
// driver gives the register no role. An empty or unknown family gets the
// shared names only.
std::string register_name(const std::string& family, uint8_t reg);

}  // namespace murvane_tools
