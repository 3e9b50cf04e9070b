# cmake -DKESTREL_BUILD=<build dir> -DCONSUMER_SOURCE=<project dir> -DSCRATCH=<dir>
#       -DTOOLCHAIN=<toolchain file> -DWINE_RUN=<wine-run.sh> -P run_consumer_test.cmake
# Installs the library into a scratch prefix, builds the C consumer against the
# installed package with the same toolchain, and runs it under Wine.
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "failed (${status}): ${ARGN}\n${out}\n${err}")
  endif()
endfunction()

file(REMOVE_RECURSE ${SCRATCH})
set(prefix ${SCRATCH}/install)
run(${CMAKE_COMMAND} --install ${KESTREL_BUILD} --prefix ${prefix})
foreach(installed bin/kestrelCliLib.dll lib/libkestrelCliLib.dll.a include/kestrelCliLib.h
                  lib/cmake/kestrelCliLib/kestrelCliLibConfig.cmake
                  lib/cmake/kestrelCliLib/kestrelCliLibConfigVersion.cmake)
  if(NOT EXISTS ${prefix}/${installed})
    message(FATAL_ERROR "cmake --install did not install ${installed}")
  endif()
endforeach()

# A cross toolchain searches packages only below its root paths and the staging prefix.
run(${CMAKE_COMMAND} -S ${CONSUMER_SOURCE} -B ${SCRATCH}/build -G Ninja
    -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN} -DCMAKE_PREFIX_PATH=${prefix}
    -DCMAKE_STAGING_PREFIX=${prefix} -DCMAKE_BUILD_TYPE=Release)
run(${CMAKE_COMMAND} --build ${SCRATCH}/build)

# Output through a file: Wine's background processes would hold a pipe open.
execute_process(COMMAND ${WINE_RUN} ${SCRATCH}/build/consumer.exe
                RESULT_VARIABLE status OUTPUT_FILE ${SCRATCH}/consumer.out ERROR_FILE ${SCRATCH}/consumer.err)
file(READ ${SCRATCH}/consumer.out out)
file(READ ${SCRATCH}/consumer.err err)
message(STATUS "${out}")
if(NOT status EQUAL 0 OR NOT out MATCHES "consumer: ok")
  message(FATAL_ERROR "the consumer failed (${status}):\n${out}\n${err}")
endif()
