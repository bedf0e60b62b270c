# The release package: Velvane.auf, the guide for Windows users and the
# licence in one zip, build/release/Velvane-<version>.zip. Built with the rest
# (and alone with `cmake --build build --target release`).
set(VELVANE_RELEASE_DIR ${CMAKE_BINARY_DIR}/release)
set(VELVANE_RELEASE_STAGE ${VELVANE_RELEASE_DIR}/Velvane-${PROJECT_VERSION})
set(VELVANE_RELEASE_ZIP ${VELVANE_RELEASE_DIR}/Velvane-${PROJECT_VERSION}.zip CACHE INTERNAL "")

# Windows line ends for the texts.
configure_file(${CMAKE_SOURCE_DIR}/packaging/Velvane.txt ${VELVANE_RELEASE_STAGE}/Velvane.txt @ONLY NEWLINE_STYLE CRLF)
configure_file(${CMAKE_SOURCE_DIR}/LICENSE ${VELVANE_RELEASE_STAGE}/LICENSE.txt @ONLY NEWLINE_STYLE CRLF)

add_custom_target(release ALL
  COMMAND ${CMAKE_COMMAND} -E copy ${VELVANE_AUF} ${VELVANE_RELEASE_STAGE}/Velvane.auf
  COMMAND ${CMAKE_COMMAND} -E rm -f ${VELVANE_RELEASE_ZIP}
  COMMAND ${CMAKE_COMMAND} -E tar cf ${VELVANE_RELEASE_ZIP} --format=zip Velvane.auf Velvane.txt LICENSE.txt
  WORKING_DIRECTORY ${VELVANE_RELEASE_STAGE}
  BYPRODUCTS ${VELVANE_RELEASE_ZIP}
  COMMENT "Packing ${VELVANE_RELEASE_ZIP}"
  VERBATIM)
add_dependencies(release velvane_win32)
