# The kit as build systems find it: installs into a fresh prefix, moves the
# tree elsewhere, then builds the sample host outside the source tree, once
# with only find_package(tarnwick CONFIG) and once with only pkg-config, and
# runs both under Wine against the virtual peripheral; and builds it once with
# tarnwick added from source by add_subdirectory.
# The header, the version resource, the CMake package and the .pc file must
# all carry the project's version.
# Inputs: BUILD_DIR SOURCE_DIR C_COMPILER TOOLCHAIN PKG_CONFIG WINE ("|"-separated)
#         ARCH VERSION
string(REPLACE "|" ";" WINE "${WINE}")
set(work ${BUILD_DIR}/consumers-test)
file(REMOVE_RECURSE ${work})

include(${CMAKE_CURRENT_LIST_DIR}/run.cmake)

# Installed in one place, used from another: nothing may point back.
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${work}/installed)
file(RENAME ${work}/installed ${work}/moved)
set(kit ${work}/moved)
file(GLOB_RECURSE package_files ${kit}/lib/cmake/*.cmake ${kit}/lib/pkgconfig/*.pc)
foreach(f ${package_files})
  file(READ ${f} text)
  if(text MATCHES "${work}|${BUILD_DIR}|${SOURCE_DIR}")
    message(FATAL_ERROR "${f} holds a path of the build machine:\n${text}")
  endif()
endforeach()

# find_package only: the kit's own example project, copied out of the kit.
file(COPY ${kit}/doc/examples/ DESTINATION ${work}/cmake-host-source)
run(${CMAKE_COMMAND} -S ${work}/cmake-host-source -B ${work}/cmake-host -G Ninja
    -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN} -DCMAKE_PREFIX_PATH=${kit})
run(${CMAKE_COMMAND} --build ${work}/cmake-host)
run_on_peripheral(${kit} ${work}/cmake-host/host.exe)
expect("${out}" "${DEMO_HOST_OUTPUT}" "the find_package host on the virtual peripheral")
string(REGEX MATCH "tarnwick ([^\n]+)\n" header_line "${out}")
set(from_header ${CMAKE_MATCH_1})
file(STRINGS ${work}/cmake-host/CMakeCache.txt found_in REGEX "^tarnwick_DIR:")
if(NOT found_in MATCHES ":PATH=${kit}/lib/cmake/tarnwick$")
  message(FATAL_ERROR "find_package found tarnwick in ${found_in}, not in the moved kit")
endif()
file(STRINGS ${kit}/lib/cmake/tarnwick/tarnwickConfigVersion.cmake from_cmake_package
     REGEX "^set\\(PACKAGE_VERSION ")
string(REGEX REPLACE "^set\\(PACKAGE_VERSION \"([^\"]*)\"\\)$" "\\1" from_cmake_package
       "${from_cmake_package}")

# pkg-config only.
run(${CMAKE_COMMAND} -E env PKG_CONFIG_LIBDIR=${kit}/lib/pkgconfig
    ${PKG_CONFIG} --cflags --libs tarnwick)
separate_arguments(pc_flags UNIX_COMMAND "${stripped}")
file(MAKE_DIRECTORY ${work}/pc-host)
run(${C_COMPILER} -std=c99 -Wall -Wextra -Werror ${kit}/doc/examples/host.c
    ${pc_flags} -o ${work}/pc-host/host.exe)
file(COPY ${kit}/bin/tarnwick.dll DESTINATION ${work}/pc-host)
run_on_peripheral(${kit} ${work}/pc-host/host.exe)
expect("${out}" "${DEMO_HOST_OUTPUT}" "the pkg-config host on the virtual peripheral")
run(${CMAKE_COMMAND} -E env PKG_CONFIG_LIBDIR=${kit}/lib/pkgconfig
    ${PKG_CONFIG} --modversion tarnwick)
set(from_pkg_config ${stripped})

# add_subdirectory: the library alone, built from source inside the host's
# own tree, and nothing of the tests or tools looked for.
run(${CMAKE_COMMAND} -S ${CMAKE_CURRENT_LIST_DIR}/subproject -B ${work}/subproject-host -G Ninja
    -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN} -DTARNWICK_SOURCE=${SOURCE_DIR}
    -DHOST_SOURCE=${kit}/doc/examples/host.c -DCMAKE_EXE_LINKER_FLAGS=-static-libgcc)
run(${CMAKE_COMMAND} --build ${work}/subproject-host)
expect_library_only(${work}/subproject-host/CMakeCache.txt "the add_subdirectory build")
if(NOT EXISTS ${work}/subproject-host/tarnwick/bin/tarnwick.dll)
  message(FATAL_ERROR "add_subdirectory did not build tarnwick.dll")
endif()

# The version resource's fixed file version, read from the DLL's bytes:
# VS_FIXEDFILEINFO starts with the signature FEEF04BD.
file(READ ${kit}/bin/tarnwick.dll dll HEX)
string(FIND "${dll}" "bd04effe" at)
math(EXPR odd "${at} % 2")
if(at LESS 0 OR odd)
  message(FATAL_ERROR "no version resource in the installed tarnwick.dll")
endif()
math(EXPR at "${at} + 16")
string(SUBSTRING "${dll}" ${at} 16 words)
set(parts "")
foreach(offset 4 0 12)
  string(SUBSTRING "${words}" ${offset} 4 le)
  string(SUBSTRING "${le}" 2 2 hi)
  string(SUBSTRING "${le}" 0 2 lo)
  math(EXPR part "0x${hi}${lo}")
  list(APPEND parts ${part})
endforeach()
string(REPLACE ";" "." from_resource "${parts}")

foreach(source header cmake_package pkg_config resource)
  if(NOT from_${source} STREQUAL VERSION)
    message(FATAL_ERROR "versions disagree: project ${VERSION}, header ${from_header}, "
            "CMake package ${from_cmake_package}, pkg-config ${from_pkg_config}, "
            "version resource ${from_resource}")
  endif()
endforeach()
message("figure: package (${ARCH}): find_package and pkg-config hosts built from a moved "
        "installed tree and run; version ${VERSION} in header, resource, CMake package and .pc")
