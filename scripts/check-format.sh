#!/usr/bin/env bash
# Lists the C and C++ files whose layout differs from .clang-format and exits 1 when there
# are any; with --fix, reformats them instead. Needs clang-format (Debian: clang-format).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
mapfile -t files < <(git ls-files '*.c' '*.cpp' '*.h')
if [[ ${1:-} == --fix ]]; then
  exec clang-format -i "${files[@]}"
fi
status=0
for file in "${files[@]}"; do
  clang-format --dry-run --Werror "$file" 2>/dev/null || { echo "$file"; status=1; }
done
exit $status
