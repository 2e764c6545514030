# The Python that runs the kit's PE tools: one with Debian's pefile, which a
# Python of the user's own (pyenv, a virtual environment) may lack, so the
# system's is asked first.
if(NOT TARNWICK_PYTHON)
  find_program(system_python python3 PATHS /usr/bin NO_DEFAULT_PATH NO_CACHE)
  find_program(path_python python3 NO_CACHE)
  foreach(candidate ${system_python} ${path_python})
    execute_process(COMMAND ${candidate} -c "import pefile"
                    RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
    if(rc EQUAL 0)
      set(TARNWICK_PYTHON ${candidate} CACHE FILEPATH "Python 3 with pefile (python3-pefile)")
      break()
    endif()
  endforeach()
  if(NOT TARNWICK_PYTHON)
    message(FATAL_ERROR "the tools need Python 3 with pefile (Debian: python3-pefile)")
  endif()
endif()
