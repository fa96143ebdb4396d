# Compiler and linker settings shared by every target of ours, also by the
# standalone memtool build that makes the 64-bit twin. Program code is compiled with
# code page 936 texts; pass ASCII_TEXTS for tests, which spell such bytes out in escapes
# (and include standard headers whose literals have no code page 936 form).
function(ramclean_target_defaults target)
  cmake_parse_arguments(D "ASCII_TEXTS" "" "" ${ARGN})
  target_compile_features(${target} PRIVATE cxx_std_20)
  target_compile_definitions(${target} PRIVATE
    WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601)
  if(MSVC)
    # Sources are UTF-8; texts go into the binary in code page 936.
    target_compile_options(${target} PRIVATE /W4 /source-charset:utf-8)
    if(NOT D_ASCII_TEXTS)
      target_compile_options(${target} PRIVATE /execution-charset:.936)
    endif()
    target_link_options(${target} PRIVATE /MANIFEST:NO)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra)
    if(NOT D_ASCII_TEXTS)
      target_compile_options(${target} PRIVATE -fexec-charset=GBK)
    endif()
    # One self-contained file: no libgcc, libstdc++ or winpthread DLLs.
    target_link_options(${target} PRIVATE -static)
  endif()
endfunction()
