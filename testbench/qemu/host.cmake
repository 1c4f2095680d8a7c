# Host side of the QEMU rig (included from testbench/qemu/CMakeLists.txt):
# the checker and its tests, and one QEMU boot per scenario of the images
# the host build's sub-build makes (cmake/efi_subbuild.cmake).

# The fake board's bus, the chip models behind the PI I2C protocols, as the
# bridge's unit tests and the checker drive it on the host.
add_library(murvane_fake_bus STATIC fake_board/fake_bus.cpp)
target_include_directories(murvane_fake_bus PUBLIC ${PROJECT_SOURCE_DIR} ${MURVANE_GENERATED_INCLUDE_DIR})
target_compile_options(murvane_fake_bus PRIVATE ${MURVANE_WARNINGS} ${MURVANE_FREESTANDING_FLAGS})
target_link_libraries(murvane_fake_bus PUBLIC murvane_models)

# The checker: the scenario's chip on the host virtual platform against the
# serial log of a QEMU boot.
add_library(murvane_fwcheck STATIC fw_check.cpp fw_verdict.cpp sim_scenario.cpp bridge_check.cpp)
target_include_directories(murvane_fwcheck PUBLIC ${PROJECT_SOURCE_DIR})
target_compile_options(murvane_fwcheck PRIVATE ${MURVANE_WARNINGS})
target_link_libraries(murvane_fwcheck PUBLIC murvane_sim murvane_bridge murvane_fake_bus)

add_executable(murvane-fw-check fw_check_main.cpp)
target_compile_options(murvane-fw-check PRIVATE ${MURVANE_WARNINGS})
target_link_libraries(murvane-fw-check PRIVATE murvane_fwcheck)

if(MURVANE_TESTS)
  enable_testing()
  find_package(GTest REQUIRED)
  include(GoogleTest)
  set(qemu_tests ${PROJECT_SOURCE_DIR}/tests/qemu)
  add_executable(test_fw_check ${qemu_tests}/test_fw_check.cpp ${qemu_tests}/test_fw_scenario.cpp
                               ${qemu_tests}/test_bridge_check.cpp ${qemu_tests}/test_fw_verdict.cpp)
  target_compile_options(test_fw_check PRIVATE ${MURVANE_WARNINGS})
  target_link_libraries(test_fw_check PRIVATE murvane_fwcheck GTest::gtest_main)
  gtest_discover_tests(test_fw_check DISCOVERY_TIMEOUT 60 PROPERTIES LABELS unit)

  # The bridge (bridge/) on the fake board's bus.
  add_executable(test_bridge ${PROJECT_SOURCE_DIR}/tests/bridge/test_bridge.cpp)
  target_compile_options(test_bridge PRIVATE ${MURVANE_WARNINGS})
  target_link_libraries(test_bridge PRIVATE murvane_bridge murvane_fake_bus murvane_sim GTest::gtest_main)
  gtest_discover_tests(test_bridge DISCOVERY_TIMEOUT 60 PROPERTIES LABELS unit)
endif()

# The checker of the boots through EDK2's own I2C stack (testbench/edk2/).
include(${PROJECT_SOURCE_DIR}/testbench/edk2/checker.cmake)

if(NOT MURVANE_FIRMWARE OR NOT MURVANE_TESTS)
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
# Secure Boot: the firmware code, variables with Secure Boot on and Debian's
# test key ("snakeoil") enrolled in db, and that key pair (its passphrase is
# in the package's README.Debian). Test keys only: never sign a release with them.
find_file(MURVANE_AAVMF_CODE AAVMF_CODE.fd PATHS /usr/share/AAVMF NO_DEFAULT_PATH)
find_file(MURVANE_AAVMF_VARS_SECURE AAVMF_VARS.snakeoil.fd PATHS /usr/share/AAVMF NO_DEFAULT_PATH)
find_file(MURVANE_TEST_DB_KEY PkKek-1-snakeoil.key PATHS /usr/share/qemu-efi-aarch64 NO_DEFAULT_PATH)
find_file(MURVANE_TEST_DB_CERT PkKek-1-snakeoil.pem PATHS /usr/share/qemu-efi-aarch64 NO_DEFAULT_PATH)
set(MURVANE_TEST_DB_KEY_PASSPHRASE "snakeoil" CACHE STRING "Passphrase of MURVANE_TEST_DB_KEY")
find_file(MURVANE_UBOOT u-boot.bin PATHS /usr/lib/u-boot/qemu_arm64 NO_DEFAULT_PATH)
find_program(MURVANE_SBSIGN sbsign)
find_program(MURVANE_OPENSSL openssl)
foreach(tool MURVANE_QEMU MURVANE_MKFS_VFAT MURVANE_MMD MURVANE_MCOPY MURVANE_READOBJ MURVANE_OBJDUMP MURVANE_NM
             MURVANE_QEMU_EFI_FD MURVANE_AAVMF_CODE MURVANE_AAVMF_VARS_SECURE MURVANE_TEST_DB_KEY MURVANE_TEST_DB_CERT
             MURVANE_UBOOT MURVANE_SBSIGN MURVANE_OPENSSL)
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

# Boots of real UEFI firmware, each compared by murvane-fw-check with the
# same chip on the host virtual platform (see docs/firmware.md).
set(MURVANE_QEMU_COMMON
    --images ${MURVANE_EFI_IMAGES} --signed ${CMAKE_CURRENT_BINARY_DIR}/signed
    --checker $<TARGET_FILE:murvane-fw-check> --qemu ${MURVANE_QEMU}
    --firmware ${MURVANE_QEMU_EFI_FD} --secure-code ${MURVANE_AAVMF_CODE} --secure-vars ${MURVANE_AAVMF_VARS_SECURE}
    --uboot ${MURVANE_UBOOT} --mkfs ${MURVANE_MKFS_VFAT} --mmd ${MURVANE_MMD} --mcopy ${MURVANE_MCOPY})
# murvane_qemu_test(NAME SCENARIO [qemu_test.sh options...])
function(murvane_qemu_test name scenario)
  add_test(NAME ${name}
           COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/qemu_test.sh --scenario "${scenario}"
                   --work ${CMAKE_CURRENT_BINARY_DIR}/qemu/${name} ${MURVANE_QEMU_COMMON} ${ARGN})
  set_tests_properties(${name} PROPERTIES LABELS firmware TIMEOUT 90)
endfunction()

# One model per family: each family's first in core/family_list.h.
list(GET MURVANE_FAMILY_FIRST_MODELS 1 family_b_model)

# EDK2, Secure Boot off: one model per family, no chip at all, and a chip
# whose qualification fails. No RNG protocol: the guard comes from the counter.
foreach(scenario ${MURVANE_FAMILY_FIRST_MODELS} "absent" "${family_b_model} noqualify")
  string(REPLACE " " "_" name "${scenario}")
  murvane_qemu_test(firmware_qemu_${name} "${scenario}" --kind edk2 --guard counter)
endforeach()
# The stack-guard check in firmware: the test application overflows a
# protected buffer; the boot must stop with the check's message.
murvane_qemu_test(firmware_qemu_stack_guard_halt "absent stacksmash" --kind edk2 --expect-halt)

# EDK2 with Secure Boot enforced. The fixture signs the three images with
# the enrolled test key (scripts/sign.sh) and makes the refused copies:
# unsigned, altered after signing, signed by a fresh key the firmware does
# not trust.
add_test(NAME firmware_sign_images
         COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/sign_test_images.sh ${MURVANE_EFI_IMAGES}
                 ${CMAKE_CURRENT_BINARY_DIR}/signed ${MURVANE_TEST_DB_KEY} ${MURVANE_TEST_DB_CERT}
                 ${MURVANE_TEST_DB_KEY_PASSPHRASE})
set_tests_properties(firmware_sign_images PROPERTIES LABELS firmware FIXTURES_SETUP murvane_signed_images)
set(MURVANE_SECURE_TESTS)
foreach(scenario ${MURVANE_FAMILY_FIRST_MODELS})
  murvane_qemu_test(firmware_secure_${scenario} "${scenario}" --kind edk2-secure --guard counter)
  list(APPEND MURVANE_SECURE_TESTS firmware_secure_${scenario})
endforeach()
foreach(driver unsigned tampered otherkey)
  murvane_qemu_test(firmware_secure_refused_${driver} "zq3101" --kind edk2-secure --driver ${driver} --expect-refused)
  list(APPEND MURVANE_SECURE_TESTS firmware_secure_refused_${driver})
endforeach()
# The harness itself: a boot that goes nowhere must end at the firmware's
# dead end, not at the time-out. Secure Boot refuses the unsigned test
# application; U-Boot finds nothing to boot and returns to its prompt.
murvane_qemu_test(firmware_secure_dead_end_unsigned_loader "zq3101" --kind edk2-secure --unsigned-loader
                  --expect-dead-end "failed to load")
list(APPEND MURVANE_SECURE_TESTS firmware_secure_dead_end_unsigned_loader)
set_tests_properties(${MURVANE_SECURE_TESTS} PROPERTIES FIXTURES_REQUIRED murvane_signed_images)
murvane_qemu_test(firmware_uboot_dead_end_no_loader "zq3101" --kind uboot --no-loader --expect-dead-end "prompt")

# U-Boot's UEFI through its default boot: one model per family and no chip;
# with a virtio RNG the guard must be the RNG's value, without one the counter
# (families A, C, E and no chip with the RNG; B, D, F without).
set(guard rng)
foreach(scenario ${MURVANE_FAMILY_FIRST_MODELS} "absent")
  if(scenario STREQUAL "absent")
    set(guard rng)
  endif()
  set(rng)
  if(guard STREQUAL "rng")
    set(rng --rng)
  endif()
  murvane_qemu_test(firmware_uboot_${scenario} "${scenario}" --kind uboot --guard ${guard} ${rng})
  if(guard STREQUAL "rng")
    set(guard counter)
  else()
    set(guard rng)
  endif()
endforeach()

# EDK2's UEFI Shell: startup.nsh loads SimPlatform.efi and Murvane.efi with
# `load`; the test application, run from the script, is the consumer.
murvane_qemu_test(firmware_shell_zq3201 "zq3201" --kind shell --guard counter)

# The driver loaded again from the Shell (`load Murvane.efi` twice, then the
# test application's Start), one model per family: every image's waits must
# reach the chip, so no load may see a calibration fail. Family B's model is
# loaded three times.
foreach(scenario ${MURVANE_FAMILY_FIRST_MODELS})
  set(loads 2)
  if(scenario STREQUAL "${family_b_model}")
    set(loads 3)
  endif()
  murvane_qemu_test(firmware_shell_reload_${scenario} "${scenario}" --kind shell --guard counter --loads ${loads})
endforeach()

# The C consumer of the integrator's header (Consumer.efi, testbench/qemu/consumer)
# on the same disk: after the test application's own calls it locates the
# protocol, checks the revision and calls Start once more. Its part of the
# log must match one more Start on the host: a healthy chip, and no chip.
foreach(scenario "zq3101" "absent")
  murvane_qemu_test(firmware_qemu_c_consumer_${scenario} "${scenario}" --kind edk2
                    --extra ${MURVANE_EFI_IMAGES}/Consumer.efi --check-arg --consumer)
endforeach()

# A stock EDK2 board: FakeBoard.efi (its I2C stack and GPIO over the chip
# models) and MurvaneBridge.efi between it and the unchanged driver; the
# checker compares with the same chip on the host and checks the bridge's
# lines (testbench/qemu/bridge_check.h). Master mode, one model per family and no
# chip, each booted from the disk as the firmware boots it.
foreach(scenario ${MURVANE_FAMILY_FIRST_MODELS} "absent")
  murvane_qemu_test(firmware_bridge_master_${scenario} "${scenario}" --kind edk2 --bridge master)
endforeach()
# The behaviours of real master drivers: the three ways of telling (or
# hiding) a NACK, each on a bus with no chip, where every transfer is one;
# the default, EFI_DEVICE_ERROR, is the master-mode boot with no chip above.
# And a controller that rounds the clock down, with a chip.
foreach(quirk status-only nack-no-response nack-success)
  murvane_qemu_test(firmware_bridge_quirk_${quirk} "absent" --kind edk2 --bridge master --board ${quirk})
endforeach()
murvane_qemu_test(firmware_bridge_quirk_round-down_zq3201 "zq3201" --kind edk2 --bridge master --board round-down)
# A board with an inverter on the reset line, the bridge built active-low for
# it: the chip must see the same reset pulse (held in reset it would not
# acknowledge).
murvane_qemu_test(firmware_bridge_active_low_zq3501 "zq3501" --kind edk2 --bridge master-low)
# EDK2's UEFI Shell: startup.nsh types `load FakeBoard.efi`, `load
# MurvaneBridge.efi` and `load Murvane.efi`; the driver's lines must be those
# of the host run, one model per family and no chip. One boot for all seven:
# the script moves the board to the next chip (`load FakeBoard.efi` again)
# and loads the driver again, and each part of the log is judged on its own.
# I2C IO mode the same way, in one boot.
list(JOIN MURVANE_FAMILY_FIRST_MODELS "," shell_rounds)
murvane_qemu_test(firmware_bridge_shell "${shell_rounds},absent" --kind shell --bridge master)
murvane_qemu_test(firmware_bridge_io_shell "${shell_rounds},absent" --kind shell --bridge io)
# The same board with Secure Boot enforced, every image signed (the signing
# fixture signs FakeBoard.efi and both bridges too), and under U-Boot's UEFI.
set(MURVANE_BRIDGE_SECURE_TESTS)
foreach(scenario ${MURVANE_FAMILY_FIRST_MODELS} "absent")
  murvane_qemu_test(firmware_bridge_secure_${scenario} "${scenario}" --kind edk2-secure --bridge master)
  list(APPEND MURVANE_BRIDGE_SECURE_TESTS firmware_bridge_secure_${scenario})
  murvane_qemu_test(firmware_bridge_uboot_${scenario} "${scenario}" --kind uboot --bridge master)
endforeach()
set_tests_properties(${MURVANE_BRIDGE_SECURE_TESTS} PROPERTIES FIXTURES_REQUIRED murvane_signed_images)
# The bridge's settings checked at configure time.
add_test(NAME firmware_bridge_settings
         COMMAND bash ${PROJECT_SOURCE_DIR}/tests/bridge/bridge_settings_test.sh ${PROJECT_SOURCE_DIR}
                 ${CMAKE_CURRENT_BINARY_DIR}/bridge-settings-test)
set_tests_properties(firmware_bridge_settings PROPERTIES LABELS script)

# Load options, and Secure Boot with a key enrolled at test time.
include(load_options_and_own_key.cmake)

# The boots through EDK2's own I2C stack (testbench/edk2/).
include(${PROJECT_SOURCE_DIR}/testbench/edk2/tests.cmake)
