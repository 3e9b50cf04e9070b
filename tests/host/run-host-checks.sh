#!/usr/bin/env bash
# Builds the log core for the host and runs its tests under ASan+UBSan and TSan, then
# fuzzes trim, masking and the ring for a bounded time (FUZZ_SECONDS, default 60).
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
out=${1:-$here/../../build/host-log}
fuzz_seconds=${FUZZ_SECONDS:-60}
jobs=$(nproc)

configure_and_test() {  # name, compiler, sanitizer
  local dir=$out/$1
  if [[ ! -f $dir/CMakeCache.txt ]]; then
    cmake -S "$here/project" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_CXX_COMPILER="$2" -DKESTREL_HOST_SANITIZER="$3" >/dev/null
  fi
  cmake --build "$dir" --parallel "$jobs"
  (cd "$dir" && ctest --output-on-failure)
}

configure_and_test asan g++ address
configure_and_test tsan g++ thread
# libFuzzer comes with clang; the fuzzer starts from its own corpus directory each run.
configure_and_test fuzz clang++ fuzzer
corpus=$out/fuzz/corpus
mkdir -p "$corpus"
"$out/fuzz/log_core_fuzz" -max_total_time="$fuzz_seconds" -print_final_stats=1 "$corpus"
