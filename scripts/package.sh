#!/usr/bin/env bash
# Builds and packs both platforms, then lists what it wrote.
# Windows: the three architectures with Clang (scripts/build.sh ARCH=all), into
# build/kestrelCliLib-<version>-windows.zip (bin/<arch> and lib/<arch> for x64, x86 and
# arm64, with both import libraries, include/, the CMake package that picks the consumer's
# architecture and ABI) and build/kestrelCliLib-<version>-windows-debug.zip (each binary's
# PDB).
# Linux: the GCC builds for x86-64 (build-linux/) and arm64 (build-linux-arm64/), each into
# kestrelCliLib-<version>-linux-<x86_64|aarch64>.tar.gz (lib/ with libkestrelCliLib.so.2.1.0
# and its links, the CMake package and pkg-config's file, bin/mmdrctl and its manual page,
# include/; stripped) and kestrelCliLib-<version>-linux-<...>-debug.tar.gz (each binary's
# debug file under lib/debug/.build-id/), and into the Debian packages of that
# architecture, in <build>/deb/ (scripts/deb.sh: from the binaries the build made, checked
# by lintian).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/scripts/install-deps.sh"
windows=${BUILD_DIR:-$root/build}
PLATFORM=windows ARCH=all "$root/scripts/build.sh"
(cd "$windows" && cpack)
PLATFORM=linux LINUX_BUILDS="gcc arm64" "$root/scripts/build.sh"
linux=()
for build in build-linux:x86_64-linux-gnu build-linux-arm64:aarch64-linux-gnu; do
  dir=$root/${build%%:*}
  (cd "$dir" && cpack)
  "$root/scripts/deb.sh" "$dir" "${build#*:}"
  linux+=("$dir"/kestrelCliLib-*.tar.gz "$dir"/deb/*.deb)
done
echo "package.sh wrote:"
ls -1 "$windows"/kestrelCliLib-*.zip "${linux[@]}"
