# The boots through EDK2's own I2C stack and GPIO driver (included at the end
# of testbench/qemu/host.cmake, with the firmware images and tests on): one
# QEMU boot per case, label edk2 (`ctest -L edk2`), judged by
# murvane-edk2-check (checker.cmake). EDK2's drivers come from
# scripts/edk2-deps.sh.
set(MURVANE_EDK2_DRIVERS /var/cache/murvane-edk2/current CACHE PATH
    "EDK2's I2cDxe.efi and PL061GpioDxe.efi, built by scripts/edk2-deps.sh")
set(edk2_dir ${PROJECT_SOURCE_DIR}/testbench/edk2)

set(MURVANE_EDK2_COMMON
    --images ${MURVANE_EFI_IMAGES} --edk2 ${MURVANE_EDK2_DRIVERS} --checker $<TARGET_FILE:murvane-edk2-check>
    --dry-run $<TARGET_FILE:murvane-board> --sim $<TARGET_FILE:murvane-sim> --qemu ${MURVANE_QEMU}
    --firmware ${MURVANE_QEMU_EFI_FD} --mkfs ${MURVANE_MKFS_VFAT} --mcopy ${MURVANE_MCOPY})
# murvane_edk2_test(NAME SCENARIO [edk2_boot.sh options...])
function(murvane_edk2_test name scenario)
  add_test(NAME ${name}
           COMMAND bash ${edk2_dir}/edk2_boot.sh --scenario "${scenario}" --work ${CMAKE_CURRENT_BINARY_DIR}/edk2/${name}
                   ${MURVANE_EDK2_COMMON} ${ARGN})
  set_tests_properties(${name} PROPERTIES LABELS edk2 TIMEOUT 90)
endfunction()

# One model per family and no chip: the driver's log, the traffic EDK2's host
# driver passed to the master against the dry run, QEMU's PL061 trace.
foreach(scenario ${MURVANE_FAMILY_FIRST_MODELS} "absent")
  murvane_edk2_test(edk2_boot_${scenario} "${scenario}")
endforeach()
# An inverter between the PL061 and the chip's reset line.
murvane_edk2_test(edk2_boot_active_low_zq3501 "zq3501" --polarity active-low)

# EDK2's build reads the integrator's kit: one firmware volume of the kit's
# modules, named by their .inf; each DEPEX section against the kit's .depex
# and the .inf's [Depex] as EDK2 encodes it. A broken Murvane.inf (its
# [Depex], its [Binaries]) must make that test fail.
set(edk2_kit_test bash ${edk2_dir}/kit/kit_fv_test.sh --kit ${CMAKE_BINARY_DIR}/integration/MurvanePkg
                   --edk2 ${MURVANE_EDK2_DRIVERS})
add_test(NAME edk2_kit_fv COMMAND ${edk2_kit_test} --work ${CMAKE_CURRENT_BINARY_DIR}/edk2/kit_fv)
foreach(broken depex binaries)
  add_test(NAME edk2_kit_fv_broken_${broken}
           COMMAND ${edk2_kit_test} --work ${CMAKE_CURRENT_BINARY_DIR}/edk2/kit_fv_broken_${broken} --break ${broken})
endforeach()
set_tests_properties(edk2_kit_fv edk2_kit_fv_broken_depex edk2_kit_fv_broken_binaries PROPERTIES LABELS edk2 TIMEOUT 120)

# The bridge where EDK2's stack lives: `disconnect` of the controller (a
# consumer's Start is refused cleanly, then brings the chip up after
# `connect`), `unload` of the bridge (refused: it has no unload function, and
# the chip still comes up), and a master-mode bridge beside EDK2's host
# (refused with one line naming io mode; no transfer, no pulse).
murvane_edk2_test(edk2_reconnect_zq3101 "zq3101" --case reconnect)
murvane_edk2_test(edk2_unload_zq3101 "zq3101" --case unload)
murvane_edk2_test(edk2_master_refused_zq3201 "zq3201" --case master)
