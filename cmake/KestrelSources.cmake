# kestrel_internal: every source below src/ except the exported entry points; the tests
# link it directly. kestrelCliLib: the DLL, made of the exported entry points, the load
# entry and the internals.
set(KESTREL_DLL_ONLY_SOURCES
  ${PROJECT_SOURCE_DIR}/src/interface/dll_main.cpp
  ${PROJECT_SOURCE_DIR}/src/interface/mmdr_exports.cpp)

file(GLOB_RECURSE KESTREL_ALL_SOURCES CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/src/*.cpp ${PROJECT_SOURCE_DIR}/src/*.h)
# Sources that build only for a non-Windows host (the portable log core's stand-ins).
list(FILTER KESTREL_ALL_SOURCES EXCLUDE REGEX "_posix\\.cpp$")
set(KESTREL_INTERNAL_SOURCES ${KESTREL_ALL_SOURCES})
list(REMOVE_ITEM KESTREL_INTERNAL_SOURCES ${KESTREL_DLL_ONLY_SOURCES})

add_library(kestrel_internal STATIC ${KESTREL_INTERNAL_SOURCES})
target_include_directories(kestrel_internal PUBLIC
  ${PROJECT_SOURCE_DIR}/include ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(kestrel_internal PUBLIC kestrel_settings
  ole32 oleaut32 uuid advapi32 strmiids)

set(KESTREL_DLL_EXTRA_SOURCES)
foreach(candidate ${KESTREL_DLL_ONLY_SOURCES}
                  ${PROJECT_SOURCE_DIR}/src/interface/kestrelCliLib.def
                  ${PROJECT_SOURCE_DIR}/src/interface/kestrelCliLib.rc)
  if(EXISTS ${candidate})
    list(APPEND KESTREL_DLL_EXTRA_SOURCES ${candidate})
  endif()
endforeach()

add_library(kestrelCliLib SHARED ${KESTREL_DLL_EXTRA_SOURCES})
target_link_libraries(kestrelCliLib PRIVATE kestrel_internal)
target_include_directories(kestrelCliLib PUBLIC
  $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include> $<INSTALL_INTERFACE:include>)
set_target_properties(kestrelCliLib PROPERTIES PREFIX "" OUTPUT_NAME kestrelCliLib)
