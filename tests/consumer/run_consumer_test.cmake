# cmake -DKESTREL_BUILD=<x64 build> [-DKESTREL_X86_BUILD=<x86 build>] -DSOURCE_DIR=<root>
#       -DSCRATCH=<dir> -DWINE_RUN=<wine-run.sh> -P run_consumer_test.cmake
# Installs the builds into one prefix, then builds the C consumer against the installed
# package with each architecture's toolchain: the x64 one runs under Wine, the x86 one is
# only built (these machines cannot run 32-bit programs).
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "failed (${status}): ${ARGN}\n${out}\n${err}")
  endif()
endfunction()

file(REMOVE_RECURSE ${SCRATCH})
set(prefix ${SCRATCH}/install)
set(build_x64 ${KESTREL_BUILD})
set(build_x86 ${KESTREL_X86_BUILD})
set(archs x64)
if(KESTREL_X86_BUILD)
  list(APPEND archs x86)
endif()
foreach(arch ${archs})
  run(${CMAKE_COMMAND} --install ${build_${arch}} --prefix ${prefix})
endforeach()
set(toolchain_x64 x86_64)
set(toolchain_x86 i686)
foreach(arch ${archs})
  # A cross toolchain searches packages only below its root paths and the staging prefix.
  run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/tests/consumer/project -B ${SCRATCH}/${arch} -G Ninja
      -DCMAKE_TOOLCHAIN_FILE=${SOURCE_DIR}/cmake/mingw-w64-${toolchain_${arch}}.cmake
      -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_STAGING_PREFIX=${prefix} -DCMAKE_BUILD_TYPE=Release)
  run(${CMAKE_COMMAND} --build ${SCRATCH}/${arch})
endforeach()

# Output through a file: Wine's background processes would hold a pipe open.
execute_process(COMMAND ${WINE_RUN} ${SCRATCH}/x64/consumer.exe RESULT_VARIABLE status
                OUTPUT_FILE ${SCRATCH}/consumer.out ERROR_FILE ${SCRATCH}/consumer.err)
file(READ ${SCRATCH}/consumer.out out)
if(NOT status EQUAL 0 OR NOT out MATCHES "consumer: ok")
  message(FATAL_ERROR "the consumer failed (${status}):\n${out}")
endif()
message(STATUS "${out}built for: ${archs}")
