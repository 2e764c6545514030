# Runs one fuzz target for a bounded time over the seed corpus (kept in the
# repository, never written to) and a working corpus in the build tree, and
# reports its executions. Inputs: FUZZER SEEDS WORK SECONDS NAME
file(MAKE_DIRECTORY ${WORK})
execute_process(COMMAND ${FUZZER} -max_total_time=${SECONDS} -print_final_stats=1
                        -timeout=10 ${WORK} ${SEEDS}
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${NAME} failed (${rc}):\n${err}")
endif()
string(REGEX MATCH "Done ([0-9]+) runs in ([0-9]+) second" done "${err}")
if(NOT done)
  message(FATAL_ERROR "${NAME}: no run count in:\n${err}")
endif()
message("figure: fuzz ${NAME}: ${CMAKE_MATCH_1} executions in ${CMAKE_MATCH_2} s, no failure")
