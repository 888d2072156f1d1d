# korvelle_i18n_tables(<target>): generates the translation tables from the
# data files in src/core/i18n/ with tools/i18n_gen.cpp and compiles them into
# <target>. Editing a data file, or adding one, regenerates them.
function(korvelle_i18n_tables target)
  set(_dir ${PROJECT_SOURCE_DIR}/src/core/i18n)
  set(_out ${CMAKE_BINARY_DIR}/generated/i18n_data.cpp)

  add_executable(korvelle_i18n_gen ${PROJECT_SOURCE_DIR}/tools/i18n_gen.cpp
    ${PROJECT_SOURCE_DIR}/src/core/i18n_file.cpp)
  target_include_directories(korvelle_i18n_gen PRIVATE ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(korvelle_i18n_gen PRIVATE korvelle_warnings)
  # A build step, not part of the program: sanitizer builds must not depend
  # on a sanitizer runtime working inside the build.
  target_compile_options(korvelle_i18n_gen PRIVATE -fno-sanitize=all)
  target_link_options(korvelle_i18n_gen PRIVATE -fno-sanitize=all)

  file(GLOB _data CONFIGURE_DEPENDS ${_dir}/*.txt)
  # The listing changes (and only then is rewritten) when a data file comes or
  # goes, so removing one regenerates the tables too.
  set(_listing ${CMAKE_BINARY_DIR}/generated/i18n_files.txt)
  string(REPLACE ";" "\n" _names "${_data}")
  file(CONFIGURE OUTPUT ${_listing} CONTENT "${_names}\n" @ONLY)
  add_custom_command(OUTPUT ${_out}
    COMMAND korvelle_i18n_gen ${_dir} ${_out}
    DEPENDS korvelle_i18n_gen ${_data} ${_listing}
    COMMENT "Generating the translation tables"
    VERBATIM)
  target_sources(${target} PRIVATE ${_out})
endfunction()
