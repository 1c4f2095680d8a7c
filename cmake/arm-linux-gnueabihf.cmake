# Cross toolchain for the Linux tools on 32-bit Arm Linux boards (armhf:
# Raspberry Pi OS 32-bit, i.MX 6/7 and the like): g++-arm-linux-gnueabihf,
# the rest as cmake/linux-cross.cmake says. Preset "armhf-linux"
# (CMakePresets.json): a Release build, warnings as errors, without the
# firmware images and benchmarks; its tests run under QEMU's user-mode
# emulator.
set(CMAKE_SYSTEM_PROCESSOR arm)
set(MURVANE_CROSS_TRIPLE arm-linux-gnueabihf)
set(MURVANE_CROSS_QEMU qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
# GCC notes on every std::map<std::string, ...> by value that argument
# passing changed in GCC 7.1 on this ABI: nothing here links code built
# before that (everything is built by GCC 12, and linked static).
set(CMAKE_CXX_FLAGS_INIT -Wno-psabi)
