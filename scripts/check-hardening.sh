#!/usr/bin/env bash
# Checks what a Linux build ships for Debian's hardening, as Debian's own tools see it:
# - blhc on the build's log of the shipped library and mmdrctl (the commands Ninja runs for
#   them, as a verbose build prints them), and there each compiler call's
#   -fstack-clash-protection and, on amd64, -fcf-protection, which this blhc does not know;
# - hardening-check on the packaged library and mmdrctl (scripts/deb.sh, unpacked into
#   ROOT), but for its control-flow check: that reads the IBT and SHSTK properties of the
#   linked binary, which the linker keeps only when every object has them, and Debian 12's
#   C library start files (crti.o, crtn.o, Scrt1.o) have none; its own /usr/bin/ls fails
#   there too. Each of our objects has them (-fcf-protection, checked in the log above).
# Any "no", any missing flag fails. Prints the log's flags and hardening-check's report.
# Usage: check-hardening.sh BUILD_DIR ROOT MULTIARCH   (e.g. build-linux
#        build-linux/deb/runtime x86_64-linux-gnu)
set -euo pipefail
build=${1:?usage: check-hardening.sh BUILD_DIR ROOT MULTIARCH}
root=${2:?usage: check-hardening.sh BUILD_DIR ROOT MULTIARCH}
multiarch=${3:?usage: check-hardening.sh BUILD_DIR ROOT MULTIARCH}
arch=$(dpkg-architecture -t "$multiarch" -qDEB_HOST_ARCH 2>/dev/null)
# The library's real file, whatever its minor version (no match: hardening-check fails).
library=$(cd "$root" && echo "usr/lib/$multiarch/"libkestrelCliLib.so.2.*.*)
status=0

log=$build/hardening-build.log
{
  # blhc reads a log from the line where dpkg-buildpackage names the architecture.
  echo "dpkg-buildpackage: info: host architecture $arch"
  ninja -C "$build" -t commands "bin/${library##*/}" bin/mmdrctl
} >"$log"
blhc --all "$log" || status=1
required=(-fstack-clash-protection)
if [[ $arch == amd64 ]]; then
  required+=(-fcf-protection)
fi
compiles=$(grep -c -- ' -c ' "$log")
for flag in "${required[@]}"; do
  missing=$(grep -- ' -c ' "$log" | grep -cv -- " $flag\b" || true)
  if ((missing > 0)); then
    echo "check-hardening.sh: $missing of $compiles compiler calls without $flag" >&2
    status=1
  fi
done
echo "The build log's hardening flags ($compiles compiler calls, $log):"
flags='-D_FORTIFY_SOURCE=[0-9]|-fstack-[a-z-]+|-fcf-protection|-Wl,-z,[a-z]+|-f?pie|-fPIE'
grep -oE -- " ($flags|-Werror=format-security)\b" "$log" | sort | uniq -c

# Its stack-clash check disassembles with the host's objdump, which knows x86 code only:
# another machine's binaries are "unknown" there (and objdump says why on stderr).
hardening-check --nocfprotection "$root/$library" "$root/usr/bin/mmdrctl" || status=1
exit $status
