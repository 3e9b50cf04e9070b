#!/usr/bin/env bash
# The whole test suite: installs what it needs, builds both architectures, and runs every
# test under Wine. The x86 build is compiled and checked (exports, imports, machine type,
# the installed package from C), never run: these machines cannot run 32-bit programs.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/scripts/install-deps.sh"
x86_dir=${X86_BUILD_DIR:-$root/build-x86}
ARCH=x86 BUILD_DIR="$x86_dir" "$root/scripts/build.sh"
"$root/scripts/build.sh" -DKESTREL_X86_BUILD_DIR="$x86_dir"
cd "${BUILD_DIR:-$root/build}"
ctest --output-on-failure "$@"
