# Windows builds of the module from the same tree, each in its own build folder:
# the 32-bit Velvane.auf (i686) with the 32-bit Linux host that runs it under
# qemu-i386, and the x86-64 DLL with its Windows test host.
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

  # Asked again at every configuration until it works (the packages may come later).
  if(NOT VELVANE_STATIC_M32)
    unset(VELVANE_STATIC_M32 CACHE)
  endif()
  include(CheckCXXSourceCompiles)
  set(CMAKE_REQUIRED_FLAGS -m32)
  set(CMAKE_REQUIRED_LINK_OPTIONS -m32 -static)
  check_cxx_source_compiles("#include <string>\nint main(int c, char **) { return (int)std::string(c, 'x').size(); }"
                            VELVANE_STATIC_M32)
  unset(CMAKE_REQUIRED_FLAGS)
  unset(CMAKE_REQUIRED_LINK_OPTIONS)
  if(VELVANE_STATIC_M32)
    ExternalProject_Add(velvane_auf32
      SOURCE_DIR ${CMAKE_SOURCE_DIR}/auf32
      BINARY_DIR ${CMAKE_BINARY_DIR}/auf32
      CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/linux-i686.cmake -DCMAKE_BUILD_TYPE=RelWithDebInfo
      BUILD_ALWAYS ON
      INSTALL_COMMAND "")
  else()
    message(STATUS "g++ -m32 cannot link static programs: the 32-bit host for Velvane.auf is not built")
  endif()
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
