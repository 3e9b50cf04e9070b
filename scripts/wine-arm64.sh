#!/usr/bin/env bash
# Runs an ARM64 Windows program under Debian's Wine for arm64, emulated by qemu-user.
#
# That Wine is never installed: wine64:arm64 would take the place of the amd64 wine64 that
# runs everything else. Its packages (and the arm64 C runtime and libraries it loads) are
# downloaded and unpacked once into a folder of their own beside the ARM64 MinGW-w64
# sysroot, $KESTREL_TOOLCHAIN_CACHE (default /var/cache/kestrel-toolchains), in
# wine-arm64-<version>-<list>/: the version of the installed amd64 Wine and a digest of the
# package list, so that clones with another list (older branches) keep folders of their own.
#
# Usage: wine-arm64.sh --fetch (scripts/install-deps.sh; nothing to do when done already)
#        wine-arm64.sh PROGRAM [ARGUMENTS...], in WINEPREFIX (scripts/wine-run.sh.in)
#
# A prefix is made by the amd64 Wine (scripts/wine-prefix.sh); on its first ARM64 run its
# system32 gets the ARM64 builds of Wine's own DLLs and programs. The arm64 wineserver is
# started by Wine itself, through the wrapper that stands in for its wineserver script.
#
# What runs there: programs, their threads, DLLs, COM, the registry, Core Audio over ALSA,
# DirectSound: the whole Windows suite of an arm64 build but two cases. What does not:
# Debian builds that Wine without a PE compiler, so its DLLs are ELF libraries with Linux's
# ARM64 calling convention. Their va_list is a structure where Windows passes a pointer, so
# a va_list handed to msvcrt (vsnprintf, _vsnwprintf) crashes: the project formats with
# MinGW's own formatters. And they may use x18 as a scratch register, which Windows keeps
# for the thread's TEB: GetSystemTime returns with 10000000 in it, and a thread_local read
# after it faults (the two cases left out, tests/package_checks_win.cmake). CreateProcess
# fails as well (ERROR_INTERNAL_ERROR), so a system program named alone runs by its path.
set -euo pipefail
cache_root=${KESTREL_TOOLCHAIN_CACHE:-/var/cache/kestrel-toolchains}
wine_version=$(dpkg-query -W -f='${Version}' wine64)
# Wine, then the arm64 libraries it loads that the machine may not have: without FreeType
# (and its own libraries) Wine says so on every program's stderr, and without the
# sound-server plugins ALSA complains about the hook its configuration names.
packages=(wine64 libwine libc6 libgcc-s1 libunwind8 liblzma5 libasound2 libasound2-plugins
  libfreetype6 libpng16-16 libbrotli1 zlib1g)
root=$cache_root/wine-arm64-$wine_version-$(echo "${packages[*]}" | sha256sum | cut -c1-8)
stamp=$root/.kestrel-wine-stamp

stamp_text="$wine_version: ${packages[*]}"
fetched() { [[ -f $stamp && $(<"$stamp") == "$stamp_text" ]]; }

if [[ ${1:-} == --fetch ]]; then
  if fetched; then
    exit 0
  fi
  mkdir -p "$cache_root"
  exec 9>"$cache_root/.lock"
  flock 9
  if fetched; then
    exit 0
  fi
  if ! dpkg --print-foreign-architectures | grep -qx arm64; then
    dpkg --add-architecture arm64
    apt-get -o DPkg::Lock::Timeout=900 update -qq
  fi
  rm -rf "$root.new"
  mkdir -p "$root.new/debs"
  chown _apt "$root.new/debs" 2>/dev/null || true  # apt downloads as _apt where it can write
  libraries=("${packages[@]:2}")
  (cd "$root.new/debs" &&
   apt-get download -qq "wine64:arm64=$wine_version" "libwine:arm64=$wine_version" \
     "${libraries[@]/%/:arm64}")
  for deb in "$root.new"/debs/*.deb; do
    dpkg-deb -x "$deb" "$root.new/root"
  done
  # Wine starts its server as <its folder>/wineserver: the emulated arm64 one.
  cat >"$root.new/root/usr/lib/wine/wineserver" <<'EOF'
#!/bin/sh
# The arm64 wineserver, emulated; Wine starts it from here when none runs for a prefix.
root=$(cd "$(dirname "$0")/../../.." && pwd)
exec qemu-aarch64-static -L "$root" "$root/usr/lib/wine/wineserver64" "$@"
EOF
  chmod +x "$root.new/root/usr/lib/wine/wineserver"
  rm -rf "$root.new/debs"
  echo "$stamp_text" >"$root.new/.kestrel-wine-stamp"
  rm -rf "$root"
  mv "$root.new" "$root"
  echo "Wine for arm64 unpacked in $root"
  exit 0
fi

if ! fetched; then
  echo "wine-arm64.sh: no Wine for arm64 in $root (wine-arm64.sh --fetch)" >&2
  exit 1
fi
: "${WINEPREFIX:?wine-arm64.sh runs in WINEPREFIX}"
marker=$WINEPREFIX/.kestrel-arm64-builtins
if [[ ! -f $marker ]]; then
  exec 9>"$marker.lock"
  flock 9
  if [[ ! -f $marker ]]; then
    builtins=$root/root/usr/lib/aarch64-linux-gnu/wine/aarch64-windows
    cp -f "$builtins"/* "$WINEPREFIX/drive_c/windows/system32/"
    cp -f "$builtins"/*.sys "$WINEPREFIX/drive_c/windows/system32/drivers/"
    touch "$marker"
  fi
  exec 9>&-
fi
# The loader would execute itself again (through the preloader), which the emulator
# cannot do: it runs as it is.
export WINELOADERNOEXEC=1
# The program by its drive Z: path: given a Unix path, that Wine names the program's own
# folder without a drive, and nothing loads from there.
# A system program named alone (regedit) by its system32 path: found by name, Wine would
# start it through CreateProcess, which fails there.
program=$1
shift
if [[ -f $program ]]; then
  program=$(realpath -s "$program")
  program=Z:${program//\//\\}
elif [[ $program != *[\\/:]* && -f $WINEPREFIX/drive_c/windows/system32/${program%.exe}.exe ]]; then
  program='C:\windows\system32\'${program%.exe}.exe
fi
exec qemu-aarch64-static -L "$root/root" "$root/root/usr/lib/wine/wine64" "$program" "$@"
