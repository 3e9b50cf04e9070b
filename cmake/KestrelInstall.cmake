# cmake --install puts each architecture's binaries in folders of its own: bin/<arch>
# (the DLL, mmdrctl) and lib/<arch> (the import library and its CMake targets), beside
# one include/ and one package config that picks the consumer's architecture. The x64
# and x86 builds install into the same prefix. Binaries are shipped stripped; their
# debug information goes to <binary>.debug files (component Debug), which each binary
# names through a debug link (kestrel_split_debug_info, cmake/KestrelDebugInfo.cmake).
include(CMakePackageConfigHelpers)
set(KESTREL_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/kestrelCliLib)

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
