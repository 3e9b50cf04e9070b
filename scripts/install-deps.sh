#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need; does nothing when they are
# all present already, so a second run costs a second.
set -euo pipefail
packages=(
  cmake ninja-build
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix mingw-w64-tools
  binutils-mingw-w64-x86-64 binutils-mingw-w64-i686
  wine wine64 libasound2 libasound2-plugins
  googletest python3
  g++ libgtest-dev
  clang lld llvm clang-tidy clang-format
)
missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${missing[@]}"
fi
