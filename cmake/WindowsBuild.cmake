# The Windows build: quenvar.ocx as a COM in-process server and its tests, run under Wine.
# No Qt here: the core (control's link layer, codes, checks, commands and the plain parts of
# platform/automation) is built as it is, and each Windows edge lives in a windows/ folder.

# No hot/cold splitting of functions on 32-bit. There exceptions unwind by DWARF frame entries,
# which libgcc finds by binary search over their start addresses; at -O2 g++ may leave a
# function's cold part empty yet describe it by an entry of zero length, and such an entry
# lying where another function's code starts can hide that function's entry: an exception
# passing through it finds no frame and the program aborts (tests/windows/unwinding checks).
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  add_compile_options(-fno-reorder-blocks-and-partition)
endif()

# GoogleTest from Debian's sources, built with this toolchain.
quenvar_require_path(/usr/src/googletest WHAT "The sources of GoogleTest" DEBIAN googletest)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
enable_testing()
include(${CMAKE_CURRENT_LIST_DIR}/WineTests.cmake)

# x10sim runs on the Linux side of the Wine tests: the path of the Linux build's program.
set(QUENVAR_X10SIM "${PROJECT_SOURCE_DIR}/build/bin/x10sim" CACHE FILEPATH
    "x10sim of the Linux build, the interface the Wine tests talk to behind COM1")

add_subdirectory(platform/automation)
add_subdirectory(platform/automation/windows)
add_subdirectory(platform/serial/windows)
add_subdirectory(platform/ui/windows)
add_subdirectory(control)
add_subdirectory(control/windows)
add_subdirectory(sample)
add_subdirectory(tests/windows)
add_subdirectory(bench/windows)
