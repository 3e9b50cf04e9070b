#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, then (unless PLATFORM=linux)
# makes the ARM64 MinGW-w64 sysroot (scripts/mingw-arm64-sysroot.sh) and unpacks Wine for
# arm64 (scripts/wine-arm64.sh), once per machine; does nothing when all is present
# already, so a second run costs a second.
set -euo pipefail
packages=(
  cmake ninja-build
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix mingw-w64-tools
  binutils-mingw-w64-x86-64 binutils-mingw-w64-i686
  make bzip2 xz-utils binutils-aarch64-linux-gnu qemu-user-static
  wine wine64 libasound2 libasound2-plugins
  googletest python3
  g++ libgtest-dev
  libpulse-dev libasound2-dev
  clang lld llvm clang-tidy clang-format
  libclang-rt-14-dev pkg-config
)
# The tests' private sound server: the daemon alone, without the desktop session pieces
# that its recommendations would bring.
server_packages=(pulseaudio)
not_installed() {
  for p in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
      echo "$p"
    fi
  done
}
mapfile -t missing < <(not_installed "${packages[@]}")
mapfile -t missing_server < <(not_installed "${server_packages[@]}")
if ((${#missing[@]} + ${#missing_server[@]})); then
  echo "Installing: ${missing[*]} ${missing_server[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  if ((${#missing[@]})); then apt-get install -y -qq "${missing[@]}"; fi
  if ((${#missing_server[@]})); then
    apt-get install -y -qq --no-install-recommends "${missing_server[@]}"
  fi
fi
if [[ ${PLATFORM:-} != linux ]]; then
  "$(dirname "${BASH_SOURCE[0]}")/mingw-arm64-sysroot.sh"
  "$(dirname "${BASH_SOURCE[0]}")/wine-arm64.sh" --fetch
fi
