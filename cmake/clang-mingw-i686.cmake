# Cross toolchain: Clang and LLD for MinGW-w64, 32-bit (x86); compiled and checked here,
# not run (no 32-bit support in these machines' kernel).
set(KESTREL_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/clang-mingw-common.cmake)
