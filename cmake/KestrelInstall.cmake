# cmake --install puts each architecture's binaries in folders of its own: bin/<arch>
# (the DLL, mmdrctl) and lib/<arch> (the import libraries and the CMake targets), beside
# one include/ and one package config that picks the consumer's architecture and ABI. The
# x64 and x86 builds install into the same prefix. Binaries are shipped stripped; their
# debug information (component Debug) is a PDB per binary with Clang, a <binary>.debug
# file with GCC (kestrel_split_debug_info, cmake/KestrelShip.cmake).
include(CMakePackageConfigHelpers)
set(KESTREL_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/kestrelCliLib)

# Two import libraries: libkestrelCliLib.dll.a from the link, for MinGW-w64 consumers, and
# kestrelCliLib.lib in the short format Microsoft's linker reads, written from the export
# list. For x86 it gives each export the name a __cdecl caller links against (_Mmdr_Init).
if(NOT MSVC)
  find_program(KESTREL_DLLTOOL llvm-dlltool REQUIRED)
  set(machine i386:x86-64)
  if(KESTREL_ARCH STREQUAL "x86")
    set(machine i386)
  endif()
  set(def ${PROJECT_SOURCE_DIR}/src/interface/kestrelCliLib.def)
  set(msvc_implib ${CMAKE_BINARY_DIR}/lib/kestrelCliLib.lib)
  add_custom_command(OUTPUT ${msvc_implib} DEPENDS ${def}
    COMMAND ${KESTREL_DLLTOOL} -m ${machine} -d ${def} -l ${msvc_implib} VERBATIM)
  add_custom_target(kestrelCliLib_msvc_implib ALL DEPENDS ${msvc_implib})
  install(FILES ${msvc_implib} DESTINATION ${CMAKE_INSTALL_LIBDIR}/${KESTREL_ARCH}
          COMPONENT Development)
endif()

install(TARGETS kestrelCliLib EXPORT kestrelCliLibTargets
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}/${KESTREL_ARCH} COMPONENT Runtime
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}/${KESTREL_ARCH} COMPONENT Development)
if(TARGET mmdrctl)
  install(TARGETS mmdrctl RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}/${KESTREL_ARCH} COMPONENT Runtime)
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

# cpack packs this build and the x86 build named by KESTREL_X86_BUILD_DIR into one ZIP,
# and their debug files into a second one (scripts/package.sh).
set(KESTREL_X86_BUILD_DIR "" CACHE PATH "The x86 build to pack and check beside this one")
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME kestrelCliLib)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ONE_PER_GROUP)
set(CPACK_COMPONENT_RUNTIME_GROUP Package)
set(CPACK_COMPONENT_DEVELOPMENT_GROUP Package)
set(CPACK_COMPONENT_DEBUG_GROUP Debug)
set(CPACK_ARCHIVE_PACKAGE_FILE_NAME kestrelCliLib-${PROJECT_VERSION}-windows)
set(CPACK_ARCHIVE_DEBUG_FILE_NAME kestrelCliLib-${PROJECT_VERSION}-windows-debug)
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};kestrelCliLib;ALL;/")
if(KESTREL_X86_BUILD_DIR)
  list(APPEND CPACK_INSTALL_CMAKE_PROJECTS "${KESTREL_X86_BUILD_DIR};kestrelCliLib;ALL;/")
endif()
include(CPack)
