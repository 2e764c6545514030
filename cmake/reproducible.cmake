# The same commit gives the same bytes, whatever the build folder, the time,
# the time zone, the locale or the user: time comes from SOURCE_DATE_EPOCH
# (by default the last commit's time), and no path of the build machine
# reaches an object.

# Outside a git checkout (a source archive), and with no SOURCE_DATE_EPOCH:
# 2025-01-01T00:00:00Z.
set(TARNWICK_FALLBACK_EPOCH 1735689600)
if(DEFINED ENV{SOURCE_DATE_EPOCH} AND "$ENV{SOURCE_DATE_EPOCH}" MATCHES "^[0-9]+$")
  set(TARNWICK_SOURCE_DATE_EPOCH $ENV{SOURCE_DATE_EPOCH})
else()
  set(TARNWICK_SOURCE_DATE_EPOCH ${TARNWICK_FALLBACK_EPOCH})
  find_package(Git QUIET)
  if(GIT_FOUND)
    # Whoever builds, even a user who does not own the checkout.
    execute_process(COMMAND ${GIT_EXECUTABLE} -c safe.directory=${PROJECT_SOURCE_DIR}
                            -C ${PROJECT_SOURCE_DIR} log -1 --format=%ct
                    RESULT_VARIABLE rc OUTPUT_VARIABLE commit_time ERROR_QUIET
                    OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(rc EQUAL 0 AND commit_time MATCHES "^[0-9]+$")
      set(TARNWICK_SOURCE_DATE_EPOCH ${commit_time})
    endif()
    # A commit or checkout writes to the reflog: the tree then configures
    # again, and takes the new time.
    if(EXISTS ${PROJECT_SOURCE_DIR}/.git/logs/HEAD)
      set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
                   ${PROJECT_SOURCE_DIR}/.git/logs/HEAD)
    endif()
  endif()
endif()

if(TARNWICK_GCC_LIKE)
  # The build folder lies inside the source folder here: the last matching
  # map wins, so it comes second.
  add_compile_options("$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${PROJECT_SOURCE_DIR}=.>"
                      "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${PROJECT_BINARY_DIR}=build>")
endif()
# GNU ld takes the PE and export timestamps from SOURCE_DATE_EPOCH in its
# environment (CMake 3.21 and later hand it over); lld takes none.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  foreach(lang C CXX)
    set(CMAKE_${lang}_LINKER_LAUNCHER
        ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${TARNWICK_SOURCE_DATE_EPOCH})
  endforeach()
elseif(CMAKE_CXX_COMPILER_ID STREQUAL "Clang" AND CMAKE_SYSTEM_NAME STREQUAL "Windows")
  add_link_options(-Wl,--no-insert-timestamp)
endif()
