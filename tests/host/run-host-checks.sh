#!/usr/bin/env bash
# Builds the portable log core and its tests with the host's compiler and runs them under
# ASan+UBSan and under TSan. Usage: run-host-checks.sh OUTPUT_DIR
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
out=${1:?usage: run-host-checks.sh OUTPUT_DIR}
for sanitizer in address thread; do
  dir=$out/$sanitizer
  if [[ ! -f $dir/CMakeCache.txt ]]; then
    cmake -S "$here" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DKESTREL_HOST_SANITIZER=$sanitizer >/dev/null
  fi
  cmake --build "$dir" --parallel "$(nproc)"
  "$dir/log_host_tests"
done
