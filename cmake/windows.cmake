# The shipped DLL, and (when they are on) the tools and the Windows test
# programs.
enable_language(RC)

if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(TARNWICK_ARCH x86_64)
else()
  set(TARNWICK_ARCH i686)
endif()

set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin)
set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin)
set(CMAKE_ARCHIVE_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/lib)

# No runtime DLL may follow the library into a host's process.
if(TARNWICK_GCC_LIKE)
  set(TARNWICK_STATIC_RUNTIME -static -static-libgcc -static-libstdc++)
else()
  set(TARNWICK_STATIC_RUNTIME "")
endif()

add_library(tarnwick_core STATIC
  ${TARNWICK_PURE_SOURCES}
  src/midi_command/direct_command.cpp
  src/midi_command/winmm_ports.cpp
  src/usb_presence/presence_queries.cpp
  src/usb_presence/setupapi_walk.cpp)
target_include_directories(tarnwick_core PUBLIC ${TARNWICK_INCLUDES})
target_compile_definitions(tarnwick_core PUBLIC TARNWICK_BUILDING UNICODE _UNICODE WIN32_LEAN_AND_MEAN)
target_compile_options(tarnwick_core PRIVATE ${TARNWICK_WARNINGS}
  $<$<BOOL:${TARNWICK_GCC_LIKE}>:-fno-exceptions -fno-rtti -Os>)
target_link_libraries(tarnwick_core PUBLIC winmm setupapi)

configure_file(src/library/version.rc.in ${PROJECT_BINARY_DIR}/version.rc @ONLY)
add_library(tarnwick SHARED
  src/library/dll_main.cpp
  src/library/tarnwick.def
  ${PROJECT_BINARY_DIR}/version.rc)
set_target_properties(tarnwick PROPERTIES PREFIX "" IMPORT_PREFIX "lib")
target_include_directories(tarnwick INTERFACE
  $<BUILD_INTERFACE:${PROJECT_BINARY_DIR}/include> $<INSTALL_INTERFACE:include>)
target_compile_options(tarnwick PRIVATE ${TARNWICK_WARNINGS}
  $<$<BOOL:${TARNWICK_GCC_LIKE}>:-fno-exceptions -fno-rtti>)
target_link_libraries(tarnwick PRIVATE tarnwick_core)
target_link_options(tarnwick PRIVATE ${TARNWICK_STATIC_RUNTIME})
# No stack protector: its guard would bring ADVAPI32 into a host's process.
tarnwick_shipped_image(tarnwick)
# The name a project that adds this one with add_subdirectory links to, as
# it would the installed package's.
add_library(tarnwick::tarnwick ALIAS tarnwick)

if(TARNWICK_BUILD_TESTS)
  include(cmake/wine.cmake)
endif()
if(TARNWICK_BUILD_TOOLS)
  add_subdirectory(tools)
endif()
if(TARNWICK_BUILD_TESTS)
  add_subdirectory(tests)
  add_subdirectory(bench)
endif()

# Other build trees (the native unit tests) join this tree's test run, so one
# ctest reports everything.
set(TARNWICK_EXTRA_TEST_DIRS "" CACHE STRING "Build trees whose tests run with these")
if(TARNWICK_EXTRA_TEST_DIRS)
  set(extra "")
  foreach(dir ${TARNWICK_EXTRA_TEST_DIRS})
    string(APPEND extra "subdirs(\"${dir}\")\n")
  endforeach()
  file(WRITE ${PROJECT_BINARY_DIR}/extra_tests.cmake "${extra}")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${PROJECT_BINARY_DIR}/extra_tests.cmake)
endif()

# Import library for MSVC's linker, from the same export list.
if(TARNWICK_MSVC_IMPORT_LIBRARY)
  find_program(LLVM_DLLTOOL NAMES llvm-dlltool llvm-dlltool-14 REQUIRED)
  if(TARNWICK_ARCH STREQUAL "x86_64")
    set(dlltool_machine i386:x86-64)
  else()
    set(dlltool_machine i386)
  endif()
  set(TARNWICK_MSVC_LIB ${CMAKE_ARCHIVE_OUTPUT_DIRECTORY}/tarnwick.lib)
  add_custom_command(OUTPUT ${TARNWICK_MSVC_LIB}
    COMMAND ${LLVM_DLLTOOL} -m ${dlltool_machine} -D tarnwick.dll
            -d ${PROJECT_SOURCE_DIR}/src/library/tarnwick.def -l ${TARNWICK_MSVC_LIB}
    DEPENDS ${PROJECT_SOURCE_DIR}/src/library/tarnwick.def
    COMMENT "MSVC import library tarnwick.lib")
  add_custom_target(tarnwick_msvc_lib ALL DEPENDS ${TARNWICK_MSVC_LIB})
endif()

if(TARNWICK_INSTALL)
  include(cmake/install.cmake)
endif()
