# Cross toolchain: Clang and LLD for MinGW-w64, 64-bit (x64).
set(KESTREL_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/clang-mingw-common.cmake)
