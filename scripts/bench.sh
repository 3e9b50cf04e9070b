#!/usr/bin/env bash
# Builds, then runs the benchmark (platform_bench: each exported call against the same
# platform work done directly) and prints its figures, for each platform of PLATFORM (both,
# the default; or windows, or linux): under Wine in the Windows build's private prefix, and
# natively from build-linux/ against a private sound server (scripts/sound-server.sh) to
# which the benchmark adds its microphones, and a private PipeWire whose cameras one row lists. A benchmark is a program, not a test: it never
# fails on a figure.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
platform=${PLATFORM:-both}
if [[ $platform != linux ]]; then
  build_dir=${BUILD_DIR:-$root/build}
  PLATFORM=windows BUILD_DIR="$build_dir" "$root/scripts/build.sh"
  "$build_dir/wine-run.sh" "$build_dir/bin/platform_bench.exe"
fi
if [[ $platform != windows ]]; then
  PLATFORM=linux LINUX_BUILDS=gcc "$root/scripts/build.sh"
  server=$root/build-linux/bench-sound pipewire=$root/build-linux/bench-pipewire
  trap '"$root/scripts/sound-server.sh" stop "$server"; "$root/scripts/sound-server.sh" stop "$pipewire"' EXIT
  eval "$("$root/scripts/sound-server.sh" start "$server")"
  # And a private PipeWire with two cameras only it shows and a V4L2 device's node.
  KESTREL_BENCH_PIPEWIRE=$(SOUND_SERVER=pipewire "$root/scripts/sound-server.sh" start "$pipewire" \
    'camera:\_SB_.PCI0.LNK0=Bench Built-in Camera' 'camera:/base/i2c@1a=Bench Camera Module' \
    'v4l2:pci-usb-1=Bench USB Camera=/dev/video99' | sed -n 's/^export PIPEWIRE_REMOTE=//p')
  export KESTREL_BENCH_PIPEWIRE
  echo
  echo "Linux (build-linux/):"
  "$root/build-linux/bin/platform_bench"
fi
