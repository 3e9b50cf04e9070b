#!/bin/sh
# Debian's checks refuse what they must: check-hardening.sh a build or a packaged binary short
# of one hardening, autopkgtest.sh packages that apt cannot install (showing autopkgtest's log
# and leaving no scratch folder). The builds' commands are written here: `ninja -t commands`
# prints them without building anything.
# Usage: deb_checks_refuse.sh SOURCE_DIR DEB_DIR WORK_DIR
set -u
source=$1 debs=$2 work=$3
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
arch=$(dpkg --print-architecture)
failed=0
fail() { echo "FAIL: $*"; failed=1; }
rm -rf "$work" && mkdir -p "$work/build" "$work/tmp" "$work/debs"
for deb in "$debs"/libkestrelclilib2_*_"$arch".deb "$debs"/mmdrctl_*_"$arch".deb; do
  dpkg -x "$deb" "$work/root"
done
library=$(cd "$work/root/usr/lib/$multiarch" && echo libkestrelCliLib.so.2.*.*)
hardened="-g -O2 -D_FORTIFY_SOURCE=2 -fstack-protector-strong -fstack-clash-protection -Wformat
  -Werror=format-security"
[ "$arch" = amd64 ] && hardened="$hardened -fcf-protection"
build() {  # LIBRARY'S COMPILE FLAGS, MMDRCTL'S: a build of one object each
  cat >"$work/build/build.ninja" <<EOF
rule cc
  command = /usr/bin/c++ \$flags -fPIE -c \$in -o \$out
rule link
  command = /usr/bin/c++ -g -O2 -fPIE -Wl,-z,relro -Wl,-z,now -pie \$in -o \$out
build library.o: cc library.cpp
  flags = $(echo $1)
build bin/$library: link library.o
build mmdrctl.o: cc mmdrctl.cpp
  flags = $(echo $2)
build bin/mmdrctl: link mmdrctl.o
EOF
}
check() {  # WHAT, then TEXT its refusal says (none: it must pass)
  "$source/scripts/check-hardening.sh" "$work/build" "$work/root" "$multiarch" >"$work/out" 2>&1
  status=$?
  if [ -z "$2" ]; then
    [ $status = 0 ] || { cat "$work/out"; fail "check-hardening.sh refuses $1"; }
  elif [ $status = 0 ] || ! grep -qF -- "$2" "$work/out"; then
    cat "$work/out"
    fail "check-hardening.sh on $1: exit $status, or no '$2'"
  fi
}
build "$hardened" "$hardened"
check "a hardened build" ""
build "$(echo "$hardened" | sed 's/-fstack-clash-protection//')" "$hardened"
check "one compile without stack clash protection" "1 of 2 compiler calls without"
build "$hardened" "$(echo "$hardened" | sed 's/-fstack-clash-protection//')"
check "mmdrctl compiled without stack clash protection" "1 of 2 compiler calls without"
build "$(echo "$hardened" | sed 's/-D_FORTIFY_SOURCE=2//')" "$hardened"
check "a compile without fortified calls" "_FORTIFY_SOURCE"
build "$hardened" "$hardened"
echo 'int main() { return 0; }' | cc -x c - -Wl,-z,lazy -o "$work/root/usr/bin/mmdrctl"
check "a packaged mmdrctl bound lazily" "Immediate binding: no"

# The library missing, apt cannot install the -dev package.
cp "$debs"/libkestrelclilib-dev_*_"$arch".deb "$work/debs"
if TMPDIR=$work/tmp "$source/scripts/autopkgtest.sh" "$work/debs" "$work/autopkgtest" \
     >"$work/out" 2>"$work/err"; then
  fail "autopkgtest.sh passes packages apt cannot install"
fi
grep -q autopkgtest "$work/err" || fail "autopkgtest.sh's failure shows no log"
[ -z "$(ls -A "$work/tmp")" ] || fail "autopkgtest.sh left $(ls "$work/tmp")"
exit $failed
