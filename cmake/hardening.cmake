# Every image we ship is stripped and hardened: ASLR with relocations, NX;
# 64-bit images high-entropy ASLR (the linkers place them above 4 GB); EXEs
# large-address aware; 32-bit images marked as installing no structured
# exception handler, which holds because nothing linked into them writes a
# frame-based handler into %fs:0 (the compilers unwind with DWARF tables, and
# the hardening test checks the code). tests/release/hardening_test.py checks
# each file.
#
# tarnwick_shipped_image(TARGET [STACK_PROTECTOR]): STACK_PROTECTOR only for
# an image that imports ADVAPI32 anyway, where the protector's guard comes
# from: it must add no DLL to the imports.
function(tarnwick_shipped_image target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "STACK_PROTECTOR" "" "")
  if(NOT TARNWICK_GCC_LIKE)
    return()
  endif()
  set(flags -s -Wl,--dynamicbase -Wl,--nxcompat)
  if(TARNWICK_ARCH STREQUAL "x86_64")
    list(APPEND flags -Wl,--high-entropy-va)
  else()
    list(APPEND flags -Wl,--no-seh)
  endif()
  # 64-bit EXEs are large-address aware always, and ld takes no option for it.
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "EXECUTABLE" AND TARNWICK_ARCH STREQUAL "i686")
    list(APPEND flags -Wl,--large-address-aware)
  endif()
  target_link_options(${target} PRIVATE ${flags})
  if(arg_STACK_PROTECTOR)
    target_compile_options(${target} PRIVATE -fstack-protector-strong)
    target_link_options(${target} PRIVATE -fstack-protector-strong)
  endif()
endfunction()
