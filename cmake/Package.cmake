# The command for users: `cmake --install` puts `velvane` and its manual page
# beside the library (cmake/Install.cmake), and `cpack -G DEB` makes one
# Debian package of it all, its dependencies found by dpkg-shlibdeps under
# their Debian package names, so that `apt install ./velvane_*.deb` pulls
# them in.
if(NOT TARGET velvane)
  return()
endif()
include(GNUInstallDirs)

install(TARGETS velvane RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The manual page, compressed as Debian keeps them (-n: the same bytes on
# every build).
configure_file(${CMAKE_SOURCE_DIR}/packaging/velvane.1 ${CMAKE_BINARY_DIR}/velvane.1 @ONLY)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/velvane.1.gz
                   COMMAND gzip -9 -n -c ${CMAKE_BINARY_DIR}/velvane.1 > ${CMAKE_BINARY_DIR}/velvane.1.gz
                   DEPENDS ${CMAKE_BINARY_DIR}/velvane.1 VERBATIM)
add_custom_target(velvane_manual ALL DEPENDS ${CMAKE_BINARY_DIR}/velvane.1.gz)
install(FILES ${CMAKE_BINARY_DIR}/velvane.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/velvane RENAME copyright)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "the Velvane developers")
set(CPACK_PACKAGE_CONTACT "the Velvane developers")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "noise reducer for captured interlaced standard-definition video")
# The summary above is its first line; an empty line parts paragraphs.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "velvane removes dot interference and grain from PAL and NTSC captures while
keeping edges and motion sharp. It reads media files through FFmpeg's
libraries or YUV4MPEG2 streams, and writes Matroska, QuickTime, AVI or MP4
with the sound kept, or YUV4MPEG2.

The package also holds libvelvane, the C library the command is built on,
with its header, a pkg-config file and a CMake package.")
include(CPack)
