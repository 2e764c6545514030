# Shared by the install and package tests.

# Runs a command that must succeed; its output is left in `out` (and, without
# surrounding white space, in `stripped`). The hosts print in text mode (CR
# LF); the library's own line is exactly "AB\r\n", so after this it reads
# "AB\n" and a doubled CR would show.
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed (${rc}): ${ARGN}\n${out}\n${err}")
  endif()
  string(REPLACE "\r\n" "\n" out "${out}")
  string(STRIP "${out}" stripped)
  set(out "${out}" PARENT_SCOPE)
  set(stripped "${stripped}" PARENT_SCOPE)
endfunction()

function(expect text pattern what)
  if(NOT text MATCHES "${pattern}")
    message(FATAL_ERROR "${what}: expected /${pattern}/ in:\n${text}")
  endif()
endfunction()

# What the sample host prints against the virtual peripheral's demo device.
set(DEMO_HOST_OUTPUT "entries of 1A2B:3C4D: 2\nVIDs found in 1A20-1A2F: 1\nentries of 1A2B in that scan: 2\nAB\ndirect command: 0\n")

# Runs a program of the kit at KIT against the virtual peripheral as the
# tests of the shipped DLL do: the stand-ins under the system's names copied
# beside it with vperiph.dll, loaded through DLL overrides, describing the
# demo device. WINE runs it.
function(run_on_peripheral kit exe)
  get_filename_component(dir ${exe} DIRECTORY)
  file(GLOB standins ${kit}/virtual_peripheral/override/*.dll)
  file(COPY ${standins} ${kit}/virtual_peripheral/vperiph.dll DESTINATION ${dir})
  run(${CMAKE_COMMAND} -E env WINEDLLOVERRIDES=winmm,setupapi=n,b
      TARNWICK_VP_FILE=${kit}/virtual_peripheral/vperiph.vp ${WINE} ${exe} ${ARGN})
  set(out "${out}" PARENT_SCOPE)
endfunction()

# A build that wants only the library must not have looked for what the
# tests and tools need.
function(expect_library_only cache what)
  file(STRINGS ${cache} looked_for
       REGEX "^(GTest|GOOGLETEST|TARNWICK_WINE|LLVM_DLLTOOL|NLOHMANN|PKG_CONFIG|CPPCHECK|CLANG)[A-Za-z_]*:")
  if(looked_for)
    message(FATAL_ERROR "${what} looked for: ${looked_for}")
  endif()
endfunction()
