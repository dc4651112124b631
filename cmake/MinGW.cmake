# Shared by the two cross toolchains: Windows modules and programs built on Linux with Debian's
# mingw-w64. Include it after setting QUENVAR_MINGW_TRIPLE.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_VERSION 6.1)

# The posix thread model gives std::thread and std::mutex; its runtime (winpthread) is linked
# statically below like the C++ runtime, so nothing but system DLLs is imported.
set(CMAKE_C_COMPILER ${QUENVAR_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUENVAR_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QUENVAR_MINGW_TRIPLE}-windres)
# Named here, before project() looks for them, so that a missing one is reported with its package.
include(${CMAKE_CURRENT_LIST_DIR}/Requirements.cmake)
string(REGEX REPLACE "-.*" "" quenvar_mingw_architecture ${QUENVAR_MINGW_TRIPLE})
string(REPLACE "_" "-" quenvar_mingw_architecture ${quenvar_mingw_architecture})
quenvar_require_program(QUENVAR_MINGW_CXX NAMES ${CMAKE_CXX_COMPILER} DEBIAN g++-mingw-w64-${quenvar_mingw_architecture}-posix)
quenvar_require_program(QUENVAR_MINGW_WINDRES NAMES ${CMAKE_RC_COMPILER} DEBIAN binutils-mingw-w64-${quenvar_mingw_architecture})
set(CMAKE_FIND_ROOT_PATH /usr/${QUENVAR_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")
