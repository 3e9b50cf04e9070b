#!/usr/bin/env bash
# A private sound server for the tests and the demo, on its own socket DIR/native: with
# SOUND_SERVER=pulseaudio (the default) a PulseAudio daemon, with SOUND_SERVER=pipewire
# PipeWire's daemon, WirePlumber and pipewire-pulse (headless: no D-Bus, no device monitors).
# Either has a null sink (whose monitor is a source that no microphone list may show) and the
# null sources given as NAME=DESCRIPTION; PipeWire also has the fake cameras given as
# camera:ID=DESCRIPTION[=DEVIDS] (SPA's test pattern, as the libcamera camera of that camera
# id, naming the kernel devices DEVIDS in device.devids) or v4l2:NAME=DESCRIPTION=/dev/videoN
# (as the node PipeWire makes of a V4L2 device). Nothing of the user's own sound setup is
# used or changed: home, runtime, configuration and state folders are inside DIR, and
# nothing spawns a server.
# Usage: sound-server.sh start DIR [NAME=DESCRIPTION...]   prints the exports for clients
#        (a DESCRIPTION holds no quote of either kind)
#        sound-server.sh stop DIR
#        sound-server.sh add DIR NAME=DESCRIPTION    a source (or on PipeWire a camera) comes
#        sound-server.sh remove DIR NAME             the source or camera added as NAME goes
# `eval "$(sound-server.sh start DIR ...)"` points the shell's clients at the server.
set -euo pipefail

usage="usage: sound-server.sh start|stop|add|remove DIR [NAME=DESCRIPTION...]"
command=${1:?$usage}
dir=${2:?$usage}
shift 2
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
socket="$dir/native"
pactl=(pactl --server "unix:$socket")

# Each process this script started for DIR: its environment names DIR's runtime folder, so
# that a process that took a number since is never taken for one of them.
ours() {
  local pid=$1
  { tr '\0' '\n' <"/proc/$pid/environ"; } 2>/dev/null | grep -qx "XDG_RUNTIME_DIR=$dir/runtime"
}

stop() {
  local pid
  for pid in $(cat "$dir/pids" 2>/dev/null); do
    if ours "$pid"; then kill "$pid"; fi
  done
  for pid in $(cat "$dir/pids" 2>/dev/null); do
    # Gone once it has exited, even while no one has reaped it yet (state Z).
    for _ in $(seq 50); do
      [[ $(sed 's/.*) //' "/proc/$pid/stat" 2>/dev/null) == [^Z]* ]] || break
      sleep 0.1
    done
  done
  rm -f "$dir/pid" "$dir/pids" "$socket"
}

# The node.name of PipeWire's fake camera NAME (camera:ID or v4l2:NAME).
camera_node_name() {
  case $1 in
    camera:*)  # as PipeWire names a libcamera camera by its camera id
      local id=${1#camera:}
      echo "libcamera_input.${id//[^A-Za-z0-9_.-]/_}" ;;
    v4l2:*) echo "v4l2_input.${1#v4l2:}" ;;
  esac
}

# The properties of PipeWire's fake camera ITEM, as start takes it.
camera_properties() {
  local name description path
  IFS='=' read -r name description path <<<"$1"
  echo "node.name = \"$(camera_node_name "$name")\" node.description = \"$description\"
    media.class = Video/Source media.role = Camera"
  case $name in
    camera:*)
      local id=${name#camera:}
      echo "device.api = libcamera object.path = \"libcamera:${id//\\/\\\\}\"
        ${path:+device.devids = \"$path\"}" ;;
    v4l2:*) echo "device.api = v4l2 object.path = \"v4l2:$path\" api.v4l2.path = \"$path\"" ;;
  esac
}

# The module that loaded the source NAME, as the server lists it.
module_of() {
  "${pactl[@]}" list short modules | awk -v name="$1" -F '\t' \
    '$3 ~ ("(source|sink)_name=" name "( |$)") { print $1; exit }'
}

case $command in
  stop) stop; exit 0 ;;
  start) stop ;;
  add)
    source=${1:?$usage}
    name=${source%%=*} description=${source#*=}
    if [[ $name == camera:* || $name == v4l2:* ]]; then  # PipeWire's only
      pw-cli --remote "$dir/runtime/pipewire-0" create-node adapter "{ factory.name = videotestsrc
        library.name = videotestsrc/libspa-videotestsrc object.linger = true
        $(camera_properties "$source") }" >/dev/null
    elif [[ $(<"$dir/kind") == pipewire ]]; then
      # pipewire-pulse has no null source; only this quoting keeps a description whole.
      "${pactl[@]}" load-module module-null-sink media.class=Audio/Source/Virtual \
        "sink_name=$name" "sink_properties=\"device.description='$description'\"" >/dev/null
    else
      "${pactl[@]}" load-module module-null-source "source_name=$name" \
        "description='$description'" >/dev/null
    fi
    exit 0 ;;
  remove)
    if [[ ${1:?$usage} == camera:* || $1 == v4l2:* ]]; then
      pw-cli --remote "$dir/runtime/pipewire-0" destroy "$(camera_node_name "$1")" >/dev/null
      exit 0
    fi
    module=$(module_of "$1")
    "${pactl[@]}" unload-module "${module:?sound-server.sh: no source $1}"
    exit 0 ;;
  *) echo "sound-server.sh: unknown command $command" >&2; exit 2 ;;
esac

kind=${SOUND_SERVER:-pulseaudio}
echo "$kind" >"$dir/kind"
mkdir -p "$dir/runtime" "$dir/config" "$dir/state" && chmod 700 "$dir/runtime"
# Their own folders only, no session bus, no display (libdbus would try to start a bus).
run() {
  env -u DISPLAY -u DBUS_SESSION_BUS_ADDRESS HOME="$dir" XDG_RUNTIME_DIR="$dir/runtime" \
    XDG_CONFIG_HOME="$dir/config" XDG_STATE_HOME="$dir/state" setsid "$@" </dev/null \
    >>"$dir/server.log" 2>&1 &
  echo $! >>"$dir/pids"
}
: >"$dir/server.log"

case $kind in
  pulseaudio)
    # The socket comes last, so that a client that finds it finds every source too.
    {
      echo "load-module module-null-sink sink_name=speakers sink_properties=device.description=Speakers"
      for source in "$@"; do
        [[ $source == camera:* || $source == v4l2:* ]] && continue  # PipeWire's only
        echo "load-module module-null-source source_name=${source%%=*}" \
          "description='${source#*=}'"
      done
      echo "load-module module-native-protocol-unix socket=$socket auth-anonymous=1"
    } >"$dir/server.pa"
    run pulseaudio -n -F "$dir/server.pa" --daemonize=no --exit-idle-time=-1 --use-pid-file=no \
      --realtime=no --high-priority=no --log-target=stderr
    cp "$dir/pids" "$dir/pid" ;;
  pipewire)
    # The sink, sources and cameras are the daemon's own objects.
    object() {  # FACTORY, then the node's properties
      echo "  { factory = adapter args = { factory.name = $1 object.linger = true $2 } }"
    }
    mkdir -p "$dir/config/pipewire/pipewire.conf.d" \
      "$dir/config/wireplumber/main.lua.d" "$dir/config/wireplumber/bluetooth.lua.d"
    {
      echo "context.spa-libs = { videotestsrc = videotestsrc/libspa-videotestsrc }"
      echo "context.objects = ["
      object support.null-audio-sink \
        'node.name = speakers node.description = Speakers media.class = Audio/Sink'
      for item in "$@"; do
        IFS='=' read -r name description _ <<<"$item"
        case $name in
          camera:* | v4l2:*) object videotestsrc "$(camera_properties "$item")" ;;
          *)
            object support.null-audio-sink "node.name = \"$name\"
              node.description = \"$description\" media.class = Audio/Source/Virtual
              audio.position = [ MONO ]" ;;
        esac
      done
      echo "]"
    } >"$dir/config/pipewire/pipewire.conf.d/kestrel.conf"
    ln -sfn runtime/pulse/native "$socket"
    # WirePlumber stays up without a bus only so; it grabs no device of the machine.
    cat >"$dir/config/wireplumber/main.lua.d/90-kestrel.lua" <<'LUA'
default_access.properties["enable-flatpak-portal"] = false
alsa_monitor.properties["alsa.reserve"] = false
alsa_monitor.enabled = false
v4l2_monitor.enabled = false
libcamera_monitor.enabled = false
LUA
    echo "bluez_monitor.enabled = false" >"$dir/config/wireplumber/bluetooth.lua.d/90-kestrel.lua"
    run pipewire
    for _ in $(seq 100); do
      [[ -S $dir/runtime/pipewire-0 ]] && break
      sleep 0.05
    done
    run wireplumber
    run pipewire-pulse
    tail -n 1 "$dir/pids" >"$dir/pid" ;;  # the server libpulse clients talk to
  *) echo "sound-server.sh: SOUND_SERVER must be pulseaudio or pipewire" >&2; exit 2 ;;
esac

# Started once the server answers: a socket may exist before it accepts clients.
for _ in $(seq 100); do
  if [[ -S $socket ]] && "${pactl[@]}" info >/dev/null 2>&1; then
    echo "export PULSE_SERVER=unix:$socket"
    [[ $kind == pipewire ]] && echo "export PIPEWIRE_REMOTE=$dir/runtime/pipewire-0"
    exit 0
  fi
  kill -0 "$(<"$dir/pid")" 2>/dev/null || break
  sleep 0.1
done
echo "sound-server.sh: the server did not start; its log:" >&2
cat "$dir/server.log" >&2
stop
exit 1
