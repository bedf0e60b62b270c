# Windows builds of the module from the same tree, each in its own build folder:
# the 32-bit Velvane.auf (i686) and the x86-64 DLL with its Windows test host.
include(ExternalProject)

find_program(VELVANE_MINGW32 i686-w64-mingw32-g++)
find_program(VELVANE_MINGW64 x86_64-w64-mingw32-g++)

if(VELVANE_MINGW32)
  ExternalProject_Add(velvane_win32
    SOURCE_DIR ${CMAKE_SOURCE_DIR}
    BINARY_DIR ${CMAKE_BINARY_DIR}/win32
    CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/mingw-i686.cmake
               -DCMAKE_BUILD_TYPE=Release -DVELVANE_TESTS=OFF -DVELVANE_BENCH=OFF
    BUILD_ALWAYS ON
    INSTALL_COMMAND "")
  set(VELVANE_AUF ${CMAKE_BINARY_DIR}/win32/src/Velvane.auf CACHE INTERNAL "")
  include(${CMAKE_CURRENT_LIST_DIR}/Release.cmake)
else()
  message(STATUS "i686-w64-mingw32-g++ not found: Velvane.auf is not built")
endif()

if(VELVANE_MINGW64)
  ExternalProject_Add(velvane_win64
    SOURCE_DIR ${CMAKE_SOURCE_DIR}
    BINARY_DIR ${CMAKE_BINARY_DIR}/win64
    CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/mingw-x86_64.cmake
               -DCMAKE_BUILD_TYPE=Release -DVELVANE_TESTS=OFF -DVELVANE_BENCH=OFF
    BUILD_ALWAYS ON
    INSTALL_COMMAND "")
  set(VELVANE_WIN64_DIR ${CMAKE_BINARY_DIR}/win64 CACHE INTERNAL "")
else()
  message(STATUS "x86_64-w64-mingw32-g++ not found: the Windows test host is not built")
endif()
