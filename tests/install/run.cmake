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
