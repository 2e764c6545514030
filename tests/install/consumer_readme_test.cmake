# The README's "Your own host" lines, run exactly as written (the block after
# the "host steps" marker; the API guide must carry the same block), from a
# folder whose build/i686 is this tree: the kit installed, a host built with
# the CMake package and one with pkg-config, each run under Wine beside the
# virtual peripheral's top files with no setting of ours.
# Inputs: BUILD_DIR SOURCE_DIR
include(${CMAKE_CURRENT_LIST_DIR}/run.cmake)
foreach(doc README.md docs/api.md)
  file(READ ${SOURCE_DIR}/${doc} text)
  if(NOT text MATCHES "<!-- host steps[^\n]*-->\n```sh\n([^`]*)```")
    message(FATAL_ERROR "${doc} has no host steps block")
  endif()
  set(block_${doc} "${CMAKE_MATCH_1}")
endforeach()
if(NOT block_README.md STREQUAL block_docs/api.md)
  message(FATAL_ERROR "the host steps differ between README.md and docs/api.md")
endif()

set(work ${BUILD_DIR}/readme-host-test)
file(REMOVE_RECURSE ${work})
file(MAKE_DIRECTORY ${work}/build)
file(CREATE_LINK ${BUILD_DIR} ${work}/build/i686 SYMBOLIC)
file(WRITE ${work}/steps.sh "set -euo pipefail\n${block_README.md}")
run(${CMAKE_COMMAND} -E chdir ${work} ${CMAKE_COMMAND} -E env --unset=WINEDLLOVERRIDES
    --unset=TARNWICK_VP_FILE --unset=TARNWICK_VP_REPORT --unset=WINEPREFIX bash steps.sh)
string(REGEX MATCHALL "entries of 1A2B:3C4D: 2\n" runs "${out}")
list(LENGTH runs hosts)
expect("${out}" "${DEMO_HOST_OUTPUT}.*${DEMO_HOST_OUTPUT}" "the README's two hosts")
message("figure: README host steps (i686): ${hosts} hosts built from the installed kit (CMake "
        "package, pkg-config) and run beside the virtual peripheral, as written")
