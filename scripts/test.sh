#!/usr/bin/env bash
# The whole test suite: installs what it needs, then for each platform of PLATFORM (both,
# the default; or windows, or linux) builds it and runs its suite, and finally checks the
# layout of the sources (scripts/check-format.sh). Arguments go to every ctest run.
# Windows: builds every architecture with both compilers (scripts/build.sh COMPILER=both
# ARCH=all: x64 and x86 with both, arm64 with Clang) and runs every test under Wine against
# the shipped (Clang) x64 build, then the same tests of the arm64 build under Wine for arm64
# in qemu-user (scripts/wine-arm64.sh; all but the slowest, see below). The x86 build is
# compiled and checked (exports, imports, machine type, the PDB, the installed package from
# C and from Microsoft's ABI): this kernel runs no 32-bit program.
# Of the GCC x64 build, the suite runs the exported calls (gcc_interface_test).
# Linux: the four builds (scripts/build.sh PLATFORM=linux): every test in build-linux/
# (GCC), build-linux-clang/ (ASan and UBSan) and build-linux-arm64/ (under qemu-user, which
# cannot run the cases that fork or start threads: they say so there and run natively),
# the tests labelled concurrency in build-linux-tsan/ (TSan). Among those of build-linux/ and
# build-linux-arm64/: each build's Debian packages, made from what it built and checked by
# lintian, then installed into a scratch root and built against (deb_*).
set -euo pipefail
# The tests read what the library records; a log asked for in this shell would take it.
unset KESTREL_LOG
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
platform=${PLATFORM:-both}
case $platform in
  windows | linux | both) ;;
  *) echo "PLATFORM must be windows, linux or both" >&2; exit 2 ;;
esac
"$root/scripts/install-deps.sh"
status=0
if [[ $platform != linux ]]; then
  PLATFORM=windows COMPILER=both ARCH=all "$root/scripts/build.sh"
  (cd "${BUILD_DIR:-$root/build}" && ctest --output-on-failure "$@") || status=1
  # The same suite on the ARM64 build; a folder that built no test must not pass unseen.
  # Within the 4 minutes a warm run may take, the test programs fit but not mmdrctl's
  # end-to-end run and the consumers (half a minute in qemu-user): KESTREL_ARM64_ALL=1 adds
  # them, as does `ctest` in build-arm64/.
  arm64_skip=(-E 'mmdrctl_test|consumer')
  [[ ${KESTREL_ARM64_ALL:-} == 1 ]] && arm64_skip=()
  (cd "${ARM64_BUILD_DIR:-$root/build-arm64}" &&
    ctest --output-on-failure --no-tests=error "${arm64_skip[@]}" "$@") || status=1
fi
if [[ $platform != windows ]]; then
  PLATFORM=linux "$root/scripts/build.sh"
  # One test on each core: the microphone tests spend most of their time waiting out
  # servers and displays that never answer, and an emulated program keeps a core busy.
  for dir in build-linux build-linux-clang build-linux-arm64; do
    (cd "$root/$dir" && ctest --output-on-failure -j "$(nproc)" "$@") || status=1
  done
  # No concurrency test at all would be a TSan run that checks nothing.
  (cd "$root/build-linux-tsan" && ctest --output-on-failure -L concurrency --no-tests=error "$@") ||
    status=1
fi
if ! "$root/scripts/check-format.sh"; then
  echo "test.sh: these files differ from .clang-format (scripts/check-format.sh --fix)" >&2
  status=1
fi
exit $status
