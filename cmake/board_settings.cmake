# Board settings: the values that change from one board to the next, as
# named cache options whose defaults are the reference board's. They are
# written into one generated header, murvane/board_settings.h, which the
# driver reads (core/regs.h, core/identify.h) and the test platforms check
# against, and into board-settings.txt, which the image checks print and the
# release bundle carries. docs/porting.md says what each one means.
#
# Included by the top-level CMakeLists.txt in every build (host and UEFI
# cross build); the host build hands them on to its UEFI sub-build.

set(MURVANE_I2C_INSTANCE "5" CACHE STRING
    "I2C bus instance the haptic chip is on (passed to EFI_ZELT_I2C_PROTOCOL.Open)")
set(MURVANE_I2C_SPEED_KHZ "400" CACHE STRING "Bus clock in kHz (slave configuration word 1)")
set(MURVANE_I2C_ADDRESS "0x5A" CACHE STRING "7-bit I2C address of the haptic chip (slave configuration word 2)")
set(MURVANE_I2C_CONFIG_WORDS_3_TO_6 "0,500,0,0" CACHE STRING
    "Slave configuration words 3 to 6, comma-separated: the bus component's own, passed unchanged")
set(MURVANE_RESET_PIN_WORD "0x200EC1E0" CACHE STRING
    "Configuration word of the chip's reset pin, as EFI_KORM_PROTOCOL knows it")
set(MURVANE_RESET_PIN_GPIO "30" CACHE STRING "GPIO number of the reset pin, as the driver's messages name it")

# The reference board, for the "defaults" flag (the golden traces are hers).
set(MURVANE_BOARD_DEFAULTS
    "MURVANE_I2C_INSTANCE=5;MURVANE_I2C_SPEED_KHZ=400;MURVANE_I2C_ADDRESS=0x5A;MURVANE_I2C_CONFIG_WORDS_3_TO_6=0,500,0,0;MURVANE_RESET_PIN_WORD=0x200EC1E0;MURVANE_RESET_PIN_GPIO=30")
set(MURVANE_BOARD_SETTING_NAMES MURVANE_I2C_INSTANCE MURVANE_I2C_SPEED_KHZ MURVANE_I2C_ADDRESS
                                MURVANE_I2C_CONFIG_WORDS_3_TO_6 MURVANE_RESET_PIN_WORD MURVANE_RESET_PIN_GPIO)

# Checks that `text` (setting `name`) is a decimal or 0x-hex number in
# [min, max] and sets `out` to it in decimal. A typo must stop the configure
# step, not become a zero in the image.
function(murvane_board_number out name text min max)
  string(STRIP "${text}" text)
  if(NOT text MATCHES "^(0[xX][0-9A-Fa-f]+|[0-9]+)$")
    message(FATAL_ERROR "${name}: \"${text}\" is not a number (decimal, or hexadecimal with 0x)")
  endif()
  if(text MATCHES "^0[xX]")
    string(LENGTH "${text}" len)
    if(len GREATER 10)
      message(FATAL_ERROR "${name}: ${text} does not fit in 32 bits")
    endif()
  elseif(text MATCHES "^[0-9]{11,}$")
    message(FATAL_ERROR "${name}: ${text} does not fit in 32 bits")
  endif()
  math(EXPR value "${text}")
  if(value LESS ${min} OR value GREATER ${max})
    message(FATAL_ERROR "${name}: ${text} is out of range (${min}..${max})")
  endif()
  set(${out} ${value} PARENT_SCOPE)
endfunction()

# Upper-case hexadecimal with a 0x prefix, at least `digits` digits.
function(murvane_hex out value digits)
  math(EXPR hex "${value}" OUTPUT_FORMAT HEXADECIMAL)
  string(SUBSTRING "${hex}" 2 -1 hex)
  string(TOUPPER "${hex}" hex)
  string(LENGTH "${hex}" len)
  while(len LESS digits)
    set(hex "0${hex}")
    math(EXPR len "${len} + 1")
  endwhile()
  set(${out} "0x${hex}" PARENT_SCOPE)
endfunction()

murvane_board_number(MURVANE_BOARD_I2C_INSTANCE MURVANE_I2C_INSTANCE "${MURVANE_I2C_INSTANCE}" 0 4294967295)
murvane_board_number(MURVANE_BOARD_I2C_SPEED_KHZ MURVANE_I2C_SPEED_KHZ "${MURVANE_I2C_SPEED_KHZ}" 1 4294967295)
murvane_board_number(address MURVANE_I2C_ADDRESS "${MURVANE_I2C_ADDRESS}" 0 127)
murvane_hex(MURVANE_BOARD_I2C_ADDRESS ${address} 2)
string(REPLACE "," ";" words "${MURVANE_I2C_CONFIG_WORDS_3_TO_6}")
list(LENGTH words count)
if(NOT count EQUAL 4)
  message(FATAL_ERROR "MURVANE_I2C_CONFIG_WORDS_3_TO_6: \"${MURVANE_I2C_CONFIG_WORDS_3_TO_6}\" must be four "
                      "comma-separated numbers (words 3, 4, 5 and 6 of the slave configuration)")
endif()
set(MURVANE_BOARD_I2C_CONFIG_WORDS_3_TO_6 "")
foreach(word ${words})
  murvane_board_number(value MURVANE_I2C_CONFIG_WORDS_3_TO_6 "${word}" 0 4294967295)
  list(APPEND MURVANE_BOARD_I2C_CONFIG_WORDS_3_TO_6 ${value})
endforeach()
list(JOIN MURVANE_BOARD_I2C_CONFIG_WORDS_3_TO_6 ", " MURVANE_BOARD_I2C_CONFIG_TAIL_C)
list(JOIN MURVANE_BOARD_I2C_CONFIG_WORDS_3_TO_6 "," MURVANE_BOARD_I2C_CONFIG_TAIL_TEXT)
list(JOIN MURVANE_BOARD_I2C_CONFIG_WORDS_3_TO_6 "u, " MURVANE_BOARD_I2C_CONFIG_TAIL_CU)
set(MURVANE_BOARD_I2C_CONFIG_TAIL_CU "${MURVANE_BOARD_I2C_CONFIG_TAIL_CU}u")
murvane_board_number(pin MURVANE_RESET_PIN_WORD "${MURVANE_RESET_PIN_WORD}" 0 4294967295)
murvane_hex(MURVANE_BOARD_RESET_PIN_WORD ${pin} 8)
murvane_board_number(MURVANE_BOARD_RESET_PIN_GPIO MURVANE_RESET_PIN_GPIO "${MURVANE_RESET_PIN_GPIO}" 0 2147483647)

# The settings in one normalised form: the text file, the defaults flag and
# the arguments that hand them on to a sub-build.
set(MURVANE_BOARD_SETTINGS
    "MURVANE_I2C_INSTANCE=${MURVANE_BOARD_I2C_INSTANCE}"
    "MURVANE_I2C_SPEED_KHZ=${MURVANE_BOARD_I2C_SPEED_KHZ}"
    "MURVANE_I2C_ADDRESS=${MURVANE_BOARD_I2C_ADDRESS}"
    "MURVANE_I2C_CONFIG_WORDS_3_TO_6=${MURVANE_BOARD_I2C_CONFIG_TAIL_TEXT}"
    "MURVANE_RESET_PIN_WORD=${MURVANE_BOARD_RESET_PIN_WORD}"
    "MURVANE_RESET_PIN_GPIO=${MURVANE_BOARD_RESET_PIN_GPIO}")
if(MURVANE_BOARD_SETTINGS STREQUAL MURVANE_BOARD_DEFAULTS)
  set(MURVANE_BOARD_IS_DEFAULT true)
else()
  set(MURVANE_BOARD_IS_DEFAULT false)
  message(STATUS "Board settings differ from the reference board's: ${MURVANE_BOARD_SETTINGS}")
endif()
set(MURVANE_BOARD_CACHE_ARGS "")
foreach(setting ${MURVANE_BOARD_SETTINGS})
  list(APPEND MURVANE_BOARD_CACHE_ARGS "-D${setting}")
endforeach()
list(JOIN MURVANE_BOARD_SETTINGS "\n" MURVANE_BOARD_SETTINGS_TEXT)

set(MURVANE_GENERATED_INCLUDE_DIR ${CMAKE_BINARY_DIR}/generated)
configure_file(${CMAKE_CURRENT_LIST_DIR}/board_settings.h.in ${MURVANE_GENERATED_INCLUDE_DIR}/murvane/board_settings.h
               @ONLY)
# The same values as C macros, for the platform's C code (the release
# bundle ships it beside the protocol headers).
configure_file(${CMAKE_CURRENT_LIST_DIR}/MurvaneBoardSettings.h.in
               ${MURVANE_GENERATED_INCLUDE_DIR}/murvane/MurvaneBoardSettings.h @ONLY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/version.h.in ${MURVANE_GENERATED_INCLUDE_DIR}/murvane/version.h @ONLY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/board-settings.txt.in ${CMAKE_BINARY_DIR}/board-settings.txt @ONLY)
