# Runs fuzz_driver for CTest.
#   MODE=replay: every file of the INPUTS directories once.
#   MODE=run:    fuzzing for SECONDS from the INPUTS, writing new inputs and
#                findings under WORK only.
set(files)
foreach(dir IN LISTS INPUTS)
  file(GLOB found LIST_DIRECTORIES false "${dir}/*")
  list(FILTER found EXCLUDE REGEX "/(README|\\.)[^/]*$")
  list(APPEND files ${found})
endforeach()

if(MODE STREQUAL "replay")
  list(LENGTH files count)
  if(count EQUAL 0)
    message(FATAL_ERROR "no inputs in ${INPUTS}")
  endif()
  execute_process(COMMAND ${FUZZER} ${files} RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "an input kept in the tree breaks an invariant again (exit ${rc})")
  endif()
  message(STATUS "replayed ${count} inputs")
elseif(MODE STREQUAL "run")
  file(REMOVE_RECURSE ${WORK}/artifacts)
  file(MAKE_DIRECTORY ${WORK}/corpus ${WORK}/artifacts)
  execute_process(COMMAND ${FUZZER} -max_total_time=${SECONDS} -timeout=30 -rss_limit_mb=2048 -print_final_stats=1
                          -artifact_prefix=${WORK}/artifacts/ ${WORK}/corpus ${INPUTS}
                  RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    file(GLOB findings "${WORK}/artifacts/*")
    message(FATAL_ERROR "the fuzzer found an input that breaks an invariant: ${findings}\n"
                        "Keep it as fuzz/regressions/<name> once the fault is fixed.")
  endif()
else()
  message(FATAL_ERROR "MODE must be replay or run")
endif()
