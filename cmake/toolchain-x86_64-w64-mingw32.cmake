# Cross toolchain for 64-bit Windows (64-bit hosts: 64-bit Office, 64-bit script hosts).
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(QUENVAR_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/MinGW.cmake)
