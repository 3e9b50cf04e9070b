#!/usr/bin/env bash
# Builds, then runs every benchmark program (tools/*/ targets named *_bench) under Wine
# in the build's private prefix and prints their figures. Benchmarks are programs, not
# tests: they never fail on a figure.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${BUILD_DIR:-$root/build}
BUILD_DIR="$build_dir" "$root/scripts/build.sh"
mapfile -t benches < <(find "$build_dir/tools" -name '*_bench.exe' -type f | sort)
if ((${#benches[@]} == 0)); then
  echo "no benchmark programs found under $build_dir/tools" >&2
  exit 1
fi
status=0
for exe in "${benches[@]}"; do
  echo "== $(basename "$exe" .exe)"
  "$build_dir/wine-run.sh" "$exe" || { echo "$(basename "$exe") exited with $?" >&2; status=1; }
  echo
done
exit $status
