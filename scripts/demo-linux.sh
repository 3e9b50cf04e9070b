#!/usr/bin/env bash
# The Linux half of the demonstration (scripts/main.sh, after it has built): through the
# build's mmdrctl, what the library reports of a private PipeWire started with demonstration
# microphones and cameras (and stopped at the end), beside the webcams this machine has, with
# the settings in DEMO_DIR/config. A second run reuses the settings; the suite runs it in a
# folder of its own.
# Usage: demo-linux.sh BUILD_DIR [DEMO_DIR]   (DEMO_DIR: BUILD_DIR/demo by default)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${1:?usage: demo-linux.sh BUILD_DIR [DEMO_DIR]}
demo=${2:-$build_dir/demo}
mmdrctl=$build_dir/bin/mmdrctl
# The demo's microphones and cameras: null sources of a private PipeWire, as a headset, a
# desk microphone and a webcam's microphone would appear, and test-pattern cameras as a
# laptop's built-in camera and a camera module would (V4L2 cannot open either).
eval "$(SOUND_SERVER=pipewire "$root/scripts/sound-server.sh" start "$demo/sound" \
  'demo.Headset=Kestrel Demo Headset' 'demo.DeskMic=Kestrel Demo Desk Microphone' \
  'demo.CameraMic=Kestrel Demo Camera Microphone' \
  'camera:\_SB_.PCI0.LNK0=Kestrel Demo Built-in Camera' \
  'camera:/base/soc/i2c0mux/i2c@1/imx708@1a=Kestrel Demo Camera Module')"
trap '"$root/scripts/sound-server.sh" stop "$demo/sound"' EXIT
export XDG_CONFIG_HOME=$demo/config
if [[ ! -f $XDG_CONFIG_HOME/corvane/meridel/kestrel.conf ]]; then
  # The user's choices, stored the way a support engineer would.
  "$mmdrctl" set-pref audio --device 'Kestrel Demo Desk Microphone' >/dev/null
  "$mmdrctl" set-pref video --device 'Kestrel Demo Camera Module' >/dev/null
  "$mmdrctl" set-option 1 >/dev/null
fi
for command in status 'list video' 'list audio' 'get-pref video' 'get-pref audio' get-option; do
  echo
  echo "== mmdrctl $command (Linux)"
  # shellcheck disable=SC2086 # the command's words
  "$mmdrctl" $command
done
echo
echo "Try it yourself (with this machine's microphones): XDG_CONFIG_HOME=$XDG_CONFIG_HOME $mmdrctl --help"
