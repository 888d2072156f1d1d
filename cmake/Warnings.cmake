# Warnings apply to the program's own targets only (korvelle_warnings is
# linked privately by every subsystem, test, benchmark and fuzz target).
# -Wshadow=local is GCC's spelling; clang (fuzz and sanitizer builds) lacks it.
add_library(korvelle_warnings INTERFACE)
target_compile_options(korvelle_warnings INTERFACE
  -Wall -Wextra -Wpedantic $<$<CXX_COMPILER_ID:GNU>:-Wshadow=local> -Wnon-virtual-dtor -Wcast-align
  -Wformat=2 -Wimplicit-fallthrough -Wno-missing-field-initializers)
if(KORVELLE_WERROR)
  target_compile_options(korvelle_warnings INTERFACE -Werror)
endif()
