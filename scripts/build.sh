#!/usr/bin/env bash
# Configures and builds the project. PLATFORM=windows (the default), linux, or both
# (Windows, then Linux).
#
# Windows: COMPILER=clang (the default: Clang and LLD, which build what is shipped) or gcc
# (MinGW-w64's GCC, the second compiler); ARCH=x64 (the default), x86 (no test programs:
# this kernel runs no 32-bit program) or arm64 (Clang only, over the sysroot of
# scripts/mingw-arm64-sysroot.sh; its tests run under Wine for arm64 in qemu-user). Build
# directories, unless BUILD_DIR names another: build/, build-x86/ and build-arm64/ for
# Clang, build-gcc/ and build-gcc-x86/ for GCC.
# ARCH=both builds x86 (into X86_BUILD_DIR) and then x64, whose tests and package take the
# x86 build in; ARCH=all does the same with arm64 too (into ARM64_BUILD_DIR; with GCC, all is
# both). COMPILER=both builds GCC first, then Clang, whose x64 tests run the GCC build's
# interface tests too.
#
# Linux: LINUX_BUILDS of "gcc clang tsan arm64" (the default: all four): build-linux/ (GCC:
# what is packaged), build-linux-clang/ (Clang with ASan and UBSan, the thread-safety
# analysis and clang-tidy), build-linux-tsan/ (Clang with TSan, for the tests labelled
# concurrency; clang-tidy runs in the Clang build only) and build-linux-arm64/ (GCC's cross
# compiler for 64-bit ARM, cmake/linux-aarch64.cmake, whose tests run under qemu-user).
#
# Arguments go to the configure step (of the Windows build, or with PLATFORM=linux of each
# Linux build), which runs when the build directory is new or arguments are given (from
# scratch when it was made with another toolchain).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
case ${PLATFORM:-windows} in
  windows) ;;
  both)
    PLATFORM=windows "$root/scripts/build.sh" "$@"
    exec env PLATFORM=linux "$root/scripts/build.sh" ;;
  linux)
    build_linux() {  # DIR, then the build's own configure options
      local dir=$root/$1
      shift
      if [[ ! -f $dir/CMakeCache.txt || ${#arguments[@]} -gt 0 ]]; then
        cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" \
          "$@" "${arguments[@]}" >/dev/null
      fi
      cmake --build "$dir" --parallel "$(nproc)"
    }
    arguments=("$@")
    clang=(-DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++)
    for build in ${LINUX_BUILDS:-gcc clang tsan arm64}; do
      case $build in
        gcc) build_linux build-linux -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ ;;
        clang) build_linux build-linux-clang "${clang[@]}" -DKESTREL_SANITIZE=address,undefined ;;
        tsan) build_linux build-linux-tsan "${clang[@]}" -DKESTREL_SANITIZE=thread \
                -DKESTREL_CLANG_TIDY=OFF ;;
        arm64) build_linux build-linux-arm64 \
                 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/linux-aarch64.cmake" ;;
        *) echo "LINUX_BUILDS holds gcc, clang, tsan or arm64" >&2; exit 2 ;;
      esac
    done
    exit 0 ;;
  *) echo "PLATFORM must be windows, linux or both" >&2; exit 2 ;;
esac
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
if [[ $arch == all && $compiler == gcc ]]; then
  arch=both
fi
if [[ $arch == both || $arch == all ]]; then
  x86_dir=${X86_BUILD_DIR:-$root/build$suffix-x86}
  ARCH=x86 BUILD_DIR="$x86_dir" "$root/scripts/build.sh"
  others=(-DKESTREL_X86_BUILD_DIR="$x86_dir" -DKESTREL_ARM64_BUILD_DIR=)
  if [[ $arch == all ]]; then
    arm64_dir=${ARM64_BUILD_DIR:-$root/build-arm64}
    ARCH=arm64 BUILD_DIR="$arm64_dir" "$root/scripts/build.sh"
    others[1]=-DKESTREL_ARM64_BUILD_DIR="$arm64_dir"
  fi
  exec env ARCH=x64 "$root/scripts/build.sh" "${others[@]}" "$@"
fi
case $compiler-$arch in
  *-x64) toolchain+=-x86_64.cmake build_dir=${BUILD_DIR:-$root/build$suffix} tests=ON ;;
  *-x86) toolchain+=-i686.cmake build_dir=${BUILD_DIR:-$root/build$suffix-x86} tests=OFF ;;
  clang-arm64) toolchain+=-aarch64.cmake build_dir=${BUILD_DIR:-$root/build-arm64} tests=ON ;;
  gcc-arm64) echo "ARCH=arm64 builds with Clang only (no GCC for ARM64 Windows)" >&2; exit 2 ;;
  *) echo "ARCH must be x64, x86, arm64, both or all" >&2; exit 2 ;;
esac
toolchain=$root/cmake/$toolchain
cache=$build_dir/CMakeCache.txt
fresh=()
if [[ -f $cache ]] && ! grep -qx "CMAKE_TOOLCHAIN_FILE:FILEPATH=$toolchain" "$cache"; then
  fresh=(--fresh)
fi
# A folder configured when its architecture built no tests is configured again.
if [[ ! -f $cache || $# -gt 0 || ${#fresh[@]} -gt 0 ]] ||
   ! grep -qx "KESTREL_BUILD_TESTS:BOOL=$tests" "$cache"; then
  cmake "${fresh[@]}" -S "$root" -B "$build_dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" -DKESTREL_BUILD_TESTS="$tests" "$@" >/dev/null
fi
cmake --build "$build_dir" --parallel "$(nproc)"
