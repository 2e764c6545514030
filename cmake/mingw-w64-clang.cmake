# Shared by the clang toolchain files, which set TOOLCHAIN_PREFIX and the
# processor: clang targeting MinGW-w64 and linking with lld, against MinGW
# GCC's headers, C++ headers, C runtime and libgcc. A second compiler for the
# library.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${TOOLCHAIN_PREFIX})
set(CMAKE_CXX_COMPILER_TARGET ${TOOLCHAIN_PREFIX})
set(CMAKE_RC_COMPILER ${TOOLCHAIN_PREFIX}-windres)
set(CMAKE_SYSROOT /usr/${TOOLCHAIN_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# clang does not find MinGW GCC's libstdc++ headers and libgcc on its own:
# GCC says where they are.
execute_process(COMMAND ${TOOLCHAIN_PREFIX}-g++-posix -x c++ -E -v -
                INPUT_FILE /dev/null OUTPUT_QUIET ERROR_VARIABLE gcc_says)
string(REGEX MATCHALL "[^\n ]*/include/c\\+\\+[^\n ]*" cxx_headers "${gcc_says}")
set(CMAKE_CXX_STANDARD_INCLUDE_DIRECTORIES ${cxx_headers})
execute_process(COMMAND ${TOOLCHAIN_PREFIX}-gcc-posix -print-libgcc-file-name
                OUTPUT_VARIABLE libgcc OUTPUT_STRIP_TRAILING_WHITESPACE)
get_filename_component(libgcc_dir "${libgcc}" DIRECTORY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-fuse-ld=lld -L${libgcc_dir}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-fuse-ld=lld -L${libgcc_dir}")
