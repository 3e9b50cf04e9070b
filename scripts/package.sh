#!/usr/bin/env bash
# Builds both architectures with Clang (scripts/build.sh) and packs them into
# build/kestrelCliLib-<version>-windows.zip (bin/x64, bin/x86, lib/x64, lib/x86 with both
# import libraries, include/, the CMake package that picks the consumer's architecture and
# ABI) and build/kestrelCliLib-<version>-windows-debug.zip (each binary's PDB).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/scripts/install-deps.sh"
ARCH=both "$root/scripts/build.sh"
cd "${BUILD_DIR:-$root/build}"
cpack
