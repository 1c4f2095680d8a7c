# MurvaneBridge.inf for the mode a bridge is built in, the one place that
# makes it: the kit's staging (integration/CMakeLists.txt includes this file)
# and the release (scripts/release.sh runs it as a script) both write it
# from here. The module file in MurvanePkg/ is master mode's; in I2C IO
# mode its [Depex] waits for the chip's EFI_I2C_IO_PROTOCOL instead of
# EFI_I2C_MASTER_PROTOCOL.
#
# As a script: cmake -DMODE=master|io -DIN=MurvaneBridge.inf -DOUT=FILE -P bridge_inf.cmake

# Writes OUT (only when its content changes) from the module file IN for
# MODE; stops with a message for an unknown mode, or a module file whose
# [Depex] is not the one this knows how to change.
function(murvane_bridge_inf mode in out)
  file(READ "${in}" text)
  set(master_depex "\n[Depex]\n  gEfiI2cMasterProtocolGuid AND gEmbeddedGpioProtocolGuid\n")
  string(FIND "${text}" "${master_depex}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${in}: no master mode [Depex] (\"gEfiI2cMasterProtocolGuid AND gEmbeddedGpioProtocolGuid\")")
  endif()
  if(mode STREQUAL "io")
    string(REPLACE "${master_depex}" "\n[Depex]\n  gEfiI2cIoProtocolGuid AND gEmbeddedGpioProtocolGuid\n" text
                   "${text}")
  elseif(NOT mode STREQUAL "master")
    message(FATAL_ERROR "MurvaneBridge.inf: \"${mode}\" is neither master nor io")
  endif()
  get_filename_component(dir "${out}" DIRECTORY)
  file(MAKE_DIRECTORY "${dir}")
  file(WRITE "${out}.new" "${text}")
  file(COPY_FILE "${out}.new" "${out}" ONLY_IF_DIFFERENT)
  file(REMOVE "${out}.new")
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  murvane_bridge_inf("${MODE}" "${IN}" "${OUT}")
endif()
