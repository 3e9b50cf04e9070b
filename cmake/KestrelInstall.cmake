# cmake --install lays the package out, with one include/ and one package config for both
# platforms. Binaries are shipped stripped; their debug information is component Debug
# (kestrel_split_debug_info, cmake/KestrelShip.cmake).
# - Windows: each architecture's binaries in folders of its own, bin/<arch> (the DLL,
#   mmdrctl) and lib/<arch> (the import libraries and the CMake targets); the package
#   config picks the consumer's architecture and ABI. The x64 and x86 builds install
#   into the same prefix. Debug: a PDB per binary with Clang, <binary>.debug with GCC.
# - Linux: lib/libkestrelCliLib.so.2.1.0 with its soname link (and the development link
#   libkestrelCliLib.so), bin/mmdrctl and its manual page, the CMake targets in
#   lib/cmake/kestrelCliLib/x64, and lib/pkgconfig/kestrelCliLib.pc. Debug:
#   lib/debug/.build-id/xx/<rest>.debug. The Debian packages (debian/) take the same
#   files in Debian's multiarch layout, lib/<multiarch>/ (KESTREL_MULTIARCH_LIBDIR), from
#   component Debian, which only `cmake --install --component Debian` installs.
include(CMakePackageConfigHelpers)
set(KESTREL_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/kestrelCliLib)
if(WIN32)
  set(bindir ${CMAKE_INSTALL_BINDIR}/${KESTREL_ARCH})
  set(libdir ${CMAKE_INSTALL_LIBDIR}/${KESTREL_ARCH})
else()
  set(bindir ${CMAKE_INSTALL_BINDIR})
  set(libdir ${CMAKE_INSTALL_LIBDIR})
endif()

# Two import libraries: libkestrelCliLib.dll.a from the link, for MinGW-w64 consumers, and
# kestrelCliLib.lib in the short format Microsoft's linker reads, written from the export
# list. For x86 it gives each export the name a __cdecl caller links against (_Mmdr_Init).
if(WIN32 AND NOT MSVC)
  find_program(KESTREL_DLLTOOL llvm-dlltool REQUIRED)
  set(machine_x64 i386:x86-64)
  set(machine_x86 i386)
  set(machine_arm64 arm64)
  set(machine ${machine_${KESTREL_ARCH}})
  set(def ${PROJECT_SOURCE_DIR}/src/interface/kestrelCliLib.def)
  set(msvc_implib ${CMAKE_BINARY_DIR}/lib/kestrelCliLib.lib)
  add_custom_command(OUTPUT ${msvc_implib} DEPENDS ${def}
    COMMAND ${KESTREL_DLLTOOL} -m ${machine} -d ${def} -l ${msvc_implib} VERBATIM)
  add_custom_target(kestrelCliLib_msvc_implib ALL DEPENDS ${msvc_implib})
  install(FILES ${msvc_implib} DESTINATION ${libdir} COMPONENT Development)
endif()

install(TARGETS kestrelCliLib EXPORT kestrelCliLibTargets
        RUNTIME DESTINATION ${bindir} COMPONENT Runtime
        LIBRARY DESTINATION ${libdir} COMPONENT Runtime NAMELINK_COMPONENT Development
        ARCHIVE DESTINATION ${libdir} COMPONENT Development)
if(TARGET mmdrctl)
  install(TARGETS mmdrctl RUNTIME DESTINATION ${bindir} COMPONENT Runtime)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/include/kestrelCliLib.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT Development)
install(EXPORT kestrelCliLibTargets NAMESPACE kestrelCliLib::
        DESTINATION ${KESTREL_INSTALL_CMAKEDIR}/${KESTREL_ARCH} COMPONENT Development)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/kestrelCliLibConfig.cmake.in
  ${CMAKE_BINARY_DIR}/kestrelCliLibConfig.cmake INSTALL_DESTINATION ${KESTREL_INSTALL_CMAKEDIR})
# Same major version = same interface version; either architecture may be asked for.
write_basic_package_version_file(${CMAKE_BINARY_DIR}/kestrelCliLibConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion ARCH_INDEPENDENT)
install(FILES ${CMAKE_BINARY_DIR}/kestrelCliLibConfig.cmake
              ${CMAKE_BINARY_DIR}/kestrelCliLibConfigVersion.cmake
        DESTINATION ${KESTREL_INSTALL_CMAKEDIR} COMPONENT Development)
if(NOT WIN32)
  # pkg-config's file finds the prefix from its own place, so the archive unpacks anywhere
  # (and the Debian packages into a scratch root as well as into /).
  function(kestrel_install_pc libdir component)  # ARGN: more install options
    file(RELATIVE_PATH KESTREL_PC_TO_PREFIX /${libdir}/pkgconfig /)
    string(REGEX REPLACE "/$" "" KESTREL_PC_TO_PREFIX ${KESTREL_PC_TO_PREFIX})
    set(KESTREL_PC_LIBDIR ${libdir})
    set(pc ${CMAKE_BINARY_DIR}/pkgconfig-${component}/kestrelCliLib.pc)
    configure_file(${PROJECT_SOURCE_DIR}/cmake/kestrelCliLib.pc.in ${pc} @ONLY)
    install(FILES ${pc} DESTINATION ${libdir}/pkgconfig COMPONENT ${component} ${ARGN})
  endfunction()
  kestrel_install_pc(${CMAKE_INSTALL_LIBDIR} Development)
  set(manual ${PROJECT_SOURCE_DIR}/tools/mmdrctl/mmdrctl.1)
  if(TARGET mmdrctl)
    install(FILES ${manual} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT Runtime)
  endif()

  if(KESTREL_MULTIARCH_LIBDIR)
    # The Debian layout: everything the three packages hold, which debian/*.install
    # share out. The package config and its version file are the ones above.
    set(libdir ${KESTREL_MULTIARCH_LIBDIR})
    set(debian COMPONENT Debian EXCLUDE_FROM_ALL)
    install(TARGETS kestrelCliLib EXPORT kestrelCliLibDebianTargets
            LIBRARY DESTINATION ${libdir} ${debian} NAMELINK_COMPONENT Debian)
    install(EXPORT kestrelCliLibDebianTargets NAMESPACE kestrelCliLib::
            FILE kestrelCliLibTargets.cmake
            DESTINATION ${libdir}/cmake/kestrelCliLib/${KESTREL_ARCH} ${debian})
    install(FILES ${CMAKE_BINARY_DIR}/kestrelCliLibConfig.cmake
                  ${CMAKE_BINARY_DIR}/kestrelCliLibConfigVersion.cmake
            DESTINATION ${libdir}/cmake/kestrelCliLib ${debian})
    install(FILES ${PROJECT_SOURCE_DIR}/include/kestrelCliLib.h
            DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} ${debian})
    kestrel_install_pc(${libdir} Debian EXCLUDE_FROM_ALL)
    if(TARGET mmdrctl)
      install(TARGETS mmdrctl RUNTIME DESTINATION ${bindir} ${debian})
      install(FILES ${manual} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 ${debian})
    endif()
  endif()
endif()

# cpack packs the Runtime and Development components into one archive and Debug into a
# second one (scripts/package.sh): on Windows this build and the x86 and arm64 builds named
# by KESTREL_X86_BUILD_DIR and KESTREL_ARM64_BUILD_DIR into ZIPs, on Linux this build into
# tarballs.
set(CPACK_PACKAGE_NAME kestrelCliLib)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ONE_PER_GROUP)
set(CPACK_COMPONENT_RUNTIME_GROUP Package)
set(CPACK_COMPONENT_DEVELOPMENT_GROUP Package)
set(CPACK_COMPONENT_DEBUG_GROUP Debug)
set(CPACK_COMPONENTS_ALL Runtime Development Debug)  # the Debian layout is debian/'s
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};kestrelCliLib;ALL;/")
if(WIN32)
  set(KESTREL_X86_BUILD_DIR "" CACHE PATH "The x86 build to pack and check beside this one")
  set(KESTREL_ARM64_BUILD_DIR "" CACHE PATH "The arm64 build to pack and check beside this one")
  set(CPACK_GENERATOR ZIP)
  set(package_name kestrelCliLib-${PROJECT_VERSION}-windows)
  foreach(other ${KESTREL_X86_BUILD_DIR} ${KESTREL_ARM64_BUILD_DIR})
    list(APPEND CPACK_INSTALL_CMAKE_PROJECTS "${other};kestrelCliLib;ALL;/")
  endforeach()
else()
  set(CPACK_GENERATOR TGZ)
  set(package_name kestrelCliLib-${PROJECT_VERSION}-linux-${CMAKE_SYSTEM_PROCESSOR})
endif()
set(CPACK_ARCHIVE_PACKAGE_FILE_NAME ${package_name})
set(CPACK_ARCHIVE_DEBUG_FILE_NAME ${package_name}-debug)
include(CPack)
