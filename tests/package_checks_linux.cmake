# The checks of what a Linux build delivers (included from tests/CMakeLists.txt). A cross
# build (arm64) runs the consumers and mmdrctl through its emulator; the scripts, python
# and the sound server run natively.
set(emulator ${CMAKE_CROSSCOMPILING_EMULATOR})
# The C consumer through the package config and through pkg-config, built by this
# build's compilers (with the sanitizers' runtimes), run on one null ALSA microphone
# and no sound server; mmdrctl end to end, from the build and as installed.
# Nothing left from an earlier run; the manual page, and one library (the Debian layout's
# copy is debian/'s alone).
add_test(NAME install COMMAND sh -c [[rm -rf "$0" && "$1" --install "$2" --prefix "$0" &&
  test -f "$0/share/man/man1/mmdrctl.1" &&
  test "$(find "$0" -name "libkestrelCliLib.so.2.*.*" | wc -l)" = 1]]
  ${package} ${CMAKE_COMMAND} ${CMAKE_BINARY_DIR})
set_tests_properties(install PROPERTIES FIXTURES_SETUP package)
# The release tarballs as scripts/package.sh makes them, the package and its debug files,
# named for the processor as Debian names it: the manual page in the package, and one
# library.
string(REGEX REPLACE "-.*" "" processor "${CMAKE_LIBRARY_ARCHITECTURE}")
add_test(NAME tarball COMMAND sh -c [[cd "$0" && rm -f kestrelCliLib-*.tar.gz &&
  "$1" -G TGZ >/dev/null && test "$(echo kestrelCliLib-*.tar.gz)" = "$2-debug.tar.gz $2.tar.gz" &&
  tar -tzf "$2.tar.gz" >"$2.txt" && grep -qx share/man/man1/mmdrctl.1 "$2.txt" &&
  test "$(grep -c /libkestrelCliLib\.so\.2\.[0-9]*\.[0-9]*$ "$2.txt")" = 1]] ${CMAKE_BINARY_DIR}
  ${CMAKE_CPACK_COMMAND} kestrelCliLib-${PROJECT_VERSION}-linux-${processor})
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/consumer.conf
     "pcm.ConsumerMic { type null hint.description \"Consumer microphone\" }\n")
set(compilers -DCMAKE_C_COMPILER=${CMAKE_C_COMPILER} -DCMAKE_CXX_COMPILER=${CMAKE_CXX_COMPILER})
if(CMAKE_TOOLCHAIN_FILE)
  list(APPEND compilers -DCMAKE_TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE})
endif()
if(KESTREL_SANITIZE)
  # A C program (README's example) linking the sanitized C++ library needs the
  # sanitizers' C++ runtime, which the C driver leaves out.
  list(APPEND compilers -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=${KESTREL_SANITIZE}
       "-DCMAKE_C_STANDARD_LIBRARIES=-fsanitize-link-c++-runtime -lstdc++")
endif()
set(route_pkg_config -DKESTREL_PKG_CONFIG=ON -DCMAKE_PREFIX_PATH=)  # the .pc file alone
set(run_consumer --test-command ${CMAKE_CTEST_COMMAND} --output-on-failure)  # and README's example
foreach(route config pkg_config)
  kestrel_add_consumer_test(consumer_${route} ${route_${route}} ${compilers} ${run_consumer})
  set_tests_properties(consumer_${route} PROPERTIES ENVIRONMENT "PKG_CONFIG_PATH=${package}/${CMAKE_INSTALL_LIBDIR}/pkgconfig;\
ALSA_CONFIG_PATH=${CMAKE_CURRENT_BINARY_DIR}/consumer.conf;PULSE_SERVER=unix:/nonexistent;\
XDG_CONFIG_HOME=${CMAKE_CURRENT_BINARY_DIR}")
endforeach()
find_program(KESTREL_PYTHON3 python3 REQUIRED)
set(mmdrctl_test ${CMAKE_COMMAND} -E env KESTREL_LIBDIR=${CMAKE_INSTALL_LIBDIR} ${KESTREL_PYTHON3}
    ${CMAKE_CURRENT_SOURCE_DIR}/mmdrctl_test.py)
add_test(NAME mmdrctl_test COMMAND ${mmdrctl_test} $<TARGET_FILE:mmdrctl> ${emulator})
# And on PipeWire, with a camera only it shows, in the build that ships (the others' share of
# the suite's time goes to the library's own PipeWire tests, which they all run).
if(NOT KESTREL_SANITIZE AND NOT emulator)
  add_test(NAME mmdrctl_test_pipewire COMMAND ${CMAKE_COMMAND} -E env SOUND_SERVER=pipewire
           ${mmdrctl_test} $<TARGET_FILE:mmdrctl>)
  # The demonstration's Linux half as a newcomer sees it (in a folder of its own): PipeWire's
  # cameras listed, and the camera the user chose preferred.
  add_test(NAME demo_linux COMMAND sh -c [[rm -rf "$0" && "$1" "$2" "$0" | tee "$0.txt" &&
    grep -A1 "Kestrel Demo Built-in Camera" "$0.txt" | grep -q "id: pipewire:" &&
    grep -A1 "^Preferred video device" "$0.txt" | grep -q "name: Kestrel Demo Camera Module"]]
    ${CMAKE_CURRENT_BINARY_DIR}/demo ${PROJECT_SOURCE_DIR}/scripts/demo-linux.sh
    ${CMAKE_BINARY_DIR})
  # The benchmark's Linux half without its watch figures: platform_bench fails when the
  # library and the direct work disagree on a row's devices, PipeWire's row among them.
  add_test(NAME bench_linux COMMAND bash -c [[set -o pipefail && "$0" "$1" 3 --no-watch |
    tee "$1/bench.txt" && grep -q "webcams + PipeWire's" "$1/bench.txt"]]
    ${PROJECT_SOURCE_DIR}/scripts/bench-linux.sh ${CMAKE_BINARY_DIR})
endif()
add_test(NAME mmdrctl_installed_test
         COMMAND ${mmdrctl_test} ${package}/${CMAKE_INSTALL_BINDIR}/mmdrctl ${emulator})
set_tests_properties(mmdrctl_installed_test PROPERTIES FIXTURES_REQUIRED package
                     ENVIRONMENT KESTREL_MMDRCTL_COPY=1)
if(emulator)
  # qemu-user here never runs a guest fork() or second thread: the cases that need one are
  # skipped, each saying so (support/user_emulation.h), and a case that forgets to is
  # ended by the timeout rather than left spinning. (Every test of the folder so far: the
  # programs' too.)
  list(GET emulator 0 emulator_name)
  get_property(tests DIRECTORY PROPERTY TESTS)
  foreach(test ${tests})
    get_test_property(${test} ENVIRONMENT environment)
    list(REMOVE_ITEM environment NOTFOUND)
    list(APPEND environment KESTREL_USER_EMULATION=${emulator_name})
    set_tests_properties(${test} PROPERTIES TIMEOUT 60 ENVIRONMENT "${environment}")
  endforeach()
endif()

# The Debian packages made from this build (scripts/deb.sh, whose lintian fails on an
# error or a warning; nothing of an earlier packing left), what apt reads in them, and
# the packages unpacked into a scratch root as dpkg installs them; the consumer built
# against them both ways and run with README's example on the private sound server,
# whose USB microphone the user prefers; mmdrctl end to end as packaged, with the
# library's runtime package only.
set(unsanitized OFF)
if(NOT KESTREL_SANITIZE AND KESTREL_MULTIARCH_LIBDIR)
  set(unsanitized ON)
endif()
option(KESTREL_DEB_PACKAGE "Pack and check the Debian packages in the suite" ${unsanitized})
if(NOT KESTREL_DEB_PACKAGE)
  return()
endif()
set(root ${CMAKE_BINARY_DIR}/deb/root)
add_test(NAME deb_package COMMAND sh -c [[mkdir -p "$1/deb" && : >"$1/deb/earlier.deb" &&
  "$0" "$1" "$2" && "$3" "$1/deb" && for deb in "$1"/deb/*.deb; do
  dpkg -x "$deb" "$1/deb/root" && case $deb in *-dev_*) ;; *) dpkg -x "$deb" "$1/deb/runtime"
  esac || exit 1; done]] ${PROJECT_SOURCE_DIR}/scripts/deb.sh ${CMAKE_BINARY_DIR}
  ${CMAKE_LIBRARY_ARCHITECTURE} ${CMAKE_CURRENT_SOURCE_DIR}/deb_relations.sh)
set_tests_properties(deb_package PROPERTIES FIXTURES_SETUP deb)
# Debian's hardening in the build's log and in the packaged binaries.
add_test(NAME deb_hardening COMMAND ${PROJECT_SOURCE_DIR}/scripts/check-hardening.sh
         ${CMAKE_BINARY_DIR} ${CMAKE_BINARY_DIR}/deb/runtime ${CMAKE_LIBRARY_ARCHITECTURE})
set_tests_properties(deb_hardening PROPERTIES FIXTURES_REQUIRED deb)
if(NOT CMAKE_CROSSCOMPILING)
  # The packages' autopkgtest suite (debian/tests/), apt installing them into a Debian root
  # of their own (scripts/autopkgtest.sh). An arm64 root would run emulated, too slowly.
  add_test(NAME deb_autopkgtest COMMAND ${PROJECT_SOURCE_DIR}/scripts/autopkgtest.sh
           ${CMAKE_BINARY_DIR}/deb ${CMAKE_BINARY_DIR}/autopkgtest)
  set_tests_properties(deb_autopkgtest PROPERTIES FIXTURES_REQUIRED deb TIMEOUT 900)
endif()
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/deb-settings/corvane/meridel/kestrel.conf
     "srcAudioInId=usbmic\n")
set(route_config -DCMAKE_FIND_USE_CMAKE_SYSTEM_PATH=OFF)  # nothing installed on the machine
foreach(route config pkg_config)
  kestrel_add_consumer_test(deb_consumer_${route} -DCMAKE_PREFIX_PATH=${root}/usr
    ${route_${route}} ${compilers} "-DKESTREL_EXAMPLE_SAYS=preferred: USB Mic" ${run_consumer})
  set_tests_properties(deb_consumer_${route} PROPERTIES FIXTURES_REQUIRED "deb;sound_server"
    ENVIRONMENT "PKG_CONFIG_LIBDIR=${root}/usr/${KESTREL_MULTIARCH_LIBDIR}/pkgconfig;\
PULSE_SERVER=unix:${server}/native;HOME=${server};XDG_CONFIG_HOME=${CMAKE_CURRENT_BINARY_DIR}/deb-settings")
endforeach()
add_test(NAME deb_mmdrctl_test
         COMMAND ${mmdrctl_test} ${CMAKE_BINARY_DIR}/deb/runtime/usr/bin/mmdrctl ${emulator})
set_tests_properties(deb_mmdrctl_test PROPERTIES FIXTURES_REQUIRED deb ENVIRONMENT KESTREL_MMDRCTL_COPY=1)
