# Cross toolchain for the Linux tools on 64-bit Arm Linux boards (arm64):
# g++-aarch64-linux-gnu, the rest as cmake/linux-cross.cmake says. Preset
# "aarch64-linux" (CMakePresets.json): a Release build, warnings as errors,
# without the firmware images and benchmarks; its tests (GoogleTest built
# from Debian's sources) run under QEMU's user-mode emulator.
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(MURVANE_CROSS_TRIPLE aarch64-linux-gnu)
set(MURVANE_CROSS_QEMU qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
