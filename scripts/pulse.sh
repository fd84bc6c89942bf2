#!/usr/bin/env bash
# A private PulseAudio server for the tests: a null sink "tonewell" as the default sink, its
# socket, state and home under build/pulse. `pulse.sh start` starts it (and says what to
# export), `pulse.sh stop` ends it by the process id it recorded.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
PULSE_DIR="$BUILD_DIR/pulse"
export PULSE_RUNTIME_PATH="$PULSE_DIR/run"
export PULSE_SERVER="unix:$PULSE_RUNTIME_PATH/native"

stop() {
    [ -f "$PULSE_DIR/pid" ] || return 0
    local pid
    pid="$(cat "$PULSE_DIR/pid")"
    rm -f "$PULSE_DIR/pid"
    kill "$pid" 2>/dev/null || return 0
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || return 0; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null || true
}

start() {
    stop
    mkdir -p "$PULSE_RUNTIME_PATH" "$PULSE_DIR/home"
    chmod 700 "$PULSE_DIR" "$PULSE_RUNTIME_PATH" "$PULSE_DIR/home"
    # The socket lies in a folder only this user reaches, so clients need no cookie.
    HOME="$PULSE_DIR/home" setsid pulseaudio -n --daemonize=no --exit-idle-time=-1 --log-target=stderr \
        -L "module-null-sink sink_name=tonewell rate=48000" \
        -L "module-native-protocol-unix auth-anonymous=1" \
        </dev/null >"$PULSE_DIR/server.log" 2>&1 &
    echo $! >"$PULSE_DIR/pid"
    for _ in $(seq 100); do
        pactl info >/dev/null 2>&1 && break
        sleep 0.1
    done
    pactl set-default-sink tonewell
}

case "${1:-}" in
    start) start ;;
    stop) stop ;;
    *) echo "usage: pulse.sh start|stop" >&2; exit 1 ;;
esac
