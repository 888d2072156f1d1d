# korvelle_subsystem(<name> [DEPS targets...])
# One static library per source folder, built from every .cpp in it (main.cpp
# excepted). New modules need no CMake edit: dropping foo.cpp/foo.h into the
# folder is enough.
function(korvelle_subsystem name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB _srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${name}/*.cpp)
  list(FILTER _srcs EXCLUDE REGEX "/main\\.cpp$")
  if(NOT _srcs)
    # A folder whose modules have not been written yet still yields a library,
    # so that the dependency graph below never changes shape.
    set(_stub ${CMAKE_CURRENT_BINARY_DIR}/${name}_empty.cpp)
    file(WRITE ${_stub} "// no modules yet\n")
    set(_srcs ${_stub})
  endif()
  add_library(korvelle_${name} STATIC ${_srcs})
  add_library(korvelle::${name} ALIAS korvelle_${name})
  target_include_directories(korvelle_${name} PUBLIC ${PROJECT_SOURCE_DIR}/src ${CMAKE_BINARY_DIR}/generated)
  target_link_libraries(korvelle_${name} PRIVATE korvelle_warnings PUBLIC ${ARG_DEPS})
endfunction()
