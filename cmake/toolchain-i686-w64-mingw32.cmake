# Cross toolchain for 32-bit Windows (the hosts that load only 32-bit controls: VB6, 32-bit Office).
set(CMAKE_SYSTEM_PROCESSOR x86)
set(QUENVAR_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/MinGW.cmake)
