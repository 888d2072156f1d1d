# The Debian package, made by CPack from the install rules (cmake/Install.cmake):
#   cpack --config build/CPackConfig.cmake -B <out>
# scripts/package.sh builds it from a release tree with Debian's hardening
# flags and checks it with lintian.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME korvelle)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Pelmora Software")
set(CPACK_PACKAGE_CONTACT "Pelmora Software <support@pelmora.software>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://pelmora.software)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
# Runtime libraries come from what the executable links (dpkg-shlibdeps).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "${KORVELLE_PACKAGE_DEPENDS}")
# File dialogs go through the desktop portal; links open with xdg-open.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-desktop-portal, xdg-utils")
# CPack indents the lines after the synopsis and turns the empty line into " .".
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "editor for one photo or one short video at a time
Pelmora Media Editor straightens, crops, adjusts and resizes photos and fits
them to a social platform's format; it cuts, joins and fades short video
clips and exports them as MP4 (H.264) or WebM (VP9). The original file is
never changed: every edit is a new version that can be undone.

It opens JPEG, PNG, WebP, HEIC, AVIF, TIFF, camera RAW files and the common
video containers, and speaks 44 languages.")

include(CPack)
