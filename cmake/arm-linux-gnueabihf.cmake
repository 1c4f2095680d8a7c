# Cross toolchain for the Linux tools on 32-bit Arm Linux boards (armhf: Raspberry Pi OS
# 32-bit, i.MX 6/7 and the like): Debian's GCC 12 cross
# compiler (g++-arm-linux-gnueabihf, installed by scripts/deps.sh). Programs are
# linked static, so murvane-board and murvane-sim run on a board as single
# files, whatever its C library. Preset "armhf-linux" (CMakePresets.json): a
# Release build, warnings as errors, without the firmware images and
# benchmarks; its tests (GoogleTest built from Debian's sources) run under
# QEMU's user-mode emulator.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc-12)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++-12)
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
# GCC notes on every std::map<std::string, ...> by value that argument
# passing changed in GCC 7.1 on this ABI: nothing here links code built
# before that (everything is built by GCC 12, and linked static).
set(CMAKE_CXX_FLAGS_INIT -Wno-psabi)

# Libraries from the cross sysroot only; the header-only ones (CLI11,
# nlohmann_json) and their CMake package files from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/arm-linux-gnueabihf)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

find_program(MURVANE_QEMU_USER qemu-arm-static qemu-arm)
if(MURVANE_QEMU_USER)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${MURVANE_QEMU_USER})
endif()
