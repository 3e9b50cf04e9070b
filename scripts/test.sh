#!/usr/bin/env bash
# The whole test suite: installs what it needs, builds both architectures with both compilers
# (scripts/build.sh COMPILER=both ARCH=both), runs every test under Wine against the shipped
# (Clang) build, and checks the layout of the sources (scripts/check-format.sh). The x86
# builds are compiled and checked (exports, imports, machine type, the installed package
# from C and from Microsoft's ABI), never run: these machines cannot run 32-bit programs.
# Of the GCC x64 build, the suite runs the exported calls (gcc_interface_test).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/scripts/install-deps.sh"
COMPILER=both ARCH=both "$root/scripts/build.sh"
status=0
(cd "${BUILD_DIR:-$root/build}" && ctest --output-on-failure "$@") || status=1
if ! "$root/scripts/check-format.sh"; then
  echo "test.sh: these files differ from .clang-format (scripts/check-format.sh --fix)" >&2
  status=1
fi
exit $status
