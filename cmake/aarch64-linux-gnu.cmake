# Cross toolchain for the Linux tools on 64-bit Arm Linux boards (arm64): Debian's GCC 12 cross
# compiler (g++-aarch64-linux-gnu, installed by scripts/deps.sh). Programs are
# linked static, so murvane-board and murvane-sim run on a board as single
# files, whatever its C library. Preset "aarch64-linux" (CMakePresets.json): a
# Release build, warnings as errors, without the firmware images and
# benchmarks; its tests (GoogleTest built from Debian's sources) run under
# QEMU's user-mode emulator.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc-12)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++-12)
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)

# Libraries from the cross sysroot only; the header-only ones (CLI11,
# nlohmann_json) and their CMake package files from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

find_program(MURVANE_QEMU_USER qemu-aarch64-static qemu-aarch64)
if(MURVANE_QEMU_USER)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${MURVANE_QEMU_USER})
endif()
