#!/usr/bin/env bash
# The whole test suite: installs what it needs, builds, and runs every test under Wine.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"
build_dir=${BUILD_DIR:-$root/build}
cd "$build_dir"
ctest --output-on-failure "$@"
