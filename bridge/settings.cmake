# The bridge's board settings (MurvaneBridge.efi, bridge/): which
# standard protocol it sits on and where the chip's reset line is. Cache
# options checked here, at configure time, like the driver's own
# (cmake/board_settings.cmake); docs/porting.md, "On a board with EDK2's I2C
# stack", says when to choose what.
#
# Included by CMakeLists.txt in the host build and in the UEFI cross build;
# the host build hands them on to its sub-build (cmake/efi_subbuild.cmake).

set(MURVANE_BRIDGE_MODE "master" CACHE STRING
    "MurvaneBridge.efi: master (EFI_I2C_MASTER_PROTOCOL) or io (the EFI_I2C_IO_PROTOCOL of one device)")
set(MURVANE_BRIDGE_MASTER "only" CACHE STRING
    "MurvaneBridge.efi, master mode: which EFI_I2C_MASTER_PROTOCOL in handle order (0, 1, ...), or only")
set(MURVANE_BRIDGE_DEVICE_GUID "8F4A2C71-5D3E-4B96-A0C8-7E19D62B4F35" CACHE STRING
    "MurvaneBridge.efi, I2C IO mode: the DeviceGuid of the haptic chip's EFI_I2C_IO_PROTOCOL")
set(MURVANE_BRIDGE_GPIO_PIN "30" CACHE STRING
    "MurvaneBridge.efi: EMBEDDED_GPIO pin of the chip's reset line, (port << 16) | pin")
set(MURVANE_BRIDGE_GPIO_POLARITY "active-high" CACHE STRING
    "MurvaneBridge.efi: active-high (the GPIO level is the reset line's) or active-low (an inverter between)")
set_property(CACHE MURVANE_BRIDGE_MODE PROPERTY STRINGS master io)
set_property(CACHE MURVANE_BRIDGE_GPIO_POLARITY PROPERTY STRINGS active-high active-low)

if(NOT MURVANE_BRIDGE_MODE MATCHES "^(master|io)$")
  message(FATAL_ERROR "MURVANE_BRIDGE_MODE: \"${MURVANE_BRIDGE_MODE}\" is neither master nor io")
endif()
if(MURVANE_BRIDGE_MASTER STREQUAL "only")
  set(MURVANE_BRIDGE_MASTER_INDEX 0xFFFFFFFFu)
else()
  murvane_board_number(index MURVANE_BRIDGE_MASTER "${MURVANE_BRIDGE_MASTER}" 0 15)
  set(MURVANE_BRIDGE_MASTER_INDEX ${index})
endif()
string(TOUPPER "${MURVANE_BRIDGE_DEVICE_GUID}" guid)
# (CMake's regular expressions have no {n}: the digits spelt out.)
string(REPEAT "[0-9A-F]" 4 x4)
string(REPEAT "[0-9A-F]" 8 x8)
string(REPEAT "[0-9A-F]" 12 x12)
if(NOT guid MATCHES "^${x8}-${x4}-${x4}-${x4}-${x12}$")
  message(FATAL_ERROR "MURVANE_BRIDGE_DEVICE_GUID: \"${MURVANE_BRIDGE_DEVICE_GUID}\" is not a GUID "
                      "(8-4-4-4-12 hexadecimal digits, e.g. 8F4A2C71-5D3E-4B96-A0C8-7E19D62B4F35)")
endif()
# As EFI_GUID: Data1, Data2, Data3, then the last eight bytes one by one.
string(SUBSTRING "${guid}" 0 8 d1)
string(SUBSTRING "${guid}" 9 4 d2)
string(SUBSTRING "${guid}" 14 4 d3)
string(REPLACE "-" "" tail "${guid}")
string(SUBSTRING "${tail}" 16 16 tail)
set(bytes "")
foreach(at RANGE 0 14 2)
  string(SUBSTRING "${tail}" ${at} 2 byte)
  list(APPEND bytes "0x${byte}")
endforeach()
list(JOIN bytes ", " bytes)
set(MURVANE_BRIDGE_DEVICE_GUID_C "{0x${d1}, 0x${d2}, 0x${d3}, {${bytes}}}")
set(MURVANE_BRIDGE_DEVICE_GUID_TEXT "${guid}")
murvane_board_number(pin MURVANE_BRIDGE_GPIO_PIN "${MURVANE_BRIDGE_GPIO_PIN}" 0 4294967295)
murvane_hex(MURVANE_BRIDGE_GPIO_PIN_HEX ${pin} 8)
if(MURVANE_BRIDGE_GPIO_POLARITY STREQUAL "active-high")
  set(MURVANE_BRIDGE_ACTIVE_LOW false)
elseif(MURVANE_BRIDGE_GPIO_POLARITY STREQUAL "active-low")
  set(MURVANE_BRIDGE_ACTIVE_LOW true)
else()
  message(FATAL_ERROR "MURVANE_BRIDGE_GPIO_POLARITY: \"${MURVANE_BRIDGE_GPIO_POLARITY}\" is neither active-high "
                      "nor active-low")
endif()

set(MURVANE_BRIDGE_SETTINGS
    "MURVANE_BRIDGE_MODE=${MURVANE_BRIDGE_MODE}"
    "MURVANE_BRIDGE_MASTER=${MURVANE_BRIDGE_MASTER}"
    "MURVANE_BRIDGE_DEVICE_GUID=${MURVANE_BRIDGE_DEVICE_GUID_TEXT}"
    "MURVANE_BRIDGE_GPIO_PIN=${MURVANE_BRIDGE_GPIO_PIN_HEX}"
    "MURVANE_BRIDGE_GPIO_POLARITY=${MURVANE_BRIDGE_GPIO_POLARITY}")
set(MURVANE_BRIDGE_CACHE_ARGS "")
foreach(setting ${MURVANE_BRIDGE_SETTINGS})
  list(APPEND MURVANE_BRIDGE_CACHE_ARGS "-D${setting}")
endforeach()
list(JOIN MURVANE_BRIDGE_SETTINGS "\n" MURVANE_BRIDGE_SETTINGS_TEXT)

# The header MurvaneBridge.efi is built with, and two that differ in one
# setting each, for test-only images: the I2C IO mode bridge, and a board
# with an inverter on the reset line (bridge and fake board active-low).
set(MURVANE_BRIDGE_IS_IO false)
if(MURVANE_BRIDGE_MODE STREQUAL "io")
  set(MURVANE_BRIDGE_IS_IO true)
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/bridge_settings.h.in
               ${MURVANE_GENERATED_INCLUDE_DIR}/murvane/bridge_settings.h @ONLY)
set(configured_is_io ${MURVANE_BRIDGE_IS_IO})
set(MURVANE_BRIDGE_IS_IO true)
set(MURVANE_BRIDGE_IO_INCLUDE_DIR ${CMAKE_BINARY_DIR}/generated-bridge-io)
configure_file(${CMAKE_CURRENT_LIST_DIR}/bridge_settings.h.in
               ${MURVANE_BRIDGE_IO_INCLUDE_DIR}/murvane/bridge_settings.h @ONLY)
set(MURVANE_BRIDGE_IS_IO ${configured_is_io})
set(configured_active_low ${MURVANE_BRIDGE_ACTIVE_LOW})
set(MURVANE_BRIDGE_ACTIVE_LOW true)
set(MURVANE_BRIDGE_LOW_INCLUDE_DIR ${CMAKE_BINARY_DIR}/generated-bridge-low)
configure_file(${CMAKE_CURRENT_LIST_DIR}/bridge_settings.h.in
               ${MURVANE_BRIDGE_LOW_INCLUDE_DIR}/murvane/bridge_settings.h @ONLY)
set(MURVANE_BRIDGE_ACTIVE_LOW ${configured_active_low})
configure_file(${CMAKE_CURRENT_LIST_DIR}/bridge-settings.txt.in ${CMAKE_BINARY_DIR}/bridge-settings.txt @ONLY)
