#!/usr/bin/env bash
# Configures and builds the project with the MinGW-w64 cross toolchain. ARCH=x64 (the
# default) builds into BUILD_DIR (default build/); ARCH=x86 into BUILD_DIR (default
# build-x86/) without the test programs, which could not run here; ARCH=both builds x86
# into X86_BUILD_DIR (default build-x86/) and then x64, whose tests and package take
# the x86 build in. Arguments go to the configure step, which runs when the build
# directory is new or arguments are given.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
if [[ ${ARCH:-x64} == both ]]; then
  x86_dir=${X86_BUILD_DIR:-$root/build-x86}
  ARCH=x86 BUILD_DIR="$x86_dir" "$root/scripts/build.sh"
  exec env ARCH=x64 "$root/scripts/build.sh" -DKESTREL_X86_BUILD_DIR="$x86_dir" "$@"
fi
case ${ARCH:-x64} in
  x64) toolchain=mingw-w64-x86_64.cmake build_dir=${BUILD_DIR:-$root/build} options=() ;;
  x86) toolchain=mingw-w64-i686.cmake build_dir=${BUILD_DIR:-$root/build-x86}
       options=(-DKESTREL_BUILD_TESTS=OFF) ;;
  *) echo "ARCH must be x64, x86 or both" >&2; exit 2 ;;
esac
if [[ ! -f "$build_dir/CMakeCache.txt" || $# -gt 0 ]]; then
  cmake -S "$root" -B "$build_dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain" \
    -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" "${options[@]}" "$@" >/dev/null
fi
cmake --build "$build_dir" --parallel "$(nproc)"
