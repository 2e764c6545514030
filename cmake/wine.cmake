# How the Windows test programs run here: each architecture through its own
# Wine loader (never the /usr/bin/wine wrapper, which always starts the 32-bit
# loader first) in a prefix of its own.
if(TARNWICK_ARCH STREQUAL "x86_64")
  set(loader_name wine64)
else()
  set(loader_name wine)
endif()
find_program(TARNWICK_WINE_LOADER ${loader_name} PATHS /usr/lib/wine NO_DEFAULT_PATH REQUIRED)
set(TARNWICK_WINEPREFIX ${PROJECT_BINARY_DIR}/wine-prefix CACHE PATH
    "Wine prefix of this architecture's test runs")
# Where the kernel refuses 32-bit executables they run under qemu-i386, and
# every Wine process start costs many times what it does natively: the tests
# that start many processes then make a few representative runs in the
# 32-bit tree.
set(TARNWICK_RUN_MODE native CACHE STRING "How this tree's programs run: native or emulated")
set_property(CACHE TARNWICK_RUN_MODE PROPERTY STRINGS native emulated)
if(TARNWICK_RUN_MODE STREQUAL "emulated")
  set(TARNWICK_RUN_TEXT "emulated through qemu-i386")
  set(TARNWICK_FEW_CHILD_RUNS ON)
else()
  set(TARNWICK_RUN_TEXT "native")
  set(TARNWICK_FEW_CHILD_RUNS OFF)
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR
    ${CMAKE_COMMAND} -E env WINEPREFIX=${TARNWICK_WINEPREFIX} ${TARNWICK_WINE_LOADER})
