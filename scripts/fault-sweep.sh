#!/usr/bin/env bash
# Runs each fault of a blind sweep through the whole suite and prints the table for the
# closing note. FAULTS_DIR holds one unified diff per fault (NAME.diff, made with `git
# diff` at the tree's root; its first line a "# what it breaks" comment). Each fault is
# applied, built (x64), run through ctest and undone; its build and test output lands in
# FAULTS_DIR/NAME.log. A fault that the build's static analysis refuses counts as caught; one
# that does not build otherwise, or does not apply, is reported as such.
# With FAULT_BASE=<commit>, a fault that no longer applies as written is taken from that
# commit, the one it was written against, and merged in with git's rename detection, so a
# sweep can be run again after files have moved.
# The Linux suite instead: PLATFORM=linux LINUX_BUILDS=gcc BUILD_DIR=<root>/build-linux
# (build.sh then builds that one Linux build, and ctest runs there).
# Usage: [FAULT_BASE=<commit>] scripts/fault-sweep.sh FAULTS_DIR [ctest arguments]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${BUILD_DIR:-$root/build}
faults=$(cd "${1:?usage: fault-sweep.sh FAULTS_DIR [ctest arguments]}" && pwd)
shift
if ! git -C "$root" diff --quiet; then
  echo "fault-sweep: the tree has changes of its own; commit or stash them first" >&2
  exit 2
fi
"$root/scripts/build.sh" >/dev/null
if ! (cd "$build_dir" && ctest --timeout 120 "$@" >"$faults/baseline.log" 2>&1); then
  echo "fault-sweep: the suite fails without any fault (see $faults/baseline.log)" >&2
  exit 1
fi
caught=0 survived=0
# Applies fault $1 to the tree; undone with `git checkout -- .` (the tree was clean).
apply_fault() {
  git -C "$root" apply "$1" 2>/dev/null && return 0
  [[ -n ${FAULT_BASE:-} ]] || return 1
  local base_tree status=0
  base_tree=$(mktemp -d)
  git -C "$root" worktree add -q --detach "$base_tree" "$FAULT_BASE"
  if git -C "$base_tree" apply "$1" && git -C "$base_tree" -c user.name=sweep \
       -c user.email=sweep@localhost commit -qam "fault"; then
    git -C "$root" cherry-pick --no-commit "$(git -C "$base_tree" rev-parse HEAD)" >/dev/null ||
      status=1
    git -C "$root" reset -q  # a conflicted merge is undone by the caller's checkout
  else
    status=1
  fi
  git -C "$root" worktree remove --force "$base_tree"
  return $status
}
for fault in "$faults"/*.diff; do
  name=$(basename "$fault" .diff)
  log="$faults/$name.log"
  if ! apply_fault "$fault" 2>"$log"; then
    git -C "$root" checkout -q -- .
    printf '%-40s does not apply\n' "$name"
    continue
  fi
  if ! "$root/scripts/build.sh" >>"$log" 2>&1; then
    # The Clang build's thread-safety analysis and clang-tidy catch faults as they compile.
    if grep -qE -- '(-Werror,-Wthread-safety|thread-safety[a-z-]*|,-warnings-as-errors)\]' "$log"; then
      result="caught: build (static analysis)"
      caught=$((caught + 1))
    else
      result="does not build"
    fi
  elif (cd "$build_dir" && ctest --timeout 120 --output-on-failure "$@" >>"$log" 2>&1); then
    result="SURVIVED"
    survived=$((survived + 1))
  else
    # The failing CTest entries, and the GoogleTest cases among them.
    # (A failure outside GoogleTest has no case names: grep may find nothing.)
    result="caught: $( (grep -oE '[0-9]+ - [^ ]+ \((Failed|Timeout|SEGFAULT|Exception)' "$log" || true) |
      sed -E 's/^[0-9]+ - ([^ ]+).*/\1/' | sort -u | tr '\n' ' ')$( (grep -oE '^\[  FAILED  \] [A-Za-z0-9_]+\.[A-Za-z0-9_]+' "$log" || true) |
      sed 's/^\[  FAILED  \] //' | sort -u | tr '\n' ' ')"
    caught=$((caught + 1))
  fi
  git -C "$root" checkout -q -- .
  printf '%-40s %s\n' "$name" "$result"
done
"$root/scripts/build.sh" >/dev/null
echo "caught $caught of $((caught + survived)) faults that built"
