#!/usr/bin/env bash
# Runs the packages' autopkgtest suite (debian/tests/) against Debian packages made already
# (scripts/deb.sh), the way Debian tests a package: apt installs them into a Debian root of
# their own, never into this machine. Each run gets a fresh root: an overlay whose changes
# go to a scratch folder, over the root made once, with autopkgtest-virt-chroot in mount and
# process namespaces of its own (its /proc, the machine's /dev), which end with the run and
# every process left in them. (autopkgtest-virt-unshare would need subordinate ids for root
# in /etc/subuid, and unpacks a tarball of the root for each run: some 25 s here.)
#
# The root: this machine's Debian release and architecture, from its apt sources
# (mmdebstrap), with the tests' dependencies (the Depends of debian/tests/control but our own
# packages) and autopkgtest's (apt-utils) installed already, so that a run installs only
# ours. It is made once per machine, outside any clone, so that fresh clones (CI) reuse it:
# a folder in $KESTREL_TOOLCHAIN_CACHE (default /var/cache/kestrel-toolchains) named after
# the release, the architecture and a digest of what it holds; a root that no longer
# matches is replaced.
#
# Usage: autopkgtest.sh --root            makes the root unless it is there (needs root)
#        autopkgtest.sh DEB_DIR OUT_DIR   runs the suite on DEB_DIR/*.deb (this architecture's),
#                                         its logs and summary into OUT_DIR (emptied first)
set -euo pipefail
source=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cache_root=${KESTREL_TOOLCHAIN_CACHE:-/var/cache/kestrel-toolchains}
release=$(. /etc/os-release && echo "$VERSION_CODENAME")
arch=$(dpkg --print-architecture)
# The tests' dependencies, but the packages under test; autopkgtest's own.
mapfile -t depends < <({ echo apt-utils; sed -n 's/^Depends://p' "$source/debian/tests/control"; } |
                       tr ', ' '\n\n' | grep -vxE '|libkestrelclilib.*|mmdrctl' | sort -u)
digest=$(printf '%s\n' "$release" "${depends[@]}" | sha256sum | cut -c1-16)
base=$cache_root/autopkgtest-$release-$arch-$digest

make_root() {
  [[ -d $base ]] && return 0
  mkdir -p "$cache_root"
  exec 9>"$cache_root/.autopkgtest.lock"
  flock 9
  [[ -d $base ]] && return 0  # made while this call waited
  local sources=() file began=$SECONDS
  for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list \
              /etc/apt/sources.list.d/*.sources; do
    [[ -s $file ]] && sources+=("$file")
  done
  echo "Making the autopkgtest root ($release, $arch: ${depends[*]}) in $base"
  rm -rf --one-file-system "$cache_root/autopkgtest-$release-$arch-"*
  local log=$cache_root/autopkgtest-$release-$arch.log
  if ! nice mmdebstrap --variant=apt --include="$(IFS=,; echo "${depends[*]}")" \
         --format=directory "$release" "$base.new" "${sources[@]}" >"$log" 2>&1; then
    tail -n 30 "$log" >&2
    echo "autopkgtest.sh: mmdebstrap failed; the whole log is $log" >&2
    exit 1
  fi
  mv "$base.new" "$base"
  echo "autopkgtest root made in $((SECONDS - began)) s ($(du -sh "$base" | cut -f1))"
}

if [[ ${1:-} == --root ]]; then
  make_root
  exit 0
fi
debs=${1:?usage: autopkgtest.sh --root | DEB_DIR OUT_DIR}
out=${2:?usage: autopkgtest.sh --root | DEB_DIR OUT_DIR}
make_root
# The tests read the source tree (debian/, the consumer, README's example, the sound
# server's script): autopkgtest copies that into the root, so only those go.
scratch=$(mktemp -d "${TMPDIR:-/tmp}/kestrel-autopkgtest.XXXXXX")
trap 'rm -rf --one-file-system "$scratch"' EXIT
mkdir "$scratch/tree" "$scratch/root" "$scratch/changes" "$scratch/overlay"
(cd "$source" && cp -r --parents debian README.md tests/consumer scripts/sound-server.sh \
  "$scratch/tree")
rm -rf "$out"
status=0
# In mount and process namespaces of their own: the overlay, /proc, /dev, then autopkgtest.
fresh_root='scratch=$1 base=$2
  shift 2
  mount -t overlay overlay "$scratch/root" \
    -o "lowerdir=$base,upperdir=$scratch/changes,workdir=$scratch/overlay" &&
    mount -t proc proc "$scratch/root/proc" && mount --rbind /dev "$scratch/root/dev" &&
    exec "$@"'
# TMPDIR names a folder of this machine, which the root lacks: the testbed's mktemp would fail.
unshare --mount --pid --fork -- sh -c "$fresh_root" sh "$scratch" "$base" env -u TMPDIR \
  autopkgtest --output-dir "$out" --summary-file "$out/summary" --timeout-test=300 \
  "$debs"/*_"$arch".deb "$scratch/tree/" -- chroot "$scratch/root" >"$out.log" 2>&1 || status=$?
if ((status != 0)); then
  cat "$out.log" >&2
fi
echo "autopkgtest (exit status $status):"
cat "$out/summary"
exit $status
