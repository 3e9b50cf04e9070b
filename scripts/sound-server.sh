#!/usr/bin/env bash
# A private sound server for the tests and the demo: a PulseAudio daemon on its own socket
# in DIR, with a null sink (whose monitor is a source that no microphone list may show)
# and the null sources given as NAME=DESCRIPTION. Nothing of the user's own sound setup is
# used or changed: the daemon's home and runtime folders are DIR too, and nothing spawns it.
# Usage: sound-server.sh start DIR [NAME=DESCRIPTION...]   prints export PULSE_SERVER=...
#        (a DESCRIPTION holds no single quote)
#        sound-server.sh stop DIR
# `eval "$(sound-server.sh start DIR ...)"` points the shell's clients at the server.
set -euo pipefail

command=${1:?usage: sound-server.sh start|stop DIR [NAME=DESCRIPTION...]}
dir=${2:?usage: sound-server.sh start|stop DIR [NAME=DESCRIPTION...]}
shift 2
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
socket="$dir/native"

stop() {
  if [[ -f "$dir/pid" ]]; then
    local pid
    pid=$(<"$dir/pid")
    # Only the daemon this script started, never a process that took its number since.
    if [[ $(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null) == *"-F $dir/server.pa "* ]]; then
      kill "$pid"
    fi
    # Gone once it has exited, even while no one has reaped it yet (state Z).
    for _ in $(seq 50); do
      [[ $(sed 's/.*) //' "/proc/$pid/stat" 2>/dev/null) == [^Z]* ]] || break
      sleep 0.1
    done
    rm -f "$dir/pid"
  fi
  rm -f "$socket"
}

case $command in
  stop) stop; exit 0 ;;
  start) stop ;;
  *) echo "sound-server.sh: unknown command $command" >&2; exit 2 ;;
esac

# The socket comes last, so that a client that finds it finds every source too.
{
  echo "load-module module-null-sink sink_name=speakers sink_properties=device.description=Speakers"
  for source in "$@"; do
    echo "load-module module-null-source source_name=${source%%=*}" \
      "description='${source#*=}'"
  done
  echo "load-module module-native-protocol-unix socket=$socket auth-anonymous=1"
} > "$dir/server.pa"
mkdir -p "$dir/runtime" && chmod 700 "$dir/runtime"
HOME=$dir XDG_RUNTIME_DIR=$dir/runtime XDG_CONFIG_HOME=$dir/config setsid pulseaudio -n \
  -F "$dir/server.pa" --daemonize=no --exit-idle-time=-1 --use-pid-file=no --realtime=no \
  --high-priority=no --log-target=stderr </dev/null >"$dir/server.log" 2>&1 &
echo $! > "$dir/pid"
for _ in $(seq 100); do
  if [[ -S "$socket" ]]; then
    echo "export PULSE_SERVER=unix:$socket"
    exit 0
  fi
  kill -0 "$(<"$dir/pid")" 2>/dev/null || break
  sleep 0.1
done
echo "sound-server.sh: the server did not start; its log:" >&2
cat "$dir/server.log" >&2
stop
exit 1
