# A host that also uses WinMM and SetupAPI itself, run under Wine with no DLL
# override: once with the shipped library alone (Wine's DLLs answer
# everything), then beside the files of the installed kit's
# virtual_peripheral/ folder, started as from Explorer with no setting of
# ours (the description and the report beside the DLLs). Its own calls must
# give what they gave alone; the library's must reach the virtual ports and
# entries. Then (not under emulation) with the settings naming another
# description and report, and with a broken and a missing description. Last,
# the shipped library on Wine's own DLLs with the virtual peripheral's driver
# (its MIDI side skipped, in one line, where Wine's winmm does not take it).
# Then a device editor's host (editor_host.c) through both doors a host's own
# WinMM calls have: ports listed, open and done notifications, an identity
# request answered on the input port, and the library's direct command
# refused a port the host holds.
# Inputs: BUILD_DIR SOURCE_DIR C_COMPILER WINE ("|"-separated) ARCH FEW_RUNS PYTHON
string(REPLACE "|" ";" WINE "${WINE}")
set(work ${BUILD_DIR}/real-host-test)
file(REMOVE_RECURSE ${work})
include(${CMAKE_CURRENT_LIST_DIR}/run.cmake)

set(kit ${work}/kit)
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${kit})
run(${C_COMPILER} -std=c99 -Wall -Wextra -Werror -static-libgcc -I${kit}/include
    ${CMAKE_CURRENT_LIST_DIR}/real_host.c -lwinmm -lsetupapi -o ${work}/host.exe)
run(${C_COMPILER} -std=c99 -Wall -Wextra -Werror -static-libgcc -I${kit}/include
    ${CMAKE_CURRENT_LIST_DIR}/editor_host.c -lwinmm -o ${work}/editor_host.exe)
set(no_settings -E env --unset=WINEDLLOVERRIDES --unset=TARNWICK_VP_FILE
    --unset=TARNWICK_VP_REPORT)
set(runs 0)

# Runs the host in DIR with the given settings; `own` gets its own lines.
macro(run_host dir)
  run(${CMAKE_COMMAND} ${no_settings} ${ARGN} ${WINE} ${dir}/host.exe)
  string(REGEX MATCHALL "own [^\n]*\n" own "${out}")
  math(EXPR runs "${runs} + 1")
endmacro()

macro(expect_own_as_alone what)
  if(NOT own STREQUAL own_alone)
    message(FATAL_ERROR "${what}: the host's own WinMM and SetupAPI calls gave\n${own}\n"
            "and without the virtual peripheral\n${own_alone}")
  endif()
endmacro()

# The shipped library alone: Wine's own winmm has no MIDI ports here.
file(MAKE_DIRECTORY ${work}/alone)
file(COPY ${work}/host.exe ${kit}/bin/tarnwick.dll DESTINATION ${work}/alone)
run_host(${work}/alone)
set(own_alone "${own}")
expect("${out}" "library: count 1A2B 3C4D: 0\n.*\nlibrary: send PERIPHRL: 0\n" "the host alone")
expect("${own_alone}" "own timer: timeBeginPeriod 0, timeGetDevCaps 0,.*time running\n"
       "the host's own timer")
expect("${own_alone}" "own devices \\(all classes\\): [1-9]" "the host's own device list")

# Beside the folder's files, as the README says: its tarnwick.dll replaces
# the shipped one. No setting at all, as when started from Explorer.
set(beside ${work}/beside)
file(GLOB folder_files LIST_DIRECTORIES false ${kit}/virtual_peripheral/*)
file(COPY ${work}/host.exe ${folder_files} DESTINATION ${beside})
run_host(${beside})
expect_own_as_alone("beside the virtual peripheral")
set(demo_library "library: count 1A2B 3C4D: 2\nlibrary: scan 1A2F 3C4D: 1 found, entry B 2\nAB\nlibrary: send PERIPHRL: 0\nlibrary: send to no port: 5\n")
expect("${out}" "${demo_library}" "the library beside the virtual peripheral")
set(first_report ${beside}/vperiph-report-host-1.txt)
file(READ ${first_report} report)
expect("${report}" "description: [^\n]*vperiph.vp \\(beside vperiph.dll\\)\n" "the report beside")
set(port0 "port 0 \"PERIPHRL MIDI 1\": FF / 92 3C 40 / 82 3C 40 / B2 3C 40 / FF\n")
expect("${report}" "${port0}" "the report beside")
expect("${report}" "port 1 \"MIDIOUT2 \\(PERIPHRL MIDI\\)\": nothing received\n" "the report beside")
expect("${report}" "handle faults: none\n" "the report beside")

# Whatever runs in the folder afterwards, the host's report stays: the tool
# the README recommends there (a report of its own), the registry tool
# (which uses no port or entry, so it leaves none), and the host again with
# another description (its second report).
run(${CMAKE_COMMAND} ${no_settings} ${WINE} ${beside}/tarnwick-cli.exe ports --key PERIPHRL)
run(${CMAKE_COMMAND} ${no_settings} ${WINE} ${beside}/vperiph-registry.exe remove)
file(WRITE ${beside}/vperiph.vp "port \"PERIPHRL\" send=67\nusb \"USB\\VID_1A2B&PID_3C4D\" repeat=4\n")
run_host(${beside})
expect("${out}" "count 1A2B 3C4D: 4\n.*send PERIPHRL: 5\n" "the host's second run")
file(READ ${first_report} report)
expect("${report}" "${port0}" "the first run's report after the tool, the registry tool and a second run")
file(READ ${beside}/vperiph-report-host-2.txt report)
expect("${report}" "port 0 \"PERIPHRL\": nothing received\n" "the second run's report")
file(READ ${beside}/vperiph-report-tarnwick-cli-1.txt report)
expect("${report}" "calls: [1-9]" "the tool's own report")
file(GLOB reports RELATIVE ${beside} ${beside}/vperiph-report*)
list(SORT reports)
if(NOT reports STREQUAL "vperiph-report-host-1.txt;vperiph-report-host-2.txt;vperiph-report-tarnwick-cli-1.txt")
  message(FATAL_ERROR "reports beside the DLLs: ${reports}")
endif()
file(COPY ${kit}/virtual_peripheral/vperiph.vp DESTINATION ${beside})

if(NOT FEW_RUNS)
  # The settings still decide where a developer points them.
  file(GLOB reports ${beside}/vperiph-report*)
  file(REMOVE ${reports})
  file(WRITE ${work}/other.vp "port \"PERIPHRL\" send=67\nusb \"USB\\VID_1A2B&PID_3C4D\" repeat=4\n")
  run_host(${beside} TARNWICK_VP_FILE=${work}/other.vp TARNWICK_VP_REPORT=${work}/other.txt)
  expect_own_as_alone("with the settings")
  expect("${out}" "count 1A2B 3C4D: 4\n.*send PERIPHRL: 5\n" "the library with the settings")
  file(READ ${work}/other.txt report)
  expect("${report}" "other.vp \\(TARNWICK_VP_FILE\\)\n  port 0 \"PERIPHRL\": nothing received\n"
         "the report named by TARNWICK_VP_REPORT")
  file(GLOB reports ${beside}/vperiph-report*)
  if(reports)
    message(FATAL_ERROR "a report beside the DLLs although TARNWICK_VP_REPORT names another: ${reports}")
  endif()

  # A description the peripheral cannot use is said in the report; the host
  # runs on, seeing no ports and no entries.
  file(WRITE ${beside}/vperiph.vp "port \"PERIPHRL\"\nspeaker on\n")
  run_host(${beside})
  expect_own_as_alone("with a broken description")
  expect("${out}" "count 1A2B 3C4D: 0\n.*send PERIPHRL: 0\n" "the library with a broken description")
  file(READ ${beside}/vperiph-report-host-1.txt report)
  expect("${report}" "vperiph.vp \\(beside vperiph.dll\\): line 2: unknown keyword 'speaker'; no ports and no USB entries are presented\n"
         "the report of a broken description")
  file(REMOVE ${beside}/vperiph.vp)
  run_host(${beside})
  file(READ ${beside}/vperiph-report-host-2.txt report)
  expect("${report}" "vperiph.vp \\(beside vperiph.dll\\): not found; no ports" "the report of a missing description")
endif()

# The shipped library, unmodified, on Wine's own DLLs end to end: no DLL
# override and nothing redirected. The USB side from Wine's own setupapi, with
# the demo's entries registered in the prefix; the MIDI side from Wine's own
# winmm, which takes the description's ports from wine/winevp.drv beside the
# host (every test prefix names the audio driver "vp"), with WINEDLLPATH naming
# the kit's wine/ folder as a host developer sets it (Wine 10.0 takes the
# driver's Unix part from there). The host's own port list sees the virtual
# ports too, and its own device list the entries.
set(own ${work}/wine-own)
file(MAKE_DIRECTORY ${own})
file(COPY ${work}/host.exe ${kit}/bin/tarnwick.dll ${kit}/bin/tarnwick-cli.exe
          ${kit}/virtual_peripheral/vperiph.dll ${kit}/virtual_peripheral/vperiph.vp
          ${kit}/virtual_peripheral/wine/winevp.drv
     DESTINATION ${own})
set(registry ${CMAKE_COMMAND} ${no_settings} TARNWICK_VP_REPORT=none ${WINE}
    ${kit}/virtual_peripheral/vperiph-registry.exe)
run(${registry} add ${own}/vperiph.vp)
set(driver_path WINEDLLPATH=${kit}/virtual_peripheral/wine)
execute_process(COMMAND ${CMAKE_COMMAND} ${no_settings} ${driver_path} ${WINE} ${own}/host.exe
                RESULT_VARIABLE host_rc OUTPUT_VARIABLE host_out ERROR_VARIABLE err)
run(${registry} remove)
math(EXPR runs "${runs} + 1")
if(NOT host_rc EQUAL 0)
  message(FATAL_ERROR "the host on Wine's own DLLs failed (${host_rc}):\n${host_out}\n${err}")
endif()
string(REPLACE "\r\n" "\n" out "${host_out}")
string(REGEX MATCH "own timer[^\n]*\n" timer "${out}")
string(REGEX MATCH "own timer[^\n]*\n" timer_alone "${own_alone}")
if(NOT timer STREQUAL timer_alone)
  message(FATAL_ERROR "the host's own timer on Wine's own DLLs:\n${timer}\nalone:\n${timer_alone}")
endif()
string(REGEX MATCH "own devices \\(all classes\\): ([0-9]+)" _ "${own_alone}")
math(EXPR with_entries "${CMAKE_MATCH_1} + 3")
expect("${out}" "own devices \\(all classes\\): ${with_entries}\n" "the host's own device list with the entries")
# Whether Wine's winmm took the driver is what happened, not what the Wine
# version suggests: a driver winmm opened answers for its ports, and its
# report is written beside vperiph.dll. No port and no report: no call of
# winmm's reached it, and the MIDI side is skipped, said in one line.
set(report_file ${own}/vperiph-report-host-1.txt)
if(out MATCHES "own MIDI output ports: 0\n" AND NOT EXISTS ${report_file})
  expect("${out}" "library: count 1A2B 3C4D: 2\nlibrary: scan 1A2F 3C4D: 1 found, entry B 2\n"
         "the shipped library on Wine's own setupapi")
  message("note: Wine's own winmm presents no MIDI port and no call of its reached the driver "
          "(no report beside vperiph.dll)")
  message("skipped (${ARCH}): real host, the shipped tarnwick.dll's MIDI side on Wine's own "
          "winmm (its setupapi side ran): Wine's own winmm did not take the virtual peripheral's driver")
else()
  expect("${out}" "own MIDI output ports: 3\nown port 0: PERIPHRL MIDI 1\nown port 1: MIDIOUT2 \\(PERIPHRL MIDI\\)\nown port 2: Other Synth\n"
         "the host's own port list on the driver")
  expect("${out}" "${demo_library}" "the shipped library on Wine's own DLLs")
  expect("${out}" "own MIDI output ports after: 3\n" "the host's own port list after")
  file(READ ${report_file} report)
  expect("${report}" "port 0 \"PERIPHRL MIDI 1\": FF / 92 3C 40 / 82 3C 40 / B2 3C 40 / FF\n"
         "the report of the shipped library on Wine's own DLLs")
  expect("${report}" "port 1 \"MIDIOUT2 \\(PERIPHRL MIDI\\)\": nothing received\n" "the report")
  expect("${report}" "handle faults: none\n" "the report of the shipped library on Wine's own DLLs")
  string(REGEX MATCH "port 0 [^\n]*" received "${report}")
  message("figure: real host (${ARCH}): the shipped tarnwick.dll on Wine's own winmm and setupapi "
          "(driver selected, entries registered): ${received}")
  if(NOT FEW_RUNS)
    # tarnwick-cli shows the ports Wine's winmm presents.
    run(${CMAKE_COMMAND} ${no_settings} TARNWICK_VP_REPORT=none ${driver_path} ${WINE}
        ${own}/tarnwick-cli.exe ports --key PERIPHRL)
    expect("${out}" "key \"PERIPHRL\": hiddirect_main sends to 1 of 3 port\\(s\\): index 0\n"
           "tarnwick-cli ports on Wine's own winmm")
    math(EXPR runs "${runs} + 1")
  endif()
endif()
message("figure: real host (${ARCH}): ${runs} runs under Wine with no DLL override; its own WinMM "
        "and SetupAPI calls as without the virtual peripheral, the library's on it")

# The editor host in DIR, on the kit's description, through DOOR.
function(run_editor door dir)
  execute_process(COMMAND ${CMAKE_COMMAND} ${no_settings} ${ARGN} ${WINE} ${dir}/editor_host.exe
                  WORKING_DIRECTORY ${dir} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  string(REPLACE "\r\n" "\n" out "${out}")
  set(report "")
  if(EXISTS ${dir}/vperiph-report-editor_host-1.txt)
    file(READ ${dir}/vperiph-report-editor_host-1.txt report)
  elseif(out MATCHES "MIDI outputs: 0\n" AND door MATCHES "driver")
    message("skipped (${ARCH}): editor host through ${door}: Wine's own winmm did not take the "
            "virtual peripheral's driver")
    return()
  endif()
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "the editor host through ${door} (exit ${rc}):\n${out}\n${err}\nreport:\n${report}")
  endif()
  expect("${out}" "ok identity reply: F0 7E 7F 06 02 7D 01 00 02 00 01 00 00 00 F7\n" "${door}")
  foreach(line "port 0 \"PERIPHRL MIDI 1\": F0 7E 7F 06 01 F7 / FF / 92 3C 40 / 82 3C 40 / B2 3C 40 / FF\n"
               "refused: [^\n]* of output port 0, held open by handle "
               "answer on line [0-9]+ \\(port 0 to in 0\\): fired 1 time\n" "handle faults: none\n")
    expect("${report}" "${line}" "the report through ${door}")
  endforeach()
  message("figure: editor host (${ARCH}) through ${door}: identity request answered on the input "
          "port; hiddirect_main 5 while the host held the port, 0 after")
endfunction()
file(COPY ${work}/editor_host.exe DESTINATION ${own})
run_editor("Wine's own winmm and the driver" ${own} ${driver_path})
set(redirected ${work}/redirected)
file(COPY ${folder_files} DESTINATION ${redirected})
run(${PYTHON} ${kit}/virtual_peripheral/redirect_imports.py ${work}/editor_host.exe
    ${redirected}/editor_host.exe winmm.dll=vpwmm.dll:${kit}/virtual_peripheral/vpwmm.dll)
run_editor("the redirected program" ${redirected})
