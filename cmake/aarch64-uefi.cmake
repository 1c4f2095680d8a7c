# Cross toolchain for the AArch64 UEFI images: clang 14 compiling for the
# PE/COFF (Microsoft ABI) target that UEFI uses on Arm, lld-link linking.
# With this toolchain the project builds the images only (see cmake/efi_images.cmake).
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(MURVANE_EFI ON CACHE BOOL "Cross build of the UEFI images" FORCE)

find_program(MURVANE_CLANG NAMES clang-14 clang REQUIRED)
find_program(MURVANE_CLANGXX NAMES clang++-14 clang++ REQUIRED)
find_program(MURVANE_LLD_LINK NAMES lld-link-14 lld-link REQUIRED)
find_program(MURVANE_LLVM_AR NAMES llvm-ar-14 llvm-ar REQUIRED)
find_program(MURVANE_LLVM_RANLIB NAMES llvm-ranlib-14 llvm-ranlib REQUIRED)

set(CMAKE_C_COMPILER ${MURVANE_CLANG})
set(CMAKE_CXX_COMPILER ${MURVANE_CLANGXX})
set(CMAKE_C_COMPILER_TARGET aarch64-unknown-windows)
set(CMAKE_CXX_COMPILER_TARGET aarch64-unknown-windows)
set(CMAKE_LINKER ${MURVANE_LLD_LINK} CACHE FILEPATH "" FORCE)
set(CMAKE_AR ${MURVANE_LLVM_AR} CACHE FILEPATH "" FORCE)
set(CMAKE_RANLIB ${MURVANE_LLVM_RANLIB} CACHE FILEPATH "" FORCE)

# No C runtime and no host headers: only clang's own freestanding
# <stdint.h>/<stddef.h> (its resource directory) and the project's headers.
# No NEON/FP registers in firmware code, no unwind tables, one section per
# function and object so the linker drops what no image uses. Stack-probe
# calls (__chkstk) have nothing to call in an image without a C runtime.
set(MURVANE_EFI_FLAGS
    "-ffreestanding -nostdlibinc -fno-exceptions -fno-rtti -fno-threadsafe-statics \
-fno-asynchronous-unwind-tables -fno-unwind-tables -mgeneral-regs-only -mno-stack-arg-probe \
-fno-ms-compatibility -fno-ms-extensions -fno-delayed-template-parsing \
-ffunction-sections -fdata-sections -fstack-protector-strong")
set(CMAKE_C_FLAGS_INIT "${MURVANE_EFI_FLAGS}")
set(CMAKE_CXX_FLAGS_INIT "${MURVANE_EFI_FLAGS}")

# Compiler checks must not try to link a program: there is no runtime.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

set(CMAKE_C_LINK_EXECUTABLE "<CMAKE_LINKER> <LINK_FLAGS> <OBJECTS> /out:<TARGET> <LINK_LIBRARIES>")
set(CMAKE_CXX_LINK_EXECUTABLE "<CMAKE_LINKER> <LINK_FLAGS> <OBJECTS> /out:<TARGET> <LINK_LIBRARIES>")

set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
