#!/usr/bin/env bash
# Builds, then runs the benchmark (platform_bench: each exported call against the same
# platform work done directly) and prints its figures, for each platform of PLATFORM (both,
# the default; or windows, or linux): under Wine in the Windows build's private prefix, and
# natively from build-linux/ against a private sound server, to which the benchmark adds its
# microphones, and a private PipeWire whose cameras one row lists (scripts/bench-linux.sh). A
# benchmark is a program, not a test: it never fails on a figure.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
platform=${PLATFORM:-both}
if [[ $platform != linux ]]; then
  build_dir=${BUILD_DIR:-$root/build}
  PLATFORM=windows BUILD_DIR="$build_dir" "$root/scripts/build.sh"
  "$build_dir/wine-run.sh" "$build_dir/bin/platform_bench.exe"
fi
if [[ $platform != windows ]]; then
  PLATFORM=linux LINUX_BUILDS=gcc "$root/scripts/build.sh"
  echo
  echo "Linux (build-linux/):"
  "$root/scripts/bench-linux.sh" "$root/build-linux"
fi
