# The README's "Your own host" lines, run exactly as written (the block after
# the "host steps" marker of the kit's architecture; the API guide must carry
# the same block), from a folder whose build/ARCH is this tree: the kit
# installed, the sample host built with the CMake package (and, for i686,
# one with pkg-config), each run under Wine beside the virtual peripheral's
# top files with no setting of ours.
# Inputs: BUILD_DIR SOURCE_DIR ARCH
include(${CMAKE_CURRENT_LIST_DIR}/run.cmake)
set(marker_i686 "host steps")
set(marker_x86_64 "host steps, 64-bit")
foreach(doc README.md docs/api.md)
  file(READ ${SOURCE_DIR}/${doc} text)
  if(NOT text MATCHES "<!-- ${marker_${ARCH}}:[^\n]*-->\n```sh\n([^`]*)```")
    message(FATAL_ERROR "${doc} has no ${marker_${ARCH}} block")
  endif()
  set(block_${doc} "${CMAKE_MATCH_1}")
  # A step that fails must stop the block, not leave a stale host to run.
  if(NOT CMAKE_MATCH_1 MATCHES "^set -e")
    message(FATAL_ERROR "the ${marker_${ARCH}} block of ${doc} does not begin with set -e")
  endif()
endforeach()
if(NOT block_README.md STREQUAL block_docs/api.md)
  message(FATAL_ERROR "the ${marker_${ARCH}} differ between README.md and docs/api.md")
endif()

set(work ${BUILD_DIR}/readme-host-test)
file(REMOVE_RECURSE ${work})
file(MAKE_DIRECTORY ${work}/build)
file(CREATE_LINK ${BUILD_DIR} ${work}/build/${ARCH} SYMBOLIC)
file(WRITE ${work}/steps.sh "${block_README.md}")
run(${CMAKE_COMMAND} -E chdir ${work} ${CMAKE_COMMAND} -E env --unset=WINEDLLOVERRIDES
    --unset=TARNWICK_VP_FILE --unset=TARNWICK_VP_REPORT --unset=WINEPREFIX bash steps.sh)
string(REGEX MATCHALL "entries of 1A2B:3C4D: 2\n" runs "${out}")
list(LENGTH runs hosts)
set(expected_hosts_i686 2)
set(expected_hosts_x86_64 1)
if(NOT hosts EQUAL expected_hosts_${ARCH})
  message(FATAL_ERROR "the README's ${ARCH} hosts: ${hosts} ran, not ${expected_hosts_${ARCH}}:\n${out}")
endif()
expect("${out}" "${DEMO_HOST_OUTPUT}" "the README's ${ARCH} hosts")
message("figure: README host steps (${ARCH}): ${hosts} host(s) built from the installed kit and "
        "run beside the virtual peripheral, as written")
