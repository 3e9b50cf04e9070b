#!/usr/bin/env bash
# The main job: installs what it needs, then for each platform of PLATFORM (both, the
# default; or windows, or linux) builds and shows through mmdrctl what the library reports.
# Windows: a demonstration Wine prefix (made once) with a few webcams besides the fixture
# microphones, separate from the tests' one so that its webcams never disturb a test.
# Linux (build-linux/, GCC; scripts/demo-linux.sh): a private PipeWire (scripts/sound-server.sh)
# started with demo microphones and cameras and stopped at the end, beside the webcams this
# machine has, and the settings in a demo XDG_CONFIG_HOME under the build directory.
# A second run reuses everything.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
platform=${PLATFORM:-both}
case $platform in
  windows | linux | both) ;;
  *) echo "PLATFORM must be windows, linux or both" >&2; exit 2 ;;
esac
"$root/scripts/install-deps.sh"

windows_demo() {
  PLATFORM=windows "$root/scripts/build.sh"
  build_dir=${BUILD_DIR:-$root/build}
  demo_root="$build_dir/demo-prefix"
  export KESTREL_WINE_PREFIX_ROOT="$demo_root"
  mmdrctl="$build_dir/bin/mmdrctl.exe"
  mmdrctl() { "$build_dir/wine-run.sh" "$mmdrctl" "$@"; }

  if [[ ! -f "$demo_root/.kestrel-demo-ready" ]]; then
    echo "Preparing the demonstration prefix $demo_root (once)..."
    "$root/scripts/wine-prefix.sh" "$demo_root" >/dev/null
    # DirectShow lists a video input device for each key in its category that holds
    # "FriendlyName", "DevicePath" and "CLSID".
    category='HKEY_CLASSES_ROOT\CLSID\{860BB310-5D01-11D0-BD3B-00A0C911CE86}\Instance'
    filter='{E436EBB6-524F-11CE-9F53-0020AF0BA770}'
    interface='{65e8773d-8f56-11d0-a3b9-00a0c9223196}'
    webcam() {  # key, name, device path
      printf '[%s\\%s]\r\n"FriendlyName"="%s"\r\n"DevicePath"="%s"\r\n"CLSID"="%s"\r\n\r\n' \
        "$category" "$1" "$2" "${3//\\/\\\\}" "$filter"
    }
    {
      printf 'Windows Registry Editor Version 5.00\r\n\r\n'
      webcam '{6B0F7C4A-3D1E-4B8F-9A51-2C7E4D000001}' 'Kestrel Demo HD Camera' \
        "\\\\?\\usb#vid_2b1c&pid_0a01&mi_00#7&1f2e3d4c&0&0000#$interface\\global"
      webcam '{6B0F7C4A-3D1E-4B8F-9A51-2C7E4D000002}' 'Kestrel Demo Document Camera' \
        "\\\\?\\usb#vid_2b1c&pid_0b02&mi_00#7&2a3b4c5d&0&0000#$interface\\global"
      webcam '{6B0F7C4A-3D1E-4B8F-9A51-2C7E4D000003}' 'Kestrel Demo Conference Camera' \
        "\\\\?\\usb#vid_2b1c&pid_0c03&mi_00#7&3b4c5d6e&0&0000#$interface\\global"
    } > "$demo_root/demo-webcams.reg"
    "$build_dir/wine-run.sh" regedit /S "Z:${demo_root//\//\\}\\demo-webcams.reg"
    # The user's choices, stored the way a support engineer would.
    mmdrctl set-pref video --device 'Kestrel Demo Document Camera' >/dev/null
    mmdrctl set-pref audio --device 'In: Headset' >/dev/null
    mmdrctl set-option 1 >/dev/null
    touch "$demo_root/.kestrel-demo-ready"
  fi

  echo
  echo "== mmdrctl status"
  mmdrctl status
  echo
  echo "== mmdrctl list video"
  mmdrctl list video
  echo
  echo "== mmdrctl list audio"
  mmdrctl list audio
  echo
  echo "== mmdrctl get-pref video"
  mmdrctl get-pref video
  echo
  echo "== mmdrctl get-pref audio"
  mmdrctl get-pref audio
  echo
  echo "== mmdrctl get-option"
  mmdrctl get-option
  echo
  echo "Try it yourself: KESTREL_WINE_PREFIX_ROOT=$demo_root $build_dir/wine-run.sh $mmdrctl --help"
}

linux_demo() {
  PLATFORM=linux LINUX_BUILDS=gcc "$root/scripts/build.sh"
  "$root/scripts/demo-linux.sh" "$root/build-linux"
}

if [[ $platform != linux ]]; then windows_demo; fi
if [[ $platform != windows ]]; then linux_demo; fi
