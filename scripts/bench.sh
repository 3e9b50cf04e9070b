#!/usr/bin/env bash
# Builds, then runs the benchmark (platform_bench: each exported call against the same
# platform work done directly) under Wine in the build's private prefix and prints its
# figures. A benchmark is a program, not a test: it never fails on a figure.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${BUILD_DIR:-$root/build}
BUILD_DIR="$build_dir" "$root/scripts/build.sh"
"$build_dir/wine-run.sh" "$build_dir/bin/platform_bench.exe"
