# The platform-free logic, built for this machine: unit tests under
# AddressSanitizer and UndefinedBehaviorSanitizer and static analysis, or
# (TARNWICK_FUZZ, with clang) the fuzz targets only.
option(TARNWICK_FUZZ "Build and run only the fuzz targets (clang)" OFF)
set(TARNWICK_FUZZ_SECONDS 30 CACHE STRING "Run time of each fuzz target in the tests")

if(TARNWICK_FUZZ)
  # Coverage-guided fuzzing with libFuzzer; the seed corpus is kept in the
  # repository and only read.
  set(FUZZ_FLAGS -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all -g)
  set(VP_DIR ${PROJECT_SOURCE_DIR}/tools/virtual_peripheral)
  set(hardware_id_fuzz_sources ${TARNWICK_PURE_SOURCES})
  set(key_message_fuzz_sources ${TARNWICK_PURE_SOURCES} ${PROJECT_SOURCE_DIR}/tools/cli/key_match.cpp
      ${PROJECT_SOURCE_DIR}/tools/cli/args.cpp)
  set(description_fuzz_sources ${VP_DIR}/description.cpp ${VP_DIR}/text.cpp)
  # The description's seeds are the examples people read: the code blocks of
  # the virtual peripheral's README and the demo's description.
  set(description_seed_texts ${VP_DIR}/README.md ${VP_DIR}/demo.vp)
  # Far below what a description beyond its limits takes (the 60 bytes
  # "usb-hex 00 bytes=65536 repeat=100000" once asked for 6.5 GB), and above
  # the few MB one within them needs under the sanitizers.
  set(description_fuzz_options -rss_limit_mb=384 -malloc_limit_mb=32)
  foreach(target hardware_id key_message description)
    add_executable(${target}_fuzz tests/fuzz/${target}_fuzz.cpp ${${target}_fuzz_sources})
    target_include_directories(${target}_fuzz PRIVATE ${TARNWICK_INCLUDES} ${VP_DIR}
                               ${PROJECT_SOURCE_DIR}/tools/cli ${PROJECT_SOURCE_DIR}/tools/common)
    # An index past a string's end aborts rather than reading its terminator.
    target_compile_definitions(${target}_fuzz PRIVATE _GLIBCXX_ASSERTIONS)
    target_compile_options(${target}_fuzz PRIVATE ${TARNWICK_WARNINGS} ${FUZZ_FLAGS})
    target_link_options(${target}_fuzz PRIVATE ${FUZZ_FLAGS})
    string(REPLACE ";" "|" seed_texts "${${target}_seed_texts}")
    add_test(NAME fuzz_${target}
      COMMAND ${CMAKE_COMMAND} -DFUZZER=$<TARGET_FILE:${target}_fuzz> -DNAME=${target}
              -DSEEDS=${PROJECT_SOURCE_DIR}/tests/fuzz/corpus/${target} "-DSEED_TEXTS=${seed_texts}"
              -DWORK=${PROJECT_BINARY_DIR}/corpus/${target} -DSECONDS=${TARNWICK_FUZZ_SECONDS}
              "-DOPTIONS=${${target}_fuzz_options}"
              -P ${PROJECT_SOURCE_DIR}/tests/fuzz/run_fuzzer.cmake)
  endforeach()
  return()
endif()

set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(${GOOGLETEST_DIR} ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

set(SANITIZERS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
add_executable(unit_tests
  ${TARNWICK_PURE_SOURCES}
  tools/virtual_peripheral/description.cpp
  tools/virtual_peripheral/device.cpp
  tools/virtual_peripheral/text.cpp
  tools/virtual_peripheral/wine_release.cpp
  tests/unit/hardware_id_test.cpp
  tests/unit/description_test.cpp
  tests/unit/device_test.cpp
  tests/unit/handle_space_test.cpp
  tests/unit/wine_release_test.cpp)
target_include_directories(unit_tests PRIVATE ${TARNWICK_INCLUDES} tools/virtual_peripheral
                           tools/common)
target_compile_options(unit_tests PRIVATE ${TARNWICK_WARNINGS} ${SANITIZERS} -g)
target_link_options(unit_tests PRIVATE ${SANITIZERS})
target_link_libraries(unit_tests PRIVATE GTest::gtest_main)
add_test(NAME unit_tests COMMAND unit_tests)

# Static analysis of the library and the tools; any finding fails the test.
find_program(CPPCHECK cppcheck REQUIRED)
# From 2.11 cppcheck stops following branches past a limit unless asked to
# follow them all, and says so in a message that alone fails the test; 2.10
# has no such limit and refuses the option. So it is given where it is known.
execute_process(COMMAND ${CPPCHECK} --check-level=exhaustive --version
                RESULT_VARIABLE exhaustive_known OUTPUT_QUIET ERROR_QUIET)
set(CPPCHECK_LEVEL "")
if(exhaustive_known EQUAL 0)
  set(CPPCHECK_LEVEL --check-level=exhaustive)
endif()
add_test(NAME static_analysis
  COMMAND ${CPPCHECK} ${CPPCHECK_LEVEL} --quiet --error-exitcode=1 --inline-suppr --std=c++17
          --enable=warning,style,performance,portability -D_WIN32
          --suppress=missingIncludeSystem --suppress=useStlAlgorithm
          -I ${PROJECT_BINARY_DIR}/include -I ${PROJECT_SOURCE_DIR}/src/midi_command
          -I ${PROJECT_SOURCE_DIR}/src/usb_presence -I ${PROJECT_SOURCE_DIR}/tools/virtual_peripheral
          -I ${PROJECT_SOURCE_DIR}/tools/common
          ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tools)
