# The checks of what a Windows build delivers (included from tests/CMakeLists.txt), and the
# Wine prefix every program of the folder runs in.
set(wine_tests unit_tests devices_test interface_test)

if(NOT CMAKE_CROSSCOMPILING)
  return()  # the checks below run the build's programs through Wine, or build for the host
endif()
add_test(NAME wine_prefix COMMAND ${PROJECT_SOURCE_DIR}/scripts/wine-prefix.sh ${KESTREL_WINE_PREFIX})
set_tests_properties(wine_prefix PROPERTIES FIXTURES_SETUP wine_prefix)
find_program(KESTREL_PYTHON3 python3 REQUIRED)
add_test(NAME mmdrctl_test COMMAND ${KESTREL_PYTHON3} ${CMAKE_CURRENT_SOURCE_DIR}/mmdrctl_test.py
         $<TARGET_FILE:mmdrctl> ${CMAKE_BINARY_DIR}/wine-run.sh)

# The consumers against the package as installed into one prefix, built and run for this
# build's architecture (x64, or arm64 under Wine for arm64 in qemu-user), built for the
# others whose builds are given (x86: this kernel runs no 32-bit program): the C consumer
# with MinGW-w64's GCC (arm64: Clang over the arm64 sysroot), and Microsoft's ABI with
# Clang for *-pc-windows-msvc.
set(archs ${KESTREL_ARCH})
set(build_${KESTREL_ARCH} ${CMAKE_BINARY_DIR})
foreach(arch x86 arm64)
  string(TOUPPER ${arch} upper)
  if(KESTREL_${upper}_BUILD_DIR AND NOT arch STREQUAL KESTREL_ARCH)
    list(APPEND archs ${arch})
    set(build_${arch} ${KESTREL_${upper}_BUILD_DIR})
  endif()
endforeach()
set(triple_x64 x86_64)
set(triple_x86 i686)
set(triple_arm64 aarch64)
set(machine_x64 8664)
set(machine_x86 014C)
set(machine_arm64 AA64)
foreach(arch x64 x86)
  set(toolchain_${arch} mingw-w64-${triple_${arch}}.cmake)
  set(kernel32_${arch} /usr/${triple_${arch}}-w64-mingw32/lib/libkernel32.a)
endforeach()
if(arm64 IN_LIST archs)
  set(toolchain_arm64 clang-mingw-aarch64.cmake)
  execute_process(COMMAND ${PROJECT_SOURCE_DIR}/scripts/mingw-arm64-sysroot.sh --path
                  OUTPUT_VARIABLE sysroot OUTPUT_STRIP_TRAILING_WHITESPACE
                  COMMAND_ERROR_IS_FATAL ANY)
  set(kernel32_arm64 ${sysroot}/lib/libkernel32.a)
endif()
foreach(arch ${archs})
  add_test(NAME install_${arch} COMMAND ${CMAKE_COMMAND} --install ${build_${arch}} --prefix ${package})
  set_tests_properties(install_${arch} PROPERTIES FIXTURES_SETUP package)
  set(triple ${triple_${arch}})
  set(run)
  if(arch STREQUAL KESTREL_ARCH)
    set(run --test-command ${CMAKE_BINARY_DIR}/wine-run.sh consumer.exe)
  endif()
  kestrel_add_consumer_test(consumer_${arch} -DKESTREL_MACHINE=${machine_${arch}}
    -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/${toolchain_${arch}} ${run})
  # Nothing links there but what the consumer names: CMake's checks only compile. For
  # arm64 (the package config's one choice by the compilers' machine), a second consumer
  # enables C++ before it looks for the package.
  set(msvc -DCMAKE_SYSTEM_NAME=Windows
    -DCMAKE_C_COMPILER=clang -DCMAKE_C_COMPILER_TARGET=${triple}-pc-windows-msvc
    -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_CXX_COMPILER_TARGET=${triple}-pc-windows-msvc
    -DCMAKE_TRY_COMPILE_TARGET_TYPE=STATIC_LIBRARY -DKESTREL_KERNEL32=${kernel32_${arch}}
    -DKESTREL_MACHINE=${machine_${arch}})
  kestrel_add_consumer_test(msvc_consumer_${arch} ${msvc} ${run})
  if(arch STREQUAL "arm64")
    kestrel_add_consumer_test(msvc_cxx_consumer_${arch} ${msvc} -DKESTREL_CXX_FIRST=ON)
  endif()
endforeach()
# The ZIPs as scripts/package.sh makes them: each build's DLL, mmdrctl and import libraries
# in the package, and with Clang their PDBs in the debug ZIP.
set(zipped)
foreach(arch ${archs})
  list(APPEND zipped bin/${arch}/kestrelCliLib.dll bin/${arch}/mmdrctl.exe
       lib/${arch}/kestrelCliLib.lib lib/${arch}/libkestrelCliLib.dll.a)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    list(APPEND zipped debug:bin/${arch}/kestrelCliLib.pdb debug:bin/${arch}/mmdrctl.pdb)
  endif()
endforeach()
add_test(NAME zip COMMAND sh -c [[cd "$0" && rm -f "$2.zip" "$2-debug.zip" && "$1" -G ZIP >/dev/null &&
  "$3" -E tar tf "$2.zip" >zip.txt && "$3" -E tar tf "$2-debug.zip" | sed s/^/debug:/ >>zip.txt &&
  shift 3 && for file; do grep -qx "$file" zip.txt || { echo "not in the ZIPs: $file"; exit 1; }; done]]
  ${CMAKE_BINARY_DIR} ${CMAKE_CPACK_COMMAND} kestrelCliLib-${PROJECT_VERSION}-windows ${CMAKE_COMMAND}
  ${zipped})
# A stand-in dsound.dll beside a program, with a load order that lets Wine take it from
# there: the library must load the system's copy all the same. Each load runs in a
# process of its own, since dsound.dll stays loaded once it is.
add_library(planted_dsound SHARED planted/dsound.c)
add_executable(planted_load planted/planted_load.cpp)
target_link_libraries(planted_load PRIVATE kestrel_internal)
target_link_options(planted_load PRIVATE -municode)
set_target_properties(planted_dsound planted_load PROPERTIES
  PREFIX "" RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/planted)
set_target_properties(planted_dsound PROPERTIES OUTPUT_NAME dsound)
foreach(load default-dirs library)
  add_test(NAME planted_dsound_${load} COMMAND planted_load ${load})
  set_tests_properties(planted_dsound_${load} PROPERTIES ENVIRONMENT KESTREL_WINEDLLOVERRIDES=dsound=n,b)
  list(APPEND wine_tests planted_dsound_${load})
endforeach()
set(KESTREL_GCC_BUILD_DIR "" CACHE PATH "The GCC x64 build whose interface tests run here too")
if(KESTREL_GCC_BUILD_DIR)
  # The second compiler's build of the exported calls, under the same prefix.
  add_test(NAME gcc_interface_test COMMAND ${CMAKE_BINARY_DIR}/wine-run.sh
           ${KESTREL_GCC_BUILD_DIR}/bin/interface_test.exe)
  list(APPEND wine_tests gcc_interface_test)
endif()

if(KESTREL_ARCH STREQUAL "arm64")
  # Debian's Wine for arm64 has no PE DLLs: its DLLs are Linux libraries, which may use x18
  # as a scratch register, where Windows on ARM64 keeps the thread's TEB in it for good. Its
  # GetSystemTime returns with 10000000 in x18 (a program of three calls shows it), so a
  # thread_local read that follows a log line's time stamp on the same thread faults. These
  # cases do just that; they run in the x64 build.
  set_tests_properties(interface_test PROPERTIES ENVIRONMENT
    GTEST_FILTER=-Preferences.TheStoredWebcamIsFoundByExactIdThenContainedIdThenExactName)
  set_tests_properties(devices_test PROPERTIES ENVIRONMENT
    GTEST_FILTER=-Devices.FaultsOfTheSystemsEnumeratorsShortenTheListOnlyByWhatFailed)
endif()
# Every program run through Wine uses the prefix's registry and devices, so none runs
# beside another.
set(own_consumers consumer_${KESTREL_ARCH} msvc_consumer_${KESTREL_ARCH})
set_tests_properties(${wine_tests} mmdrctl_test ${own_consumers} PROPERTIES TIMEOUT 300
                     FIXTURES_REQUIRED wine_prefix RESOURCE_LOCK kestrel_wine_prefix)
set_tests_properties(${own_consumers} PROPERTIES FIXTURES_REQUIRED "wine_prefix;package")
