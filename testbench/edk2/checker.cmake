# murvane-edk2-check, which judges the boots through EDK2's own I2C stack
# (testbench/edk2/tests.cmake), and its unit tests (included by
# testbench/qemu/host.cmake beside the other checker, so they run in every
# host build, the sanitizers' too).
set(edk2_dir ${PROJECT_SOURCE_DIR}/testbench/edk2)
add_library(murvane_edk2check STATIC ${edk2_dir}/edk2_check.cpp)
target_include_directories(murvane_edk2check PUBLIC ${PROJECT_SOURCE_DIR})
target_compile_options(murvane_edk2check PRIVATE ${MURVANE_WARNINGS})
target_link_libraries(murvane_edk2check PUBLIC murvane_fwcheck nlohmann_json::nlohmann_json)
add_executable(murvane-edk2-check ${edk2_dir}/edk2_check_main.cpp)
target_compile_options(murvane-edk2-check PRIVATE ${MURVANE_WARNINGS})
target_link_libraries(murvane-edk2-check PRIVATE murvane_edk2check)

if(MURVANE_TESTS)
  add_executable(test_edk2_check ${PROJECT_SOURCE_DIR}/tests/edk2/test_edk2_check.cpp)
  target_compile_options(test_edk2_check PRIVATE ${MURVANE_WARNINGS})
  target_link_libraries(test_edk2_check PRIVATE murvane_edk2check GTest::gtest_main)
  gtest_discover_tests(test_edk2_check DISCOVERY_TIMEOUT 60 PROPERTIES LABELS unit)
endif()

