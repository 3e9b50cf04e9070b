#!/usr/bin/env bash
# Configures and builds the project. COMPILER=clang (the default: Clang and LLD, which build
# what is shipped) or gcc (MinGW-w64's GCC, the second compiler); ARCH=x64 (the default) or
# x86, whose build has no test programs (they could not run here). Build directories, unless
# BUILD_DIR names another: build/ and build-x86/ for Clang, build-gcc/ and build-gcc-x86/ for
# GCC. ARCH=both builds x86 (into X86_BUILD_DIR) and then x64, whose tests and package take
# the x86 build in; COMPILER=both builds GCC first, then Clang, whose x64 tests run the GCC
# build's interface tests too. Arguments go to the configure step, which runs when the build directory is new
# or arguments are given (from scratch when it was made with another toolchain).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
compiler=${COMPILER:-clang} arch=${ARCH:-x64}
if [[ $compiler == both ]]; then
  COMPILER=gcc BUILD_DIR="$root/build-gcc" X86_BUILD_DIR="$root/build-gcc-x86" "$root/scripts/build.sh"
  exec env COMPILER=clang "$root/scripts/build.sh" -DKESTREL_GCC_BUILD_DIR="$root/build-gcc" "$@"
fi
case $compiler in
  clang) toolchain=clang-mingw suffix= ;;
  gcc) toolchain=mingw-w64 suffix=-gcc ;;
  *) echo "COMPILER must be clang, gcc or both" >&2; exit 2 ;;
esac
if [[ $arch == both ]]; then
  x86_dir=${X86_BUILD_DIR:-$root/build$suffix-x86}
  ARCH=x86 BUILD_DIR="$x86_dir" "$root/scripts/build.sh"
  exec env ARCH=x64 "$root/scripts/build.sh" -DKESTREL_X86_BUILD_DIR="$x86_dir" "$@"
fi
case $arch in
  x64) toolchain+=-x86_64.cmake build_dir=${BUILD_DIR:-$root/build$suffix} options=() ;;
  x86) toolchain+=-i686.cmake build_dir=${BUILD_DIR:-$root/build$suffix-x86}
       options=(-DKESTREL_BUILD_TESTS=OFF) ;;
  *) echo "ARCH must be x64, x86 or both" >&2; exit 2 ;;
esac
toolchain=$root/cmake/$toolchain
cache=$build_dir/CMakeCache.txt
fresh=()
if [[ -f $cache ]] && ! grep -qx "CMAKE_TOOLCHAIN_FILE:FILEPATH=$toolchain" "$cache"; then
  fresh=(--fresh)
fi
if [[ ! -f $cache || $# -gt 0 || ${#fresh[@]} -gt 0 ]]; then
  cmake "${fresh[@]}" -S "$root" -B "$build_dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" "${options[@]}" "$@" >/dev/null
fi
cmake --build "$build_dir" --parallel "$(nproc)"
