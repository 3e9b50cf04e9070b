#!/usr/bin/env bash
# Builds and packs both platforms.
# Windows: the three architectures with Clang (scripts/build.sh ARCH=all), into
# build/kestrelCliLib-<version>-windows.zip (bin/<arch> and lib/<arch> for x64, x86 and
# arm64, with both import libraries, include/, the CMake package that picks the consumer's
# architecture and ABI) and build/kestrelCliLib-<version>-windows-debug.zip (each binary's
# PDB).
# Linux: the GCC build, into build-linux/kestrelCliLib-<version>-linux-x86_64.tar.gz (lib/
# with libkestrelCliLib.so.2.0.0 and its links, the CMake package and pkg-config's file,
# bin/mmdrctl, include/; stripped) and build-linux/kestrelCliLib-<version>-linux-x86_64-debug.tar.gz
# (each binary's debug file under lib/debug/.build-id/).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/scripts/install-deps.sh"
PLATFORM=windows ARCH=all "$root/scripts/build.sh"
(cd "${BUILD_DIR:-$root/build}" && cpack)
PLATFORM=linux LINUX_BUILDS=gcc "$root/scripts/build.sh"
(cd "$root/build-linux" && cpack)
