# Test-only images for the boots through EDK2's own I2C stack (included at
# the end of cmake/efi_images.cmake, in the UEFI cross build): the controller
# EdkController.efi and the bridges it is booted with, all for QEMU virt's
# PL061 line MURVANE_EDK2_RESET_LINE (not 3: the power button).
#   EdkController.efi, EdkControllerLow.efi   the chip's reset line on that
#                                             PL061 line, directly or through
#                                             an inverter
#   MurvaneBridgeEdk.efi, MurvaneBridgeEdkLow.efi
#                                             the bridge in I2C IO mode,
#                                             active-high and active-low
#   MurvaneBridgeEdkMaster.efi                the bridge in master mode
# The rest of each bridge's settings are this build's.
set(MURVANE_EDK2_RESET_LINE 5)
set(edk2_dir ${PROJECT_SOURCE_DIR}/testbench/edk2)

function(murvane_edk2_settings variant io active_low)
  set(MURVANE_BRIDGE_IS_IO ${io})
  set(MURVANE_BRIDGE_ACTIVE_LOW ${active_low})
  murvane_hex(MURVANE_BRIDGE_GPIO_PIN_HEX ${MURVANE_EDK2_RESET_LINE} 8)
  configure_file(${PROJECT_SOURCE_DIR}/bridge/bridge_settings.h.in
                 ${CMAKE_BINARY_DIR}/generated-edk2-${variant}/murvane/bridge_settings.h @ONLY)
endfunction()
murvane_edk2_settings(high true false)
murvane_edk2_settings(low true true)
murvane_edk2_settings(master false false)

foreach(variant high low)
  add_library(murvane_efi_edkobj_controller_${variant} OBJECT ${edk2_dir}/controller.cpp
                                                          ${MURVANE_QEMU_DIR}/fake_board/fake_bus.cpp)
  target_include_directories(murvane_efi_edkobj_controller_${variant} BEFORE PRIVATE
                             ${CMAKE_BINARY_DIR}/generated-edk2-${variant})
endforeach()
foreach(variant high low master)
  add_library(murvane_efi_edkobj_bridge_${variant} OBJECT ${PROJECT_SOURCE_DIR}/bridge/bridge_main.cpp)
  target_include_directories(murvane_efi_edkobj_bridge_${variant} BEFORE PRIVATE
                             ${CMAKE_BINARY_DIR}/generated-edk2-${variant})
endforeach()
foreach(lib murvane_efi_edkobj_controller_high murvane_efi_edkobj_controller_low murvane_efi_edkobj_bridge_high
            murvane_efi_edkobj_bridge_low murvane_efi_edkobj_bridge_master)
  target_include_directories(${lib} PRIVATE ${PROJECT_SOURCE_DIR} ${MURVANE_GENERATED_INCLUDE_DIR})
  target_compile_options(${lib} PRIVATE ${MURVANE_WARNINGS} $<$<CONFIG:MinSizeRel>:-Oz>)
endforeach()
murvane_efi_image(murvane_efi_edk_controller OUTPUT_NAME EdkController ENTRY edk_controller_main
                  SUBSYSTEM efi_boot_service_driver OBJECTS murvane_efi_edkobj_controller_high ${MURVANE_EFI_TEST_LIBS})
murvane_efi_image(murvane_efi_edk_controller_low OUTPUT_NAME EdkControllerLow ENTRY edk_controller_main
                  SUBSYSTEM efi_boot_service_driver OBJECTS murvane_efi_edkobj_controller_low ${MURVANE_EFI_TEST_LIBS})
murvane_efi_image(murvane_efi_edk_bridge OUTPUT_NAME MurvaneBridgeEdk ENTRY bridge_main
                  SUBSYSTEM efi_boot_service_driver
                  OBJECTS murvane_efi_runtime murvane_efi_bridge_core murvane_efi_edkobj_bridge_high)
murvane_efi_image(murvane_efi_edk_bridge_low OUTPUT_NAME MurvaneBridgeEdkLow ENTRY bridge_main
                  SUBSYSTEM efi_boot_service_driver
                  OBJECTS murvane_efi_runtime murvane_efi_bridge_core murvane_efi_edkobj_bridge_low)
murvane_efi_image(murvane_efi_edk_bridge_master OUTPUT_NAME MurvaneBridgeEdkMaster ENTRY bridge_main
                  SUBSYSTEM efi_boot_service_driver
                  OBJECTS murvane_efi_runtime murvane_efi_bridge_core murvane_efi_edkobj_bridge_master)
