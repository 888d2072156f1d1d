# The source revision printed in the log and crash headers: the commit the
# build was configured from, forty zeros outside a git checkout.
set(KORVELLE_SOURCE_REVISION "0000000000000000000000000000000000000000")
find_package(Git QUIET)
if(GIT_FOUND)
  execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse HEAD
    WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
    OUTPUT_VARIABLE _rev OUTPUT_STRIP_TRAILING_WHITESPACE
    RESULT_VARIABLE _rc ERROR_QUIET)
  if(_rc EQUAL 0 AND _rev MATCHES "^[0-9a-f]+$")
    string(LENGTH "${_rev}" _len)
    if(_len EQUAL 40)
      set(KORVELLE_SOURCE_REVISION "${_rev}")
    endif()
  endif()
endif()
configure_file(${CMAKE_SOURCE_DIR}/cmake/build_info.h.in
  ${CMAKE_BINARY_DIR}/generated/build_info.h @ONLY)
