# Cross toolchain: Clang and LLD for MinGW-w64 on ARM64 (aarch64-w64-mingw32). Debian ships no
# MinGW-w64 runtime for ARM64, so the target's headers and libraries are the sysroot that
# scripts/mingw-arm64-sysroot.sh makes from Debian's sources (scripts/install-deps.sh runs
# it): the CRT and import libraries, compiler-rt's builtins, libunwind and libc++ (static).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(KESTREL_MINGW_PREFIX aarch64-w64-mingw32)
execute_process(COMMAND ${CMAKE_CURRENT_LIST_DIR}/../scripts/mingw-arm64-sysroot.sh --path
                OUTPUT_VARIABLE CMAKE_SYSROOT OUTPUT_STRIP_TRAILING_WHITESPACE
                COMMAND_ERROR_IS_FATAL ANY)
if(NOT EXISTS ${CMAKE_SYSROOT}/.kestrel-sysroot-stamp)
  message(FATAL_ERROR "No ${KESTREL_MINGW_PREFIX} sysroot in ${CMAKE_SYSROOT}: "
                      "scripts/mingw-arm64-sysroot.sh makes it")
endif()
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${KESTREL_MINGW_PREFIX})
set(CMAKE_CXX_COMPILER_TARGET ${KESTREL_MINGW_PREFIX})
# LLVM's windres writes ARM64 objects; its preprocessor is Clang, given the sysroot's headers.
find_program(CMAKE_RC_COMPILER NAMES llvm-windres-14 llvm-windres REQUIRED)
set(CMAKE_RC_FLAGS_INIT "--target=${KESTREL_MINGW_PREFIX} -I${CMAKE_SYSROOT}/include")

set(CMAKE_FIND_ROOT_PATH ${CMAKE_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The sysroot's runtimes rather than GCC's: libc++ (with libc++abi), libunwind, and
# compiler-rt's builtins, which the driver finds in the sysroot's Clang resource folder.
set(CMAKE_CXX_FLAGS_INIT "-stdlib=libc++")
# LLD writes a PDB beside each binary from the CodeView debug information it is given, and
# the binary names it by file name only: no build path in what is shipped.
foreach(_kestrel_kind EXE SHARED MODULE)
  set(CMAKE_${_kestrel_kind}_LINKER_FLAGS_INIT "-fuse-ld=lld -resource-dir=${CMAKE_SYSROOT}/clang \
-rtlib=compiler-rt -unwindlib=libunwind -Wl,--pdb= -Wl,--Xlink=-pdbaltpath:%_PDB%")
endforeach()
