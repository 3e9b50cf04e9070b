#!/usr/bin/env bash
# The Linux half of the benchmark (scripts/bench.sh, after it has built): BUILD_DIR's
# platform_bench against a private sound server, to which it adds its microphones, and a
# private PipeWire whose cameras one row lists (both in BUILD_DIR, stopped at the end).
# Arguments go to platform_bench (repetitions, --no-watch).
# Usage: bench-linux.sh BUILD_DIR [ARGUMENTS...]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${1:?usage: bench-linux.sh BUILD_DIR [ARGUMENTS...]}
shift
server=$build_dir/bench-sound pipewire=$build_dir/bench-pipewire
trap '"$root/scripts/sound-server.sh" stop "$server"; "$root/scripts/sound-server.sh" stop "$pipewire"' EXIT
eval "$("$root/scripts/sound-server.sh" start "$server")"
# Two cameras only PipeWire shows, and a V4L2 device's node.
KESTREL_BENCH_PIPEWIRE=$(SOUND_SERVER=pipewire "$root/scripts/sound-server.sh" start "$pipewire" \
  'camera:\_SB_.PCI0.LNK0=Bench Built-in Camera' 'camera:/base/i2c@1a=Bench Camera Module' \
  'v4l2:pci-usb-1=Bench USB Camera=/dev/video99' | sed -n 's/^export PIPEWIRE_REMOTE=//p')
export KESTREL_BENCH_PIPEWIRE
"$build_dir/bin/platform_bench" "$@"
