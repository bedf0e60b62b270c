# cmake --install: the library's header, libvelvane.so and libvelvane.a, a
# pkg-config file and a CMake package, so that programs outside the tree build
# with `pkg-config --cflags --libs velvane` or `find_package(velvane)`.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

foreach(t velvane_shared velvane_static)
  target_include_directories(${t} INTERFACE $<BUILD_INTERFACE:${CMAKE_SOURCE_DIR}/include>
                                            $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
endforeach()
# The library is C++ inside: a C program linking the archive needs its runtime.
target_link_libraries(velvane_static INTERFACE stdc++ m Threads::Threads)
set_target_properties(velvane_shared PROPERTIES EXPORT_NAME velvane)
set_target_properties(velvane_static PROPERTIES EXPORT_NAME velvane_static)

install(TARGETS velvane_shared velvane_static EXPORT velvaneTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${CMAKE_SOURCE_DIR}/include/velvane/velvane.h ${CMAKE_SOURCE_DIR}/include/velvane/velvane.hpp
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/velvane)

set(VELVANE_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/velvane)
install(EXPORT velvaneTargets NAMESPACE velvane:: DESTINATION ${VELVANE_CMAKE_DIR})
configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/velvaneConfig.cmake.in
                              ${CMAKE_BINARY_DIR}/velvaneConfig.cmake INSTALL_DESTINATION ${VELVANE_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/velvaneConfigVersion.cmake COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_BINARY_DIR}/velvaneConfig.cmake ${CMAKE_BINARY_DIR}/velvaneConfigVersion.cmake
        DESTINATION ${VELVANE_CMAKE_DIR})

# The prefix is found from where the file lies, so an installed copy may be moved.
file(RELATIVE_PATH VELVANE_PC_PREFIX /root/${CMAKE_INSTALL_LIBDIR}/pkgconfig /root)
configure_file(${CMAKE_SOURCE_DIR}/cmake/velvane.pc.in ${CMAKE_BINARY_DIR}/velvane.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/velvane.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
