# A device editor's host (editor_host.c) through both doors a host's own
# WinMM calls have to the virtual peripheral: Wine's own winmm with the kit's
# driver beside it (and the shipped tarnwick.dll), and the host's program
# redirected to vpwmm.dll as the kit's guide shows (with the kit's redirected
# tarnwick.dll). Each door runs the whole exchange once: ports listed, open
# and done notifications, an identity request answered on the input port,
# and the library's direct command refused a port the host holds.
# Inputs: BUILD_DIR SOURCE_DIR C_COMPILER WINE ("|"-separated) ARCH PYTHON
string(REPLACE "|" ";" WINE "${WINE}")
set(work ${BUILD_DIR}/editor-host-test)
file(REMOVE_RECURSE ${work})
include(${CMAKE_CURRENT_LIST_DIR}/run.cmake)

set(kit ${work}/kit)
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${kit})
run(${C_COMPILER} -std=c99 -Wall -Wextra -Werror -static-libgcc -I${kit}/include
    ${CMAKE_CURRENT_LIST_DIR}/editor_host.c -lwinmm -o ${work}/editor_host.exe)
set(description "port \"PERIPHRL MIDI 1\"\nport \"MIDIOUT2 (PERIPHRL MIDI)\"\nin \"PERIPHRL MIDI 1\"\nanswer 0 F0 7E 7F 06 01 F7 reply 0 F0 7E 7F 06 02 7D 01 00 02 00 01 00 00 00 F7 after=20\n")
set(no_settings -E env --unset=WINEDLLOVERRIDES --unset=TARNWICK_VP_FILE --unset=TARNWICK_VP_REPORT)
set(vp ${kit}/virtual_peripheral)

# Runs the host in DIR; its output is in `out`, its report in `report`.
macro(run_editor door dir)
  file(WRITE ${dir}/vperiph.vp "${description}")
  execute_process(COMMAND ${CMAKE_COMMAND} ${no_settings} ${ARGN} ${WINE} ${dir}/editor_host.exe
                  WORKING_DIRECTORY ${dir} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  string(REPLACE "\r\n" "\n" out "${out}")
  set(report "")
  if(EXISTS ${dir}/vperiph-report-editor_host-1.txt)
    file(READ ${dir}/vperiph-report-editor_host-1.txt report)
  endif()
endmacro()

macro(expect_exchange door)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "the editor host through ${door} (exit ${rc}):\n${out}\n${err}\nreport:\n${report}")
  endif()
  expect("${out}" "ok identity reply: F0 7E 7F 06 02 7D 01 00 02 00 01 00 00 00 F7\n" "${door}")
  expect("${report}" "F0 7E 7F 06 01 F7" "the report through ${door}: the request received")
  expect("${report}" "port 0 \"PERIPHRL MIDI 1\"[^\n]*FF / 92 3C 40 / 82 3C 40 / B2 3C 40 / FF"
         "the report through ${door}: the direct command after the port was closed")
  expect("${report}" "refused: [^\n]* of output port 0, held open by handle " "the report through ${door}: the library's refused open")
  expect("${report}" "answer on line 4 \\(port 0 to in 0\\): fired 1 time\n" "the report through ${door}")
  expect("${report}" "handle faults: none\n" "the report through ${door}")
  message("figure: editor host (${ARCH}) through ${door}: identity request answered on the input "
          "port; hiddirect_main 5 while the host held the port, 0 after")
endmacro()

# Door 1: Wine's own winmm, which takes the driver beside the program (every
# test prefix names the audio driver "vp"). Skipped, said in one line, where
# Wine's winmm does not take it (it then lists no port).
set(own ${work}/wine-winmm)
file(MAKE_DIRECTORY ${own})
file(COPY ${work}/editor_host.exe ${kit}/bin/tarnwick.dll ${vp}/vperiph.dll ${vp}/wine/winevp.drv
     DESTINATION ${own})
run_editor("Wine's own winmm and the driver" ${own} WINEDLLPATH=${vp}/wine)
if(out MATCHES "MIDI outputs: 0\n" AND NOT EXISTS ${own}/vperiph-report-editor_host-1.txt)
  message("skipped (${ARCH}): editor host through Wine's own winmm: Wine's own winmm did not take "
          "the virtual peripheral's driver")
else()
  expect_exchange("Wine's own winmm and the driver")
endif()

# Door 2: the host's own program redirected, beside the folder's files.
set(redirected ${work}/redirected)
file(GLOB folder_files LIST_DIRECTORIES false ${vp}/*)
file(COPY ${folder_files} DESTINATION ${redirected})
run(${PYTHON} ${vp}/redirect_imports.py ${work}/editor_host.exe ${redirected}/editor_host.exe
    winmm.dll=vpwmm.dll:${vp}/vpwmm.dll)
run_editor("the redirected program" ${redirected})
expect_exchange("the redirected program")
