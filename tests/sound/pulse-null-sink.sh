#!/bin/sh
# A real, paced sound device for the PortAudio tests: a PulseAudio daemon with a
# null sink in the runtime folder $PULSE_RUNTIME_PATH, and a low-latency reader of
# the sink's monitor, without which the sink renders in two-second blocks.
#
#   pulse-null-sink.sh start   prints why and fails when the daemon cannot start
#   pulse-null-sink.sh stop    ends the reader and the daemon started here
#   pulse-null-sink.sh pause   stops the daemon, as a server that hangs
#   pulse-null-sink.sh resume  lets it go on
set -u
dir=${PULSE_RUNTIME_PATH:?PULSE_RUNTIME_PATH must name the folder of the daemon}

# Waits up to five seconds for a shell condition.
await() {
  tries=0
  until eval "$1"; do
    tries=$((tries + 1))
    [ "$tries" -ge 50 ] && return 1
    sleep 0.1
  done
}

# Gone, or dead and waiting for a parent that never reaps it.
gone() {
  ! kill -0 "$1" 2>/dev/null || [ "$(cut -d' ' -f3 "/proc/$1/stat" 2>/dev/null)" = Z ]
}

sink_latency_usec() {
  pactl list sinks 2>/dev/null | sed -n 's/.*Latency: \([0-9]*\) usec.*/\1/p' | head -n 1
}

case ${1:-} in
start)
  for tool in pulseaudio pactl pacat; do
    command -v "$tool" >/dev/null 2>&1 || { echo "$tool is not installed"; exit 1; }
  done
  mkdir -p "$dir"
  if ! pulseaudio -n -D --exit-idle-time=-1 --disallow-exit \
      -L module-native-protocol-unix \
      -L "module-null-sink sink_name=vsink rate=8000 channels=1 format=s16le" \
      -L module-always-sink >"$dir/daemon.log" 2>&1; then
    echo "pulseaudio did not start: $(tail -n 1 "$dir/daemon.log")"
    exit 1
  fi
  if ! await '[ -S "$dir/native" ] && pactl info >/dev/null 2>&1'; then
    echo "pulseaudio started but does not answer on $dir/native"
    exit 1
  fi
  pacat -r -d vsink.monitor --latency-msec=20 >/dev/null 2>&1 &
  echo $! >"$dir/reader.pid"
  if ! await 'latency=$(sink_latency_usec); [ -n "$latency" ] && [ "$latency" -le 100000 ]'; then
    echo "the null sink did not switch to low latency"
    exit 1
  fi
  ;;
stop)
  # Waits for each to be gone, so that a start right after finds the folder free.
  for pidfile in "$dir/reader.pid" "$dir/pid"; do
    [ -f "$pidfile" ] || continue
    pid=$(cat "$pidfile")
    kill "$pid" 2>/dev/null && await 'gone "$pid"'
    rm -f "$pidfile"
  done
  exit 0
  ;;
pause)
  kill -STOP "$(cat "$dir/pid")"
  ;;
resume)
  kill -CONT "$(cat "$dir/pid")"
  ;;
*)
  echo "usage: $0 start|stop|pause|resume" >&2
  exit 2
  ;;
esac
