#!/usr/bin/env bash
# Packs a Linux build made already (scripts/build.sh) into the Debian packages of debian/:
# libkestrelclilib2, libkestrelclilib-dev and mmdrctl, for the architecture the build is
# for, without compiling anything again (debian/rules, KESTREL_BUILD_DIR). Then lintian
# checks the .changes: an error or a warning fails (an override in debian/ says why).
# Usage: deb.sh BUILD_DIR MULTIARCH   (e.g. build-linux x86_64-linux-gnu)
# Writes BUILD_DIR/deb/: the .deb files, the .changes and the .buildinfo.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(cd "${1:?usage: deb.sh BUILD_DIR MULTIARCH}" && pwd)
arch=$(dpkg-architecture -t "${2:?usage: deb.sh BUILD_DIR MULTIARCH}" -qDEB_HOST_ARCH 2>/dev/null)
out=$build/deb
# debian/rules runs in a copy (dpkg-buildpackage writes into debian/ and beside the
# source folder), so that the tree stays clean and two architectures can pack at once.
rm -rf "$out"
mkdir -p "$out/source"
cp -r "$root/debian" "$out/source/"
# -d: the build deps are those of compiling, done already; -nc: a fresh copy, nothing to
# clean.
(cd "$out/source" &&
  KESTREL_BUILD_DIR=$build dpkg-buildpackage -a "$arch" -b -nc -d -us -uc >build.log 2>&1) ||
  { cat "$out/source/build.log" >&2; echo "deb.sh: dpkg-buildpackage failed" >&2; exit 1; }
changes=("$out"/*.changes)
lintian --fail-on error,warning --show-overrides "${changes[@]}"
echo "deb.sh: $arch packages in $out:"
(cd "$out" && ls -1 ./*.deb)
