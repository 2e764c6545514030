# A host returns from main while one or three worker threads poll the library
# beside the installed virtual_peripheral/ files, many times over. Every run must
# leave its own report, whole and consistent: every send counted as a message
# received, every open handle either closed or held by the call the end of
# the process stopped (never called a leak), and the call in progress named
# when the end caught it inside the peripheral.
# Inputs: BUILD_DIR SOURCE_DIR C_COMPILER WINE ("|"-separated) ARCH FEW_RUNS
string(REPLACE "|" ";" WINE "${WINE}")
set(work ${BUILD_DIR}/exit-test)
file(REMOVE_RECURSE ${work})
include(${CMAKE_CURRENT_LIST_DIR}/run.cmake)

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${work}/kit)
set(host ${work}/host)
file(GLOB folder_files LIST_DIRECTORIES false ${work}/kit/virtual_peripheral/*)
file(COPY ${folder_files} DESTINATION ${host})
file(WRITE ${host}/vperiph.vp "port \"PERIPHRL MIDI 1\"\nport \"Other Synth\"\nusb \"USB\\VID_1A2B&PID_3C4D\"\n")
run(${C_COMPILER} -std=c99 -Wall -Wextra -Werror -static-libgcc -I${work}/kit/include
    ${CMAKE_CURRENT_LIST_DIR}/exit_host.c -o ${host}/exit_host.exe)

# Emulated, every 32-bit Wine process costs seconds: fewer runs there.
set(runs 10)
if(FEW_RUNS)
  set(runs 4)
endif()
set(inside 0)
set(holding 0)
set(rerun 0)

# Runs the host until its report N is written whole. Under qemu, Wine's own
# stopping of a worker can crash in its signal handling (it says "nested
# exception on signal stack") and end or hang the process before the
# peripheral's report is whole: that run is the emulator's, and runs again.
# A report missing or cut for any other reason fails.
function(run_host n)
  set(file ${host}/vperiph-report-exit_host-${n}.txt)
  foreach(attempt RANGE 1 25)
    execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=WINEDLLOVERRIDES
                    --unset=TARNWICK_VP_FILE --unset=TARNWICK_VP_REPORT WINEDEBUG=-all,err+virtual
                    ${WINE} ${host}/exit_host.exe ${ARGN}
                    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 300)
    set(report "")
    if(EXISTS ${file})
      file(READ ${file} report)
    endif()
    if(rc EQUAL 0 AND report MATCHES "^virtual peripheral: [^\n]*\n" AND
       report MATCHES "\n  calls: [^\n]*\n")
      set(report "${report}" PARENT_SCOPE)
      set(rerun ${rerun} PARENT_SCOPE)
      return()
    endif()
    if(NOT err MATCHES "nested exception on signal stack")
      message(FATAL_ERROR "run ${n}: exit status ${rc}, report:\n${report}\n${err}")
    endif()
    file(REMOVE ${file})
    math(EXPR rerun "${rerun} + 1")
  endforeach()
  message(FATAL_ERROR "run ${n}: the emulator ended the process before its report 25 times")
endfunction()
foreach(n RANGE 1 ${runs})
  # Every other run, several threads are stopped inside the library at once.
  math(EXPR workers "1 + 2 * (1 - ${n} % 2)")
  run_host(${n} 30 ${workers})
  set(what "run ${n}'s report")
  expect("${report}" "^virtual peripheral: 2 MIDI output port\\(s\\), 1 USB entry\n" "${what}")
  # The whole report, to its last line.
  expect("${report}" "\n  calls: [0-9]+ \\(port opens [0-9]+, closes [0-9]+, sends [0-9]+; set builds [0-9]+, destroys [0-9]+\\)\n" "${what}")
  expect("${report}" "\n(  handle faults: none|  a call was in progress as the process ended)\n$" "${what}")
  if(report MATCHES "fault:")
    message(FATAL_ERROR "${what} blames the library:\n${report}")
  endif()
  string(REGEX MATCH "port opens ([0-9]+), closes ([0-9]+), sends ([0-9]+); set builds ([0-9]+), destroys ([0-9]+)" counts "${report}")
  set(opens ${CMAKE_MATCH_1})
  set(closes ${CMAKE_MATCH_2})
  set(sends ${CMAKE_MATCH_3})
  set(builds ${CMAKE_MATCH_4})
  set(destroys ${CMAKE_MATCH_5})
  # Port 0 matches the key and accepts every send; port 1 never matches.
  if(report MATCHES "port 0 \"PERIPHRL MIDI 1\": ([0-9]+) messages, the latest 25: ")
    set(messages ${CMAKE_MATCH_1})
  elseif(report MATCHES "port 0 \"PERIPHRL MIDI 1\": nothing received\n")
    # The end came before any send (one worker held the port, the others were refused).
    set(messages 0)
  else()
    string(REGEX MATCH "port 0 \"PERIPHRL MIDI 1\": ([^\n]*)\n" line "${report}")
    string(REGEX MATCHALL " / " separators "${CMAKE_MATCH_1}")
    list(LENGTH separators messages)
    math(EXPR messages "${messages} + 1")
  endif()
  if(NOT messages EQUAL sends)
    message(FATAL_ERROR "${what}: ${sends} sends but port 0 received ${messages} messages:\n${report}")
  endif()
  string(REGEX MATCHALL "\n  in use: handle " handles_in_use "${report}")
  string(REGEX MATCHALL "\n  in use: set " sets_in_use "${report}")
  list(LENGTH handles_in_use open_handles)
  list(LENGTH sets_in_use open_sets)
  math(EXPR open_by_count "${opens} - ${closes}")
  math(EXPR sets_by_count "${builds} - ${destroys}")
  if(NOT open_handles EQUAL open_by_count OR NOT open_sets EQUAL sets_by_count)
    message(FATAL_ERROR "${what}: ${opens} opens, ${closes} closes, ${builds} builds, ${destroys} destroys, but ${open_handles} handles and ${open_sets} sets in use:\n${report}")
  endif()
  if(report MATCHES "note: the process ended while thread [0-9]+ was inside [A-Za-z]+;")
    math(EXPR inside "${inside} + 1")
  endif()
  if(open_handles GREATER 0 OR open_sets GREATER 0)
    math(EXPR holding "${holding} + 1")
  endif()
endforeach()
file(GLOB reports ${host}/vperiph-report-*)
list(LENGTH reports kept)
if(NOT kept EQUAL runs)
  message(FATAL_ERROR "${runs} runs left ${kept} reports")
endif()

# A leak stays a leak: a handle kept by a thread that ended, or by one that
# idles while the process goes on making calls, is no call in progress.
set(leaks leak-ended leak-idle)
if(FEW_RUNS)
  set(leaks leak-idle)
endif()
set(n ${runs})
foreach(mode ${leaks})
  math(EXPR n "${n} + 1")
  run_host(${n} ${mode})
  # The worker's open is the program's own (no tarnwick*.dll made it): the
  # report says whose it was.
  expect("${report}" "\nfault: handle 0x[0-9a-f]+ of port 0 never closed \\(opened by the host's own call, in its redirected program\\)\n$"
         "${mode}'s report")
  if(report MATCHES "in use|in progress")
    message(FATAL_ERROR "${mode}: a leak called a call in progress:\n${report}")
  endif()
endforeach()
message("figure: exit reports (${ARCH}): ${runs} hosts ended from main with one or three workers in the "
        "library; every report whole and consistent, none blaming the library; the end caught a "
        "worker inside the peripheral ${inside} times and holding a handle or set ${holding} times; "
        "run again as Wine under qemu crashed stopping a worker: ${rerun}")
