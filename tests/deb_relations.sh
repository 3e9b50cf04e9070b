#!/bin/sh
# What apt reads in the packages of DIR (usage: deb_relations.sh DIR): -dev and mmdrctl bring
# the library of their version, which recommends the sound libraries it loads; library and
# -dev install for two architectures at once, and mmdrctl serves them all; a program built
# against the library depends on a version that has all twelve exports.
set -u
dir=${1:?usage: deb_relations.sh DIR}
failed=0
field() { dpkg-deb -f "$dir/$1"_*.deb "$2"; }
fail() { echo "FAIL: $*"; failed=1; }
expect() {  # PACKAGE FIELD ITEM: the field's comma-separated list holds the item
  case ", $(field "$1" "$2")," in *", $3,"*) ;; *) fail "$1 $2 is '$(field "$1" "$2")', without '$3'" ;; esac
}
version=$(field libkestrelclilib2 Version)
expect libkestrelclilib2 Multi-Arch same
expect libkestrelclilib-dev Multi-Arch same
expect mmdrctl Multi-Arch foreign
expect libkestrelclilib-dev Depends "libkestrelclilib2 (= $version)"
expect mmdrctl Depends "libkestrelclilib2 (= $version)"
expect libkestrelclilib2 Recommends libasound2
expect libkestrelclilib2 Recommends libpulse0
expect libkestrelclilib2 Recommends libpipewire-0.3-0
symbols=$(dpkg-deb -I "$dir"/libkestrelclilib2_*.deb symbols)
[ "$(echo "$symbols" | head -n 1)" = "libkestrelCliLib.so.2 libkestrelclilib2 #MINVER#" ] ||
  fail "the symbols file does not let dependencies take the version a program needs"
exports=$(echo "$symbols" | grep -c '^ Mmdr_[A-Za-z]*@Base ')
[ "$exports" -eq 12 ] || fail "$exports exports in the symbols file"
echo "$symbols" | grep '^ Mmdr_' | while read -r name since; do
  dpkg --compare-versions "$since" le "$version" || { echo "FAIL: $name since $since"; exit 1; }
done || failed=1
# A program that watches devices needs a library that has the watch calls.
for call in Mmdr_WatchDevices Mmdr_GetWatchDescriptor; do
  echo "$symbols" | grep -qx " $call@Base 2.1.0" || fail "$call is not marked as new in 2.1.0"
done
exit $failed
