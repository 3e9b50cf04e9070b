#!/usr/bin/env bash
# The whole test suite: installs what it needs, builds both architectures, and runs every
# test under Wine. The x86 build is compiled and checked (exports, imports, machine type,
# the installed package from C), never run: these machines cannot run 32-bit programs.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/scripts/install-deps.sh"
ARCH=both "$root/scripts/build.sh"
cd "${BUILD_DIR:-$root/build}"
ctest --output-on-failure "$@"
