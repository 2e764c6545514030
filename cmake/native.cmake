# The platform-free logic, built for this machine: unit tests under
# AddressSanitizer and UndefinedBehaviorSanitizer.
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(${GOOGLETEST_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

set(SANITIZERS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)

add_executable(unit_tests
  ${TARNWICK_PURE_SOURCES}
  tools/virtual_peripheral/description.cpp
  tests/unit/short_message_test.cpp
  tests/unit/hardware_id_test.cpp
  tests/unit/description_test.cpp)
target_include_directories(unit_tests PRIVATE ${TARNWICK_INCLUDES} tools/virtual_peripheral)
target_compile_options(unit_tests PRIVATE ${TARNWICK_WARNINGS} ${SANITIZERS} -g)
target_link_options(unit_tests PRIVATE ${SANITIZERS})
target_link_libraries(unit_tests PRIVATE GTest::gtest_main)
add_test(NAME unit_tests COMMAND unit_tests)
