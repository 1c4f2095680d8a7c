# Two more ways into firmware (included from host.cmake, which found the
# tools and firmware files): the driver started from Driver####/DriverOrder
# load options, and Secure Boot with a db key made and enrolled at test
# time (scripts/enroll-db.sh). See docs/firmware.md.

# An empty variable store (Secure Boot off) for the load options: each run
# writes its options into a snapshot of it.
find_file(MURVANE_AAVMF_VARS_EMPTY AAVMF_VARS.fd PATHS /usr/share/AAVMF NO_DEFAULT_PATH)
find_program(MURVANE_CERT_TO_EFI_SIG_LIST cert-to-efi-sig-list)
find_program(MURVANE_SIGN_EFI_SIG_LIST sign-efi-sig-list)
foreach(tool MURVANE_AAVMF_VARS_EMPTY MURVANE_CERT_TO_EFI_SIG_LIST MURVANE_SIGN_EFI_SIG_LIST)
  if(NOT ${tool})
    message(FATAL_ERROR "${tool} not found: run scripts/deps.sh, or configure with -DMURVANE_FIRMWARE=OFF")
  endif()
endforeach()

# Driver0000 the console recorder, then the test platform and the driver
# (the platform first), or the driver alone, before any bus protocol.
foreach(case platform-first driver-first)
  string(REPLACE "-" "_" name "${case}")
  add_test(NAME firmware_load_option_${name}
           COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/load_option_test.sh --case ${case} --scenario zq3101
                   --images ${MURVANE_EFI_IMAGES} --work ${CMAKE_CURRENT_BINARY_DIR}/qemu/load_option_${name}
                   --checker $<TARGET_FILE:murvane-fw-check> --qemu ${MURVANE_QEMU} --code ${MURVANE_AAVMF_CODE}
                   --vars ${MURVANE_AAVMF_VARS_EMPTY} --mkfs ${MURVANE_MKFS_VFAT} --mmd ${MURVANE_MMD}
                   --mcopy ${MURVANE_MCOPY})
  set_tests_properties(firmware_load_option_${name} PROPERTIES LABELS firmware TIMEOUT 120)
endforeach()

# A fresh db key enrolled into a copy of the snakeoil store (offline, and by
# the firmware); in each store its signed set boots, another fresh key is
# refused.
add_test(NAME firmware_secure_own_key
         COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/secure_own_key_test.sh ${PROJECT_SOURCE_DIR} ${MURVANE_EFI_IMAGES}
                 ${CMAKE_CURRENT_BINARY_DIR}/qemu/secure_own_key $<TARGET_FILE:murvane-fw-check> ${MURVANE_QEMU}
                 ${MURVANE_AAVMF_CODE} ${MURVANE_AAVMF_VARS_SECURE} ${MURVANE_AAVMF_VARS_EMPTY} ${MURVANE_TEST_DB_CERT}
                 ${MURVANE_MKFS_VFAT}
                 ${MURVANE_MMD} ${MURVANE_MCOPY})
set_tests_properties(firmware_secure_own_key PROPERTIES LABELS firmware TIMEOUT 300)
