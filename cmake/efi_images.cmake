# Cross build of the UEFI images (included from CMakeLists.txt with the
# toolchain cmake/aarch64-uefi.cmake, preset "efi"): Murvane.efi and
# MurvaneBridge.efi, and the test-only images of the QEMU rig
# (testbench/qemu/), never shipped.
# Each image links objects, not archives; /OPT:REF drops every function and
# constant the image does not reach (one COMDAT section each).

# Sections are 4 KiB apart in memory (page protections) but only 32 bytes
# apart in the file (/FILEALIGN:32, as EDK2's GenFw lays out its images):
# firmware loaders copy each section to its address, and 512-byte file
# alignment would cost up to 511 bytes of padding per section and header.
set(MURVANE_EFI_COMMON_LINK /nologo /nodefaultlib /machine:arm64 /NXCOMPAT /DYNAMICBASE /OPT:REF /OPT:ICF
                            /FILEALIGN:32 /Brepro /debug:none)

set(MURVANE_QEMU_DIR ${PROJECT_SOURCE_DIR}/testbench/qemu)

# What the compiler may call on its own, and the stack-protector check.
add_library(murvane_efi_runtime OBJECT ${PROJECT_SOURCE_DIR}/platform/runtime/mem.cpp
                                        ${PROJECT_SOURCE_DIR}/platform/runtime/stack_check.cpp)
# The driver: exactly the host library's sources.
add_library(murvane_efi_driver OBJECT ${MURVANE_DRIVER_SOURCES})
# Test images only: the chip models and the test platforms' helpers.
add_library(murvane_efi_models OBJECT ${MURVANE_MODEL_SOURCES})
add_library(murvane_efi_testsupport OBJECT ${MURVANE_QEMU_DIR}/fw_support.cpp ${MURVANE_QEMU_DIR}/platform_hooks.cpp
                                                ${MURVANE_QEMU_DIR}/sim_scenario.cpp ${MURVANE_QEMU_DIR}/chip_models.cpp)
# The test platforms' chip models, one per family, from the header the build
# generates from core/family_list.h.
target_include_directories(murvane_efi_testsupport PRIVATE ${MURVANE_GENERATED_DIR})
add_library(murvane_efi_simplatform_main OBJECT ${MURVANE_QEMU_DIR}/sim_platform.cpp)
add_library(murvane_efi_fwtest_main OBJECT ${MURVANE_QEMU_DIR}/fwtest_app.cpp)
set(MURVANE_EFI_TEST_LIBS murvane_efi_runtime murvane_efi_driver murvane_efi_models murvane_efi_testsupport)
# MinSizeRel (the efi preset) optimises for size with -Oz rather than CMake's
# -Os: no inlined copies of small functions, about 900 bytes less code. It
# comes after the configuration's flags on the command line, so it wins.
foreach(lib ${MURVANE_EFI_TEST_LIBS} murvane_efi_simplatform_main murvane_efi_fwtest_main)
  target_include_directories(${lib} PRIVATE ${PROJECT_SOURCE_DIR} ${MURVANE_GENERATED_INCLUDE_DIR})
  target_compile_options(${lib} PRIVATE ${MURVANE_WARNINGS} $<$<CONFIG:MinSizeRel>:-Oz>)
endforeach()

set(MURVANE_EFI_IMAGE_DIR ${CMAKE_BINARY_DIR}/images)

function(murvane_efi_image target)
  cmake_parse_arguments(IMG "" "OUTPUT_NAME;ENTRY;SUBSYSTEM" "OBJECTS" ${ARGN})
  add_executable(${target})
  foreach(lib ${IMG_OBJECTS})
    target_sources(${target} PRIVATE $<TARGET_OBJECTS:${lib}>)
  endforeach()
  target_link_options(${target} PRIVATE ${MURVANE_EFI_COMMON_LINK} /entry:${IMG_ENTRY} /subsystem:${IMG_SUBSYSTEM}
                      /map:${MURVANE_EFI_IMAGE_DIR}/${IMG_OUTPUT_NAME}.map)
  set_target_properties(${target} PROPERTIES OUTPUT_NAME ${IMG_OUTPUT_NAME} SUFFIX ".efi"
                                             RUNTIME_OUTPUT_DIRECTORY ${MURVANE_EFI_IMAGE_DIR})
endfunction()

# The driver.
murvane_efi_image(murvane_efi OUTPUT_NAME Murvane ENTRY efi_main SUBSYSTEM efi_boot_service_driver
                  OBJECTS murvane_efi_runtime murvane_efi_driver)
# The test platform and the test application (never shipped).
murvane_efi_image(murvane_efi_simplatform OUTPUT_NAME SimPlatform ENTRY sim_platform_main
                  SUBSYSTEM efi_boot_service_driver OBJECTS murvane_efi_simplatform_main ${MURVANE_EFI_TEST_LIBS})
murvane_efi_image(murvane_efi_fwtest OUTPUT_NAME BOOTAA64 ENTRY fwtest_main SUBSYSTEM efi_application
                  OBJECTS murvane_efi_fwtest_main ${MURVANE_EFI_TEST_LIBS})

# A consumer in C (test only): written against the integrator's header
# (integration/MurvanePkg/Include) and our C definitions, nothing of the
# driver's C++. It needs no runtime of ours: no stack protector (it would
# need __security_cookie) and nothing large enough for the compiler to call
# memset or memcpy.
add_library(murvane_efi_consumer_main OBJECT ${PROJECT_SOURCE_DIR}/integration/examples/Consumer.c)
set_target_properties(murvane_efi_consumer_main PROPERTIES C_STANDARD 11 C_STANDARD_REQUIRED ON C_EXTENSIONS OFF)
target_include_directories(murvane_efi_consumer_main PRIVATE ${PROJECT_SOURCE_DIR}
                                                             ${PROJECT_SOURCE_DIR}/integration/MurvanePkg/Include)
target_compile_options(murvane_efi_consumer_main PRIVATE ${MURVANE_C_WARNINGS} -fno-stack-protector
                                                         $<$<CONFIG:MinSizeRel>:-Oz>)
murvane_efi_image(murvane_efi_consumer OUTPUT_NAME Consumer ENTRY ConsumerMain SUBSYSTEM efi_application
                  OBJECTS murvane_efi_consumer_main)

# MurvaneBridge.efi (bridge): the driver's platform protocols on a
# stock EDK2 board's I2C stack and GPIO. Its own runtime and support: the
# memory routines, the stack-guard check and the platform layer the driver
# uses (the driver's own list of platform sources, so a new platform file
# goes into both images), nothing of the driver itself. MurvaneBridgeIo.efi
# (test only) is the same bridge built in I2C IO mode.
# The bridge links platform.cpp first, the order its image was first laid out
# in: the same files in the driver's order would move its functions and
# change its bytes for nothing.
set(bridge_platform_sources ${MURVANE_PLATFORM_SOURCES})
list(REMOVE_ITEM bridge_platform_sources ${PROJECT_SOURCE_DIR}/platform/platform.cpp)
list(PREPEND bridge_platform_sources ${PROJECT_SOURCE_DIR}/platform/platform.cpp)
add_library(murvane_efi_bridge_core OBJECT ${PROJECT_SOURCE_DIR}/bridge/bridge.cpp ${bridge_platform_sources})
add_library(murvane_efi_bridge_main OBJECT ${PROJECT_SOURCE_DIR}/bridge/bridge_main.cpp)
add_library(murvane_efi_bridge_io_main OBJECT ${PROJECT_SOURCE_DIR}/bridge/bridge_main.cpp)
target_include_directories(murvane_efi_bridge_io_main BEFORE PRIVATE ${MURVANE_BRIDGE_IO_INCLUDE_DIR})
# FakeBoard.efi (test only): an EDK2 board's I2C stack and GPIO over the chip
# models. FakeBoardLow.efi and MurvaneBridgeLow.efi (test only): a board with
# an inverter on the reset line, and the bridge built for it.
add_library(murvane_efi_fakeboard_main OBJECT ${MURVANE_QEMU_DIR}/fake_board/fake_board.cpp
                                              ${MURVANE_QEMU_DIR}/fake_board/fake_bus.cpp)
add_library(murvane_efi_fakeboard_low_main OBJECT ${MURVANE_QEMU_DIR}/fake_board/fake_board.cpp
                                              ${MURVANE_QEMU_DIR}/fake_board/fake_bus.cpp)
target_include_directories(murvane_efi_fakeboard_low_main BEFORE PRIVATE ${MURVANE_BRIDGE_LOW_INCLUDE_DIR})
add_library(murvane_efi_bridge_low_main OBJECT ${PROJECT_SOURCE_DIR}/bridge/bridge_main.cpp)
target_include_directories(murvane_efi_bridge_low_main BEFORE PRIVATE ${MURVANE_BRIDGE_LOW_INCLUDE_DIR})
foreach(lib murvane_efi_bridge_core murvane_efi_bridge_main murvane_efi_bridge_io_main murvane_efi_fakeboard_main
            murvane_efi_fakeboard_low_main murvane_efi_bridge_low_main)
  target_include_directories(${lib} PRIVATE ${PROJECT_SOURCE_DIR} ${MURVANE_GENERATED_INCLUDE_DIR})
  target_compile_options(${lib} PRIVATE ${MURVANE_WARNINGS} $<$<CONFIG:MinSizeRel>:-Oz>)
endforeach()
murvane_efi_image(murvane_efi_bridge OUTPUT_NAME MurvaneBridge ENTRY bridge_main SUBSYSTEM efi_boot_service_driver
                  OBJECTS murvane_efi_runtime murvane_efi_bridge_core murvane_efi_bridge_main)
murvane_efi_image(murvane_efi_bridge_io OUTPUT_NAME MurvaneBridgeIo ENTRY bridge_main
                  SUBSYSTEM efi_boot_service_driver
                  OBJECTS murvane_efi_runtime murvane_efi_bridge_core murvane_efi_bridge_io_main)
murvane_efi_image(murvane_efi_fakeboard OUTPUT_NAME FakeBoard ENTRY fake_board_main
                  SUBSYSTEM efi_boot_service_driver OBJECTS murvane_efi_fakeboard_main ${MURVANE_EFI_TEST_LIBS})
murvane_efi_image(murvane_efi_bridge_low OUTPUT_NAME MurvaneBridgeLow ENTRY bridge_main
                  SUBSYSTEM efi_boot_service_driver
                  OBJECTS murvane_efi_runtime murvane_efi_bridge_core murvane_efi_bridge_low_main)
murvane_efi_image(murvane_efi_fakeboard_low OUTPUT_NAME FakeBoardLow ENTRY fake_board_main
                  SUBSYSTEM efi_boot_service_driver OBJECTS murvane_efi_fakeboard_low_main ${MURVANE_EFI_TEST_LIBS})
configure_file(${CMAKE_BINARY_DIR}/bridge-settings.txt ${MURVANE_EFI_IMAGE_DIR}/bridge-settings.txt COPYONLY)
file(GENERATE OUTPUT ${MURVANE_EFI_IMAGE_DIR}/bridge_objects.txt
     CONTENT "$<JOIN:$<TARGET_OBJECTS:murvane_efi_runtime>;$<TARGET_OBJECTS:murvane_efi_bridge_core>;$<TARGET_OBJECTS:murvane_efi_bridge_main>,\n>\n")
file(GENERATE OUTPUT ${MURVANE_EFI_IMAGE_DIR}/fakeboard_objects.txt
     CONTENT "$<JOIN:$<TARGET_OBJECTS:murvane_efi_fakeboard_main>;$<TARGET_OBJECTS:murvane_efi_bridge_io_main>;$<TARGET_OBJECTS:murvane_efi_fakeboard_low_main>;$<TARGET_OBJECTS:murvane_efi_bridge_low_main>,\n>\n")

# The board settings the images were built with, beside them: the image
# checks print them and the release bundle carries them.
configure_file(${CMAKE_BINARY_DIR}/board-settings.txt ${MURVANE_EFI_IMAGE_DIR}/board-settings.txt COPYONLY)

# For the image checks: the objects of the driver image, and of the test images.
file(GENERATE OUTPUT ${MURVANE_EFI_IMAGE_DIR}/driver_objects.txt
     CONTENT "$<JOIN:$<TARGET_OBJECTS:murvane_efi_runtime>;$<TARGET_OBJECTS:murvane_efi_driver>,\n>\n")
file(GENERATE OUTPUT ${MURVANE_EFI_IMAGE_DIR}/test_objects.txt
     CONTENT "$<JOIN:$<TARGET_OBJECTS:murvane_efi_models>;$<TARGET_OBJECTS:murvane_efi_testsupport>;$<TARGET_OBJECTS:murvane_efi_simplatform_main>;$<TARGET_OBJECTS:murvane_efi_fwtest_main>;$<TARGET_OBJECTS:murvane_efi_consumer_main>;$<TARGET_OBJECTS:murvane_efi_load_option_main>;$<TARGET_OBJECTS:murvane_efi_enroll_db_main>;$<TARGET_OBJECTS:murvane_efi_console_recorder_main>,\n>\n")

# Test and tool images for loading the driver from Driver####/DriverOrder
# load options (LoadOpt.efi, and ConRecord.efi, which keeps the console
# output of the drivers the boot manager starts before the consoles) and for enrolling a db certificate at run time
# (EnrollDb.efi, used by scripts/enroll-db.sh). Never shipped with the driver.
foreach(app load_option enroll_db)
  add_library(murvane_efi_${app}_main OBJECT ${MURVANE_QEMU_DIR}/${app}_app.cpp)
  target_include_directories(murvane_efi_${app}_main PRIVATE ${PROJECT_SOURCE_DIR} ${MURVANE_GENERATED_INCLUDE_DIR})
  target_compile_options(murvane_efi_${app}_main PRIVATE ${MURVANE_WARNINGS} $<$<CONFIG:MinSizeRel>:-Oz>)
endforeach()
murvane_efi_image(murvane_efi_load_option OUTPUT_NAME LoadOpt ENTRY load_option_main SUBSYSTEM efi_application
                  OBJECTS murvane_efi_load_option_main ${MURVANE_EFI_TEST_LIBS})
add_library(murvane_efi_console_recorder_main OBJECT ${MURVANE_QEMU_DIR}/console_recorder.cpp)
target_include_directories(murvane_efi_console_recorder_main PRIVATE ${PROJECT_SOURCE_DIR})
target_compile_options(murvane_efi_console_recorder_main PRIVATE ${MURVANE_WARNINGS} $<$<CONFIG:MinSizeRel>:-Oz>)
murvane_efi_image(murvane_efi_console_recorder OUTPUT_NAME ConRecord ENTRY console_recorder_main
                  SUBSYSTEM efi_boot_service_driver OBJECTS murvane_efi_console_recorder_main ${MURVANE_EFI_TEST_LIBS})
murvane_efi_image(murvane_efi_enroll_db OUTPUT_NAME EnrollDb ENTRY enroll_db_main SUBSYSTEM efi_application
                  OBJECTS murvane_efi_enroll_db_main ${MURVANE_EFI_TEST_LIBS})

# The boots through EDK2's own I2C stack (testbench/edk2/).
include(${PROJECT_SOURCE_DIR}/testbench/edk2/images.cmake)
