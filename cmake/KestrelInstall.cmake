# cmake --install puts the DLL (bin), its import library (lib), the public header
# (include) and a package config (lib/cmake/kestrelCliLib), so that a consumer writes
# find_package(kestrelCliLib) and links kestrelCliLib::kestrelCliLib.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(KESTREL_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/kestrelCliLib)

install(TARGETS kestrelCliLib EXPORT kestrelCliLibTargets
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/kestrelCliLib.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT kestrelCliLibTargets NAMESPACE kestrelCliLib::
        DESTINATION ${KESTREL_INSTALL_CMAKEDIR})

configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/kestrelCliLibConfig.cmake.in
  ${CMAKE_BINARY_DIR}/kestrelCliLibConfig.cmake
  INSTALL_DESTINATION ${KESTREL_INSTALL_CMAKEDIR})
# Same major version = same interface version (Mmdr_GetLibVersion).
write_basic_package_version_file(${CMAKE_BINARY_DIR}/kestrelCliLibConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/kestrelCliLibConfig.cmake
              ${CMAKE_BINARY_DIR}/kestrelCliLibConfigVersion.cmake
        DESTINATION ${KESTREL_INSTALL_CMAKEDIR})
