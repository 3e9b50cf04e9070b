include(GNUInstallDirs)

# Ships target with its debug information apart (installed as component Debug), so that a
# crash in a client can still be read. Call it where the target is defined.
# - Clang and LLD (cmake/clang-mingw-common.cmake): the PDB that LLD writes beside the
#   binary, which the binary names by file name. LLD also copies in the DWARF of the
#   MinGW-w64 runtime's objects, which the PDB does not need: it is stripped.
# - GCC for Windows, and Linux: <file>.debug beside the binary, which the stripped binary
#   names through a debug link. On Linux it is installed under the binary's build id
#   (lib/debug/.build-id/xx/rest.debug, where debuggers look for it).
function(kestrel_split_debug_info target)
  if(MSVC)
    return()  # MSVC keeps debug information in PDB files already
  endif()
  if(WIN32 AND CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${CMAKE_OBJCOPY} --strip-debug $<TARGET_FILE:${target}> VERBATIM)
    install(FILES $<TARGET_FILE_DIR:${target}>/$<TARGET_FILE_BASE_NAME:${target}>.pdb
            DESTINATION ${CMAKE_INSTALL_BINDIR}/${KESTREL_ARCH} COMPONENT Debug)
    return()
  endif()
  if(WIN32)
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${CMAKE_OBJCOPY} --only-keep-debug $<TARGET_FILE:${target}> $<TARGET_FILE:${target}>.debug
      COMMAND ${CMAKE_OBJCOPY} --strip-all --add-gnu-debuglink=$<TARGET_FILE:${target}>.debug
              $<TARGET_FILE:${target}>
      VERBATIM)
    install(FILES $<TARGET_FILE:${target}>.debug
            DESTINATION ${CMAKE_INSTALL_BINDIR}/${KESTREL_ARCH} COMPONENT Debug)
  else()
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${CMAKE_COMMAND} -DOBJCOPY=${CMAKE_OBJCOPY} -DREADELF=${CMAKE_READELF}
              -DBINARY=$<TARGET_FILE:${target}> -P ${PROJECT_SOURCE_DIR}/cmake/split_debug_linux.cmake
      VERBATIM)
    install(CODE "set(READELF \"${CMAKE_READELF}\")
                  set(BINARY \"$<TARGET_FILE:${target}>\")
                  include(\"${PROJECT_SOURCE_DIR}/cmake/install_debug_linux.cmake\")"
            COMPONENT Debug)
  endif()
endfunction()

# Checks a shipped binary as soon as it is made (after kestrel_split_debug_info); a binary
# that fails is not left to be packed or run.
# - Windows (cmake/check_shipped.cmake): its machine type, no DWARF and no build path
#   inside, and in a Clang build the PDB it names; with EXPORTS (the DLL), exactly the ten
#   undecorated exports and only system imports.
# - Linux (cmake/check_shipped_linux.cmake): stripped, its debug file beside it under the
#   same build id, no build path inside, nothing needed but the C and C++ runtimes; with
#   EXPORTS, the soname of the interface's major version and exactly the ten functions in
#   the dynamic symbol table. A sanitized build's
#   binaries hold source paths for the sanitizers' reports: that one is not checked there.
# GNU's objdump reads the Windows binaries: MinGW-w64's both x86 machine types, the aarch64
# one ARM64. (Linux binaries are read by the toolchain's own nm and readelf.)
if(WIN32 AND KESTREL_ARCH STREQUAL "arm64")
  find_program(KESTREL_OBJDUMP aarch64-linux-gnu-objdump REQUIRED)
elseif(WIN32)
  find_program(KESTREL_OBJDUMP x86_64-w64-mingw32-objdump)
endif()
function(kestrel_check_shipped target)
  set(exports OFF)
  if("EXPORTS" IN_LIST ARGN)
    set(exports ON)
  endif()
  if(NOT WIN32)
    set(sanitized OFF)
    if(KESTREL_SANITIZE)
      set(sanitized ON)
    endif()
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${CMAKE_COMMAND} -DNM=${CMAKE_NM} -DREADELF=${CMAKE_READELF}
              -DBINARY=$<TARGET_FILE:${target}> -DEXPORTS=${exports} -DSANITIZED=${sanitized}
              -DSONAME=lib${target}.so.${PROJECT_VERSION_MAJOR}
              "-DPATHS=${PROJECT_SOURCE_DIR}$<SEMICOLON>${PROJECT_BINARY_DIR}"
              -P ${PROJECT_SOURCE_DIR}/cmake/check_shipped_linux.cmake
      VERBATIM)
    return()
  endif()
  if(MSVC OR NOT KESTREL_OBJDUMP)
    return()
  endif()
  set(format_x64 pei-x86-64)
  set(format_x86 pei-i386)
  set(format_arm64 pei-aarch64-little)  # machine 0xAA64 (not ARM64EC's 0xA641)
  set(format ${format_${KESTREL_ARCH}})
  set(pdb OFF)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    set(pdb ON)
  endif()
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${KESTREL_OBJDUMP} -DBINARY=$<TARGET_FILE:${target}>
            -DFORMAT=${format} -DEXPORTS=${exports} -DPDB=${pdb}
            "-DPATHS=${PROJECT_SOURCE_DIR}$<SEMICOLON>${PROJECT_BINARY_DIR}"
            -P ${PROJECT_SOURCE_DIR}/cmake/check_shipped.cmake
    VERBATIM)
endfunction()
