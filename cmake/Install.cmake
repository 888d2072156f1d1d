# What `cmake --install` puts into a prefix, and the Debian package made of it
# (cmake/Packaging.cmake):
#   bin/korvelle
#   share/Korvelle/assets/           fonts and the mark, found through bin/../share/Korvelle
#   share/applications/, share/metainfo/, share/mime/packages/   desktop entry, AppStream, RAW types
#   share/icons/hicolor/<n>x<n>/apps/ the mark at 48 … 512 px
#   share/man/man1/korvelle.1.gz, share/doc/korvelle/{copyright,changelog.gz}
include(GNUInstallDirs)

# One name for the desktop entry, the AppStream component and the icon, so the
# desktop ties them together.
set(KORVELLE_APP_ID software.pelmora.Korvelle)
set(_dist ${PROJECT_SOURCE_DIR}/dist)

install(TARGETS korvelle RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The asset lookup tries <exe>/../share/Korvelle first of the fixed places, so
# this layout works under any prefix.
set(_assets ${CMAKE_INSTALL_DATADIR}/Korvelle/assets)
# Debian ships DejaVu Sans already: its package links to those files (the
# lookup follows links) and depends on fonts-dejavu-core instead of copying.
option(KORVELLE_SYSTEM_DEJAVU "Install DejaVu Sans as links into ${KORVELLE_DEJAVU_DIR}" OFF)
if(KORVELLE_SYSTEM_DEJAVU)
  install(DIRECTORY ${KORVELLE_ASSET_OUT}/ DESTINATION ${_assets} PATTERN "DejaVuSans*.ttf" EXCLUDE)
  # Relative, as Debian wants links inside /usr.
  file(RELATIVE_PATH _to_dejavu ${CMAKE_INSTALL_FULL_DATADIR}/Korvelle/assets/fonts ${KORVELLE_DEJAVU_DIR})
  foreach(_font DejaVuSans.ttf DejaVuSans-Bold.ttf)
    install(CODE "file(CREATE_LINK ${_to_dejavu}/${_font}
      \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${_assets}/fonts/${_font}\" SYMBOLIC)")
  endforeach()
  set(KORVELLE_PACKAGE_DEPENDS fonts-dejavu-core)
else()
  install(DIRECTORY ${KORVELLE_ASSET_OUT}/ DESTINATION ${_assets})
  set(KORVELLE_PACKAGE_DEPENDS "")
endif()

foreach(_size 48 64 128 256 512)
  install(FILES ${KORVELLE_ASSET_OUT}/icon/icon_${_size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${_size}x${_size}/apps
          RENAME ${KORVELLE_APP_ID}.png)
endforeach()
install(FILES ${_dist}/${KORVELLE_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${_dist}/${KORVELLE_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${_dist}/${KORVELLE_APP_ID}.mime.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages
        RENAME ${KORVELLE_APP_ID}.xml)

# Manual page and changelog compressed the way Debian wants them: maximum
# compression, no name or time stamp in the header (reproducible).
find_program(KORVELLE_GZIP gzip REQUIRED)
set(_gz_dir ${CMAKE_BINARY_DIR}/dist)
file(MAKE_DIRECTORY ${_gz_dir})
set(_gz_files)
foreach(_pair "korvelle.1;korvelle.1.gz" "changelog;changelog.gz")
  list(GET _pair 0 _in)
  list(GET _pair 1 _out)
  add_custom_command(OUTPUT ${_gz_dir}/${_out}
    COMMAND sh -c "${KORVELLE_GZIP} -9 -n -c \"$0\" > \"$1\"" ${_dist}/${_in} ${_gz_dir}/${_out}
    DEPENDS ${_dist}/${_in}
    VERBATIM)
  list(APPEND _gz_files ${_gz_dir}/${_out})
endforeach()
add_custom_target(korvelle_dist_files ALL DEPENDS ${_gz_files})
install(FILES ${_gz_dir}/korvelle.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${_dist}/copyright ${_gz_dir}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})

include(cmake/Packaging.cmake)
