# Installs into a fresh prefix, builds the sample C host against the installed
# header and import libraries, and runs it under Wine: linked at build time,
# loaded at run time, against Wine's own DLLs and against the virtual
# peripheral; then links a runtime-free host with lld-link against tarnwick.lib.
# Inputs: BUILD_DIR SOURCE_DIR C_COMPILER WINE (the command that runs this
# architecture's programs, "|"-separated) ARCH FEW_RUNS (under emulation: the
# host linked through tarnwick.lib only; the others run in the 64-bit tree,
# and the package consumers cover a host linked at build time)
string(REPLACE "|" ";" WINE "${WINE}")
set(prefix ${BUILD_DIR}/install-test)
file(REMOVE_RECURSE ${prefix})

include(${CMAKE_CURRENT_LIST_DIR}/run.cmake)

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
foreach(f bin/tarnwick.dll bin/tarnwick-cli.exe include/tarnwick.h lib/libtarnwick.dll.a
          lib/tarnwick.lib lib/tarnwick.def lib/cmake/tarnwick/tarnwickConfig.cmake
          lib/cmake/tarnwick/tarnwickConfigVersion.cmake lib/pkgconfig/tarnwick.pc
          doc/LICENSE doc/README.md doc/api.md doc/examples/host.c
          virtual_peripheral/tarnwick.dll virtual_peripheral/tarnwick-cli.exe
          virtual_peripheral/vpwmm.dll virtual_peripheral/vpsetapi.dll
          virtual_peripheral/vperiph.dll virtual_peripheral/vperiph.vp
          virtual_peripheral/vperiph-registry.exe virtual_peripheral/README.md
          virtual_peripheral/redirect_imports.py
          virtual_peripheral/override/winmm.dll virtual_peripheral/override/setupapi.dll
          virtual_peripheral/wine/winevp.drv virtual_peripheral/wine/winevp.so
          virtual_peripheral/sdk/vperiph.h virtual_peripheral/sdk/libvperiph.dll.a)
  if(NOT EXISTS ${prefix}/${f})
    message(FATAL_ERROR "not installed: ${f}")
  endif()
endforeach()

set(flags -std=c99 -Wall -Wextra -Werror -static-libgcc -I${prefix}/include)
run(${C_COMPILER} ${flags} ${prefix}/doc/examples/host.c -L${prefix}/lib -ltarnwick
    -o ${prefix}/bin/host_linked.exe)
run(${C_COMPILER} ${flags} -DHOST_LOAD_AT_RUN_TIME ${prefix}/doc/examples/host.c
    -o ${prefix}/bin/host_loaded.exe)

if(FEW_RUNS)
  set(hosts_on_wine_own "")
  set(hosts_on_peripheral "")
else()
  set(hosts_on_wine_own host_linked host_loaded)
  set(hosts_on_peripheral host_linked host_loaded)
endif()

# Wine's own winmm and setupapi: nothing present, the probe line written.
foreach(host ${hosts_on_wine_own})
  run(${CMAKE_COMMAND} -E env --unset=WINEDLLOVERRIDES ${WINE} ${prefix}/bin/${host}.exe)
  expect("${out}" "entries of 1A2B:3C4D: 0\n" "${host}")
  expect("${out}" "\nAB\ndirect command: 0\n" "${host}")
endforeach()

# The shipped virtual peripheral beside the host, describing the demo device.
foreach(host ${hosts_on_peripheral})
  run_on_peripheral(${prefix} ${prefix}/bin/${host}.exe)
  expect("${out}" "${DEMO_HOST_OUTPUT}" "${host} on the virtual peripheral")
endforeach()

# tarnwick-cli from a folder whose path is longer than MAX_PATH still finds
# the library beside it (its own path is read whole).
if(NOT FEW_RUNS)
  set(deep ${prefix}/deep)
  string(LENGTH "${deep}" length)
  while(length LESS 300)
    string(APPEND deep "/a-folder-name-long-enough-to-matter")
    string(LENGTH "${deep}" length)
  endwhile()
  file(COPY ${prefix}/bin/tarnwick.dll ${prefix}/bin/tarnwick-cli.exe DESTINATION ${deep})
  run_on_peripheral(${prefix} ${deep}/tarnwick-cli.exe count 1A2B 3C4D)
  expect("${out}" "^VID 1A2B PID 3C4D: 2 entries\n$" "tarnwick-cli in a folder past MAX_PATH")
  file(REMOVE_RECURSE ${prefix}/deep)
  set(deep_runs 1)
else()
  set(deep_runs 0)
endif()
file(REMOVE ${prefix}/bin/vperiph.dll ${prefix}/bin/winmm.dll ${prefix}/bin/setupapi.dll)

# MSVC's linker (as lld-link) against tarnwick.lib, no C runtime at all.
find_program(CLANG NAMES clang clang-14 REQUIRED)
find_program(LLD_LINK NAMES lld-link lld-link-14 REQUIRED)
find_program(DLLTOOL NAMES llvm-dlltool llvm-dlltool-14 REQUIRED)
if(ARCH STREQUAL "x86_64")
  set(target x86_64-pc-windows-msvc)
  set(machine i386:x86-64)
  set(link_machine x64)
  set(kernel32 "ExitProcess\nGetStdHandle\nWriteFile\n")
else()
  set(target i686-pc-windows-msvc)
  set(machine i386)
  set(link_machine x86)
  set(kernel32 "ExitProcess@4\nGetStdHandle@4\nWriteFile@20\n")
endif()
set(work ${BUILD_DIR}/install-test-msvc)
file(WRITE ${work}/kernel32.def "LIBRARY kernel32.dll\nEXPORTS\n${kernel32}")
run(${DLLTOOL} -m ${machine} -k -d ${work}/kernel32.def -l ${work}/kernel32.lib)
run(${CLANG} --target=${target} -c -O1 -ffreestanding -fno-builtin -fno-stack-protector
    -I${prefix}/include ${SOURCE_DIR}/tests/install/msvc_link_check.c -o ${work}/check.obj)
run(${LLD_LINK} /nologo /nodefaultlib /entry:entry /subsystem:console /machine:${link_machine}
    ${work}/check.obj ${prefix}/lib/tarnwick.lib ${work}/kernel32.lib
    /out:${prefix}/bin/msvc_link_check.exe)
run(${CMAKE_COMMAND} -E env --unset=WINEDLLOVERRIDES ${WINE} ${prefix}/bin/msvc_link_check.exe)
expect("${out}" "count 0\nmulti 0\nentry 0\nAB\nsend 0\n" "host linked against tarnwick.lib")
# The release package: one ZIP for this architecture, laid out as installed.
file(REMOVE_RECURSE ${BUILD_DIR}/package)
run(${CMAKE_COMMAND} --build ${BUILD_DIR} --target release-zip)
file(GLOB zip ${BUILD_DIR}/package/tarnwick-*-${ARCH}.zip)
if(NOT zip)
  message(FATAL_ERROR "no ZIP package for ${ARCH}")
endif()
run(${CMAKE_COMMAND} -E tar tf ${zip})
foreach(f bin/tarnwick.dll include/tarnwick.h lib/tarnwick.lib lib/libtarnwick.dll.a
          lib/tarnwick.def lib/cmake/tarnwick/tarnwickConfig.cmake lib/pkgconfig/tarnwick.pc
          virtual_peripheral/tarnwick.dll virtual_peripheral/override/winmm.dll
          virtual_peripheral/wine/winevp.drv virtual_peripheral/wine/winevp.so doc/api.md
          doc/LICENSE)
  expect("${out}" "/${f}\n" "package ${zip}")
endforeach()
# Its checksum beside it, in the form sha256sum -c reads.
file(SHA256 ${zip} sum)
get_filename_component(zip_name ${zip} NAME)
file(READ ${zip}.sha256 written)
expect("${written}" "^${sum}  ${zip_name}" "${zip}.sha256")
list(LENGTH hosts_on_wine_own on_wine_own)
list(LENGTH hosts_on_peripheral on_peripheral)
math(EXPR runs "${on_wine_own} + ${on_peripheral} + ${deep_runs} + 1")
message("figure: sample hosts (${ARCH}): installed hosts run under Wine: ${runs}")
message(STATUS "installed, built and ran the sample hosts in ${prefix}; packaged ${zip}")
