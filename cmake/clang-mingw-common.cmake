# Cross toolchain: Clang and LLD for the MinGW-w64 targets, over the same MinGW-w64 runtime,
# headers and import libraries as the GCC toolchain (mingw-w64-common.cmake), whose
# settings it takes and whose resource compiler (windres) it keeps. The including file
# sets KESTREL_MINGW_PREFIX and CMAKE_SYSTEM_PROCESSOR.
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${KESTREL_MINGW_PREFIX})
set(CMAKE_CXX_COMPILER_TARGET ${KESTREL_MINGW_PREFIX})

# Clang 14 does not find the runtime of Debian's posix-thread GCC (its folder is named
# 12-posix): name its C++ headers and its libraries (libstdc++, libgcc). That libstdc++
# calls winpthread, which GCC's driver links and Clang's does not; LLD takes archives in
# any order, so -lpthread may come first (static when the target links with -static).
set(_kestrel_gcc_dir /usr/lib/gcc/${KESTREL_MINGW_PREFIX}/12-posix)
set(CMAKE_CXX_FLAGS_INIT "-isystem ${_kestrel_gcc_dir}/include/c++ -isystem ${_kestrel_gcc_dir}/include/c++/${KESTREL_MINGW_PREFIX}")
# LLD writes a PDB beside each binary from the CodeView debug information it is given, and
# the binary names it by file name only: no build path in what is shipped.
foreach(_kestrel_kind EXE SHARED MODULE)
  set(CMAKE_${_kestrel_kind}_LINKER_FLAGS_INIT
      "-fuse-ld=lld -L${_kestrel_gcc_dir} -lpthread -Wl,--pdb= -Wl,--Xlink=-pdbaltpath:%_PDB%")
endforeach()
