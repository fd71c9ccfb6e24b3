# The protections a distribution's packages get by default, for every target of the build.
include(CheckCXXCompilerFlag)
include(CheckCXXSourceCompiles)
include(CheckPIESupported)

if(WIN32)
  # ASLR with a high-entropy address space, DEP, and the stack protector. Its library is linked
  # in statically, DLLs included, so that nothing has to ship beside them.
  add_compile_options(-fstack-protector-strong)
  add_link_options(-static -fstack-protector-strong -Wl,--dynamicbase,--high-entropy-va,--nxcompat)
  set(ORVO_HARDENING "ASLR (high entropy), DEP, stack protector")
  return()
endif()

set(CMAKE_POSITION_INDEPENDENT_CODE ON)
check_pie_supported(LANGUAGES C CXX)
set(ORVO_HARDENING "PIE, full RELRO, stack protector")
add_compile_options(-fstack-protector-strong)
add_link_options(-Wl,-z,relro,-z,now)
foreach(_flag -fstack-clash-protection -fcf-protection)
  string(MAKE_C_IDENTIFIER "ORVO_HAS${_flag}" _var)
  check_cxx_compiler_flag(${_flag} ${_var})
  if(${_var})
    add_compile_options(${_flag})
    string(APPEND ORVO_HARDENING ", ${_flag}")
  endif()
endforeach()

# The C library checks buffer sizes only in optimised code, and the sanitizers check them better:
# level 3 where the compiler has it, else 2.
if(NOT ORVO_SANITIZE AND NOT ORVO_TSAN)
  set(CMAKE_REQUIRED_FLAGS "-O2 -D_FORTIFY_SOURCE=3")
  check_cxx_source_compiles("#include <cstring>
#if !defined(__USE_FORTIFY_LEVEL) || __USE_FORTIFY_LEVEL < 3
#error no level 3
#endif
int main() { return 0; }" ORVO_HAS_FORTIFY_3)
  unset(CMAKE_REQUIRED_FLAGS)
  if(ORVO_HAS_FORTIFY_3)
    set(_level 3)
  else()
    set(_level 2)
  endif()
  # Only in the optimised builds: without optimisation the C library would just warn.
  add_compile_options("$<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=${_level}>")
  string(APPEND ORVO_HARDENING ", _FORTIFY_SOURCE=${_level} (optimised builds)")
endif()
