# Configures and builds the library alone (tests and tools off) in a tree of
# its own, as a project that only wants the DLL would: such a configure must
# look for none of what the tests and tools need. Then the DLL's exports and
# imports are checked as the shipped one's are.
# Inputs: SOURCE_DIR WORK TOOLCHAIN PYTHON (with pefile) ARCH LABEL
file(REMOVE_RECURSE ${WORK})
execute_process(
  COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${WORK} -G Ninja
          -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN}
          -DTARNWICK_BUILD_TESTS=OFF -DTARNWICK_BUILD_TOOLS=OFF
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "library-only configure with ${LABEL} failed:\n${out}\n${err}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK}
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
# Warnings are errors in this build; any other output of the compiler is a
# warning that slipped through.
if(NOT rc EQUAL 0 OR out MATCHES "warning:" OR err MATCHES "warning:")
  message(FATAL_ERROR "library-only build with ${LABEL} failed or warned:\n${out}\n${err}")
endif()
file(GLOB built RELATIVE ${WORK}/bin ${WORK}/bin/*)
if(NOT built STREQUAL "tarnwick.dll")
  message(FATAL_ERROR "the library-only build made ${built}, not tarnwick.dll alone")
endif()
include(${CMAKE_CURRENT_LIST_DIR}/run.cmake)
expect_library_only(${WORK}/CMakeCache.txt "the library-only configure with ${LABEL}")
execute_process(COMMAND ${PYTHON} ${SOURCE_DIR}/tests/release/module_test.py
                        ${WORK}/bin/tarnwick.dll ${ARCH} "--label=${LABEL}"
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
message("${out}${err}")
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the ${LABEL} DLL fails the module checks")
endif()
