#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need (the arm64 Linux build's
# libraries from the arm64 architecture, which is enabled when it is not yet), then (unless
# PLATFORM=windows) makes the Debian root of the packages' autopkgtest suite
# (scripts/autopkgtest.sh --root) and (unless PLATFORM=linux) makes the ARM64 MinGW-w64
# sysroot (scripts/mingw-arm64-sysroot.sh) and unpacks Wine for arm64
# (scripts/wine-arm64.sh), once per machine; does nothing when all is present already, so a
# second run costs a second.
set -euo pipefail
packages=(
  cmake ninja-build
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix mingw-w64-tools
  binutils-mingw-w64-x86-64 binutils-mingw-w64-i686
  make bzip2 xz-utils
  wine wine64 libasound2 libasound2-plugins
  googletest python3
  g++ libgtest-dev
  libpulse-dev libasound2-dev libpipewire-0.3-dev
  clang lld llvm clang-tidy clang-format
  libclang-rt-14-dev pkg-config
  g++-aarch64-linux-gnu binutils-aarch64-linux-gnu qemu-user-static
  debhelper dpkg-dev lintian
)
# What the arm64 programs load under the emulator: the library opens libpulse and
# libasound at run time; platform_bench links libpulse0's library with the host's headers.
# The arm64 Debian packages' dependencies come from the arm64 C++ runtime's symbols.
arm64_packages=(libpulse0:arm64 libasound2:arm64 libstdc++6:arm64)
# Without what their recommendations would bring: the tests' private sound servers (the
# daemons alone, no desktop session pieces: PulseAudio, and PipeWire with its session
# manager, its pulse server and SPA's plugins), and Debian's checks of the packages:
# hardening-check (devscripts), blhc, autopkgtest and the root mmdebstrap makes for it.
lean_packages=(pulseaudio pipewire pipewire-pulse wireplumber libspa-0.2-modules
  devscripts blhc autopkgtest mmdebstrap)
not_installed() {
  for p in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
      echo "$p"
    fi
  done
}
mapfile -t missing < <(not_installed "${packages[@]}")
mapfile -t missing_lean < <(not_installed "${lean_packages[@]}")
mapfile -t missing_arm64 < <(not_installed "${arm64_packages[@]}")
if ((${#missing[@]} + ${#missing_lean[@]} + ${#missing_arm64[@]})); then
  echo "Installing: ${missing[*]} ${missing_lean[*]} ${missing_arm64[*]}"
  export DEBIAN_FRONTEND=noninteractive
  # Another apt run on the machine holds the lock for a while: wait for it.
  apt=(apt-get -o DPkg::Lock::Timeout=900)
  if ((${#missing_arm64[@]})) && ! dpkg --print-foreign-architectures | grep -qx arm64; then
    dpkg --add-architecture arm64
  fi
  "${apt[@]}" update -qq
  if ((${#missing[@]})); then "${apt[@]}" install -y -qq "${missing[@]}"; fi
  if ((${#missing_lean[@]})); then
    "${apt[@]}" install -y -qq --no-install-recommends "${missing_lean[@]}"
  fi
  if ((${#missing_arm64[@]})); then
    "${apt[@]}" install -y -qq --no-install-recommends "${missing_arm64[@]}"
  fi
fi
if [[ ${PLATFORM:-} != windows ]]; then
  "$(dirname "${BASH_SOURCE[0]}")/autopkgtest.sh" --root
fi
if [[ ${PLATFORM:-} != linux ]]; then
  "$(dirname "${BASH_SOURCE[0]}")/mingw-arm64-sysroot.sh"
  "$(dirname "${BASH_SOURCE[0]}")/wine-arm64.sh" --fetch
fi
