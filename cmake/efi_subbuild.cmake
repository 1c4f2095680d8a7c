# The host build's sub-build of the UEFI images (included from CMakeLists.txt
# before any folder that uses them): the same sources cross-built by this
# project with cmake/aarch64-uefi.cmake and cmake/efi_images.cmake, brought
# up to date by every build. The board settings and the bridge's are handed
# on, so the images are the ones this build's settings describe.
#
# Sets MURVANE_EFI_BINARY_DIR (the sub-build) and MURVANE_EFI_IMAGES (its
# images, maps and settings files) for the kit's staging, the release tests
# and the QEMU rig.

option(MURVANE_FIRMWARE "Cross-build the UEFI images and boot them in QEMU in the tests" ON)

set(MURVANE_EFI_BINARY_DIR ${CMAKE_BINARY_DIR}/efi)
set(MURVANE_EFI_IMAGES ${MURVANE_EFI_BINARY_DIR}/images)
if(NOT MURVANE_FIRMWARE)
  return()
endif()

include(ExternalProject)
ExternalProject_Add(murvane_efi_images
  SOURCE_DIR ${PROJECT_SOURCE_DIR}
  BINARY_DIR ${MURVANE_EFI_BINARY_DIR}
  CMAKE_GENERATOR ${CMAKE_GENERATOR}
  CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/aarch64-uefi.cmake -DCMAKE_BUILD_TYPE=MinSizeRel
             ${MURVANE_BOARD_CACHE_ARGS} ${MURVANE_BRIDGE_CACHE_ARGS}
  BUILD_ALWAYS ON
  INSTALL_COMMAND ""
  BUILD_BYPRODUCTS ${MURVANE_EFI_IMAGES}/Murvane.efi ${MURVANE_EFI_IMAGES}/SimPlatform.efi
                   ${MURVANE_EFI_IMAGES}/BOOTAA64.efi ${MURVANE_EFI_IMAGES}/Consumer.efi
                   ${MURVANE_EFI_IMAGES}/MurvaneBridge.efi ${MURVANE_EFI_IMAGES}/MurvaneBridgeIo.efi
                   ${MURVANE_EFI_IMAGES}/FakeBoard.efi ${MURVANE_EFI_IMAGES}/FakeBoardLow.efi
                   ${MURVANE_EFI_IMAGES}/MurvaneBridgeLow.efi
  USES_TERMINAL_BUILD ON)
