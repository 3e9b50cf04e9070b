# Test programs are Windows executables. When cross-compiling, CTest runs them through
# Wine in a private prefix that belongs to this build directory.
include(cmake/GoogleTest.cmake)

set(KESTREL_WINE_PREFIX "${CMAKE_BINARY_DIR}/wine-prefix" CACHE PATH
    "Private Wine prefix of this build (created on first use)")
if(CMAKE_CROSSCOMPILING)
  configure_file(${PROJECT_SOURCE_DIR}/scripts/wine-run.sh.in
                 ${CMAKE_BINARY_DIR}/wine-run.sh @ONLY
                 FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                  WORLD_READ WORLD_EXECUTE)
  set(KESTREL_EMULATOR ${CMAKE_BINARY_DIR}/wine-run.sh)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KESTREL_EMULATOR})
  add_test(NAME wine_prefix
           COMMAND ${PROJECT_SOURCE_DIR}/scripts/wine-prefix.sh ${KESTREL_WINE_PREFIX})
  set_tests_properties(wine_prefix PROPERTIES FIXTURES_SETUP wine_prefix TIMEOUT 300)
endif()

# kestrel_add_gtest(NAME <name> SOURCES <files...> [LIBRARIES <libs...>]
#                   [ENVIRONMENT <VAR=value...>] [TIMEOUT <seconds>])
# One executable and one CTest entry per call; GoogleTest prints the case count.
function(kestrel_add_gtest)
  cmake_parse_arguments(ARG "" "NAME;TIMEOUT" "SOURCES;LIBRARIES;ENVIRONMENT" ${ARGN})
  add_executable(${ARG_NAME} ${ARG_SOURCES})
  target_link_libraries(${ARG_NAME} PRIVATE kestrel_internal kestrel_test_support GTest::gtest GTest::gmock
                        ${ARG_LIBRARIES})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  add_test(NAME ${ARG_NAME} COMMAND ${ARG_NAME})
  # Every test program shares the build's Wine prefix (registry, devices, switches), so
  # none runs beside another even under ctest -j.
  set_tests_properties(${ARG_NAME} PROPERTIES TIMEOUT ${ARG_TIMEOUT}
                       RESOURCE_LOCK kestrel_wine_registry)
  if(CMAKE_CROSSCOMPILING)
    set_tests_properties(${ARG_NAME} PROPERTIES FIXTURES_REQUIRED wine_prefix)
  endif()
  if(ARG_ENVIRONMENT)
    set_tests_properties(${ARG_NAME} PROPERTIES ENVIRONMENT "${ARG_ENVIRONMENT}")
  endif()
endfunction()
