# Host side of the firmware images (included from firmware/CMakeLists.txt).

option(MURVANE_FIRMWARE "Cross-build the UEFI images and boot them in QEMU in the tests" ON)

# The checker: the scenario's chip on the host virtual platform against the
# serial log of a QEMU boot.
add_library(murvane_fwcheck STATIC fw_check.cpp sim_scenario.cpp)
target_include_directories(murvane_fwcheck PUBLIC ${PROJECT_SOURCE_DIR})
target_compile_options(murvane_fwcheck PRIVATE ${MURVANE_WARNINGS})
target_link_libraries(murvane_fwcheck PUBLIC murvane_sim)

add_executable(murvane-fw-check fw_check_main.cpp)
target_compile_options(murvane-fw-check PRIVATE ${MURVANE_WARNINGS})
target_link_libraries(murvane-fw-check PRIVATE murvane_fwcheck)

if(MURVANE_TESTS)
  enable_testing()
  find_package(GTest REQUIRED)
  include(GoogleTest)
  add_executable(test_fw_check tests/test_fw_check.cpp tests/test_fw_scenario.cpp)
  target_compile_options(test_fw_check PRIVATE ${MURVANE_WARNINGS})
  target_link_libraries(test_fw_check PRIVATE murvane_fwcheck GTest::gtest_main)
  gtest_discover_tests(test_fw_check DISCOVERY_TIMEOUT 60 PROPERTIES LABELS unit)
endif()

if(NOT MURVANE_FIRMWARE)
  return()
endif()

# The images: the same sources cross-built by this project with
# cmake/aarch64-uefi.cmake, as a sub-build that every build brings up to date.
include(ExternalProject)
set(MURVANE_EFI_BINARY_DIR ${CMAKE_BINARY_DIR}/efi)
set(MURVANE_EFI_IMAGES ${MURVANE_EFI_BINARY_DIR}/images)
ExternalProject_Add(murvane_efi_images
  SOURCE_DIR ${PROJECT_SOURCE_DIR}
  BINARY_DIR ${MURVANE_EFI_BINARY_DIR}
  CMAKE_GENERATOR ${CMAKE_GENERATOR}
  CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/aarch64-uefi.cmake -DCMAKE_BUILD_TYPE=MinSizeRel
             ${MURVANE_BOARD_CACHE_ARGS}
  BUILD_ALWAYS ON
  INSTALL_COMMAND ""
  BUILD_BYPRODUCTS ${MURVANE_EFI_IMAGES}/Murvane.efi ${MURVANE_EFI_IMAGES}/SimPlatform.efi
                   ${MURVANE_EFI_IMAGES}/BOOTAA64.efi
  USES_TERMINAL_BUILD ON)

if(NOT MURVANE_TESTS)
  return()
endif()

set(MURVANE_TOOL_HINTS /usr/sbin /sbin /usr/bin)
find_program(MURVANE_QEMU qemu-system-aarch64)
find_program(MURVANE_MKFS_VFAT mkfs.vfat HINTS ${MURVANE_TOOL_HINTS})
find_program(MURVANE_MMD mmd)
find_program(MURVANE_MCOPY mcopy)
find_program(MURVANE_READOBJ NAMES llvm-readobj-14 llvm-readobj)
find_program(MURVANE_OBJDUMP NAMES llvm-objdump-14 llvm-objdump)
find_program(MURVANE_NM NAMES llvm-nm-14 llvm-nm)
find_file(MURVANE_QEMU_EFI_FD QEMU_EFI.fd PATHS /usr/share/qemu-efi-aarch64 /usr/share/AAVMF NO_DEFAULT_PATH)
foreach(tool MURVANE_QEMU MURVANE_MKFS_VFAT MURVANE_MMD MURVANE_MCOPY MURVANE_READOBJ MURVANE_OBJDUMP MURVANE_NM
             MURVANE_QEMU_EFI_FD)
  if(NOT ${tool})
    message(FATAL_ERROR "${tool} not found: run scripts/deps.sh, or configure with -DMURVANE_FIRMWARE=OFF")
  endif()
endforeach()

# Image hygiene: PE32+ layout and flags, objects without static constructors,
# stack protector where it belongs, memory routines that call nothing.
add_test(NAME firmware_image_checks
         COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/check_images.sh ${MURVANE_EFI_IMAGES} ${MURVANE_READOBJ}
                 ${MURVANE_OBJDUMP} ${MURVANE_NM})
set_tests_properties(firmware_image_checks PROPERTIES LABELS firmware)

# One boot of real UEFI firmware per scenario: one model per family, no chip
# at all, and a chip whose qualification fails. Each compares the driver's
# console output with the same chip on the host virtual platform.
set(MURVANE_QEMU_SCENARIOS
    "zq3101" "zq3201" "zq3301" "zq3401" "zq3501" "zq3601" "absent" "zq3201 noqualify")
foreach(scenario ${MURVANE_QEMU_SCENARIOS})
  string(REPLACE " " "_" name "${scenario}")
  add_test(NAME firmware_qemu_${name}
           COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/qemu_test.sh
                   --scenario "${scenario}"
                   --images ${MURVANE_EFI_IMAGES}
                   --work ${CMAKE_CURRENT_BINARY_DIR}/qemu/${name}
                   --checker $<TARGET_FILE:murvane-fw-check>
                   --qemu ${MURVANE_QEMU}
                   --firmware ${MURVANE_QEMU_EFI_FD}
                   --mkfs ${MURVANE_MKFS_VFAT} --mmd ${MURVANE_MMD} --mcopy ${MURVANE_MCOPY})
  set_tests_properties(firmware_qemu_${name} PROPERTIES LABELS firmware TIMEOUT 90)
endforeach()

# The stack-guard check in firmware: the test application overflows a
# protected buffer; the boot must stop with the check's message.
add_test(NAME firmware_qemu_stack_guard_halt
         COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/qemu_test.sh --expect-halt
                 --scenario "absent stacksmash"
                 --images ${MURVANE_EFI_IMAGES}
                 --work ${CMAKE_CURRENT_BINARY_DIR}/qemu/stack_guard_halt
                 --checker $<TARGET_FILE:murvane-fw-check>
                 --qemu ${MURVANE_QEMU}
                 --firmware ${MURVANE_QEMU_EFI_FD}
                 --mkfs ${MURVANE_MKFS_VFAT} --mmd ${MURVANE_MMD} --mcopy ${MURVANE_MCOPY})
set_tests_properties(firmware_qemu_stack_guard_halt PROPERTIES LABELS firmware TIMEOUT 90)
