if(KORVELLE_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(KORVELLE_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT KORVELLE_SANITIZE STREQUAL "")
  message(FATAL_ERROR "KORVELLE_SANITIZE must be empty, address or thread")
endif()

# Fuzz builds give every library libFuzzer's coverage instrumentation, so the
# fuzzer is guided by the branches of the parsers it drives and not only by
# its own entry point.
# The customary macro lets code lower limits that are right for users but
# too slow per fuzz input (the image loader's largest accepted picture).
if(KORVELLE_FUZZ AND CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  add_compile_options(-fsanitize=fuzzer-no-link)
  add_compile_definitions(FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION)
endif()
