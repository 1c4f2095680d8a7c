# What the two Linux board toolchains share (cmake/aarch64-linux-gnu.cmake,
# cmake/arm-linux-gnueabihf.cmake): Debian's GCC 12 cross compiler for
# MURVANE_CROSS_TRIPLE, programs linked static (one file runs on a board
# whatever its C library), libraries from the cross sysroot only, and the
# tests run under QEMU's user-mode emulator MURVANE_CROSS_QEMU where it is
# installed (scripts/deps.sh installs it).
set(CMAKE_SYSTEM_NAME Linux)

set(CMAKE_C_COMPILER ${MURVANE_CROSS_TRIPLE}-gcc-12)
set(CMAKE_CXX_COMPILER ${MURVANE_CROSS_TRIPLE}-g++-12)
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)

# Libraries from the cross sysroot only; the header-only ones (CLI11,
# nlohmann_json) and their CMake package files from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${MURVANE_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

find_program(MURVANE_QEMU_USER ${MURVANE_CROSS_QEMU}-static ${MURVANE_CROSS_QEMU})
if(MURVANE_QEMU_USER)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${MURVANE_QEMU_USER})
endif()
