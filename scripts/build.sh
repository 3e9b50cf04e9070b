#!/usr/bin/env bash
# Configures and builds the project with the MinGW-w64 cross toolchain. ARCH=x64 (the
# default) builds into BUILD_DIR (default build/); ARCH=x86 into BUILD_DIR (default
# build-x86/) without the test programs, which could not run here. Arguments are passed
# to the configure step, which runs when the build directory is new or arguments are given.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
case ${ARCH:-x64} in
  x64) toolchain=mingw-w64-x86_64.cmake build_dir=${BUILD_DIR:-$root/build} options=() ;;
  x86) toolchain=mingw-w64-i686.cmake build_dir=${BUILD_DIR:-$root/build-x86}
       options=(-DKESTREL_BUILD_TESTS=OFF) ;;
  *) echo "ARCH must be x64 or x86" >&2; exit 2 ;;
esac
if [[ ! -f "$build_dir/CMakeCache.txt" || $# -gt 0 ]]; then
  cmake -S "$root" -B "$build_dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain" \
    -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" "${options[@]}" "$@" >/dev/null
fi
cmake --build "$build_dir" --parallel "$(nproc)"
