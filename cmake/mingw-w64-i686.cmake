# Cross toolchain: MinGW-w64, 32-bit (x86). Its programs cannot run on these machines
# (no 32-bit support in the kernel): the x86 build is compiled and checked, not run.
set(KESTREL_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
