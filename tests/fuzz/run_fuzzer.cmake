# Runs one fuzz target for a bounded time over the seed corpus (kept in the
# repository, never written to) and a working corpus in the build tree, and
# reports its executions. Inputs: FUZZER SEEDS WORK SECONDS NAME, OPTIONS
# (libFuzzer's, such as memory limits), and SEED_TEXTS ("|"-separated): files
# that are seeds themselves, or Markdown files whose fenced code blocks each
# become a seed.
file(MAKE_DIRECTORY ${WORK})
set(seed_dirs "")
if(EXISTS ${SEEDS})
  list(APPEND seed_dirs ${SEEDS})
endif()
if(SEED_TEXTS)
  set(from_texts ${WORK}-seeds)
  file(REMOVE_RECURSE ${from_texts})
  file(MAKE_DIRECTORY ${from_texts})
  string(REPLACE "|" ";" SEED_TEXTS "${SEED_TEXTS}")
  set(n 0)
  foreach(text_file ${SEED_TEXTS})
    file(READ ${text_file} text)
    if(text_file MATCHES "\\.md$")
      string(REGEX MATCHALL "```[^\n]*\n[^`]*```" blocks "${text}")
    else()
      set(blocks "${text}")
    endif()
    foreach(block IN LISTS blocks)
      string(REGEX REPLACE "^```[^\n]*\n" "" block "${block}")
      string(REGEX REPLACE "```$" "" block "${block}")
      file(WRITE ${from_texts}/seed-${n} "${block}")
      math(EXPR n "${n} + 1")
    endforeach()
  endforeach()
  if(n EQUAL 0)
    message(FATAL_ERROR "${NAME}: no seed in ${SEED_TEXTS}")
  endif()
  list(APPEND seed_dirs ${from_texts})
endif()
# AddressSanitizer keeps up to 256 MB of freed memory to catch late uses; an
# RSS limit then measures that quarantine rather than the target, and fails
# some runs of a target that never holds more than a few MB.
set(ENV{ASAN_OPTIONS} "quarantine_size_mb=16:$ENV{ASAN_OPTIONS}")
execute_process(COMMAND ${FUZZER} -max_total_time=${SECONDS} -print_final_stats=1
                        -timeout=10 ${OPTIONS} ${WORK} ${seed_dirs}
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${NAME} failed (${rc}):\n${err}")
endif()
string(REGEX MATCH "Done ([0-9]+) runs in ([0-9]+) second" done "${err}")
if(NOT done)
  message(FATAL_ERROR "${NAME}: no run count in:\n${err}")
endif()
if(OPTIONS)
  string(REPLACE ";" " " OPTIONS "${OPTIONS}")
  set(OPTIONS " (${OPTIONS})")
endif()
message("figure: fuzz ${NAME}: ${CMAKE_MATCH_1} executions in ${CMAKE_MATCH_2} s${OPTIONS}, no failure")
