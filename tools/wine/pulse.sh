# A private PulseAudio daemon with three null sinks standing in for the machine's render devices,
# sourced by the scripts that run the service under Wine. Wine's pulse driver names each device by
# its sink's description.
#
# pulse_start starts the daemon in the foreground of a background job of this shell (so it is ended
# by its own process id, never by name) with a private runtime folder, and exports PULSE_SERVER so
# Wine's processes, services included, reach it. pulse_stop ends it and deletes the folder.

PULSE_SINK_DESCRIPTIONS=(
    "Speakers (Realtek High Definition Audio)"
    "Speakers (Orvane)"
    "Realtek HD Audio output"
)

pulse_start() {
    PULSE_DIR=$(mktemp -d "${TMPDIR:-/tmp}/quenvar-pulse.XXXXXX")
    local config=$PULSE_DIR/default.pa
    {
        echo "load-module module-native-protocol-unix socket=$PULSE_DIR/native auth-anonymous=1"
        local i=0
        for description in "${PULSE_SINK_DESCRIPTIONS[@]}"; do
            i=$((i + 1))
            echo "load-module module-null-sink sink_name=sink$i sink_properties='device.description=\"$description\"'"
        done
        echo "set-default-sink sink1"
    } >"$config"
    printf 'autospawn = no\n' >"$PULSE_DIR/client.conf"

    export XDG_RUNTIME_DIR=$PULSE_DIR
    export PULSE_RUNTIME_PATH=$PULSE_DIR
    export PULSE_STATE_PATH=$PULSE_DIR
    export PULSE_CLIENTCONFIG=$PULSE_DIR/client.conf
    export PULSE_COOKIE=$PULSE_DIR/cookie
    export PULSE_SERVER=unix:$PULSE_DIR/native

    # Root in CI: --system=false keeps it a per-user daemon; -n skips the distribution's default.pa.
    pulseaudio --daemonize=no --system=false --exit-idle-time=-1 --disallow-exit -n \
        --disable-shm=yes --log-target=file:"$PULSE_DIR/log" -F "$config" </dev/null >/dev/null 2>&1 &
    PULSE_PID=$!

    local waited=0
    until timeout 5 pactl list short sinks 2>/dev/null | grep -q sink3; do
        if ! kill -0 "$PULSE_PID" 2>/dev/null || [ "$waited" -ge 100 ]; then
            echo "pulseaudio: the private daemon did not start (log: $PULSE_DIR/log)" >&2
            sed 's/^/  /' "$PULSE_DIR/log" >&2 2>/dev/null || true
            return 1
        fi
        sleep 0.1
        waited=$((waited + 1))
    done
}

pulse_stop() {
    if [ -n "${PULSE_PID:-}" ]; then
        kill "$PULSE_PID" 2>/dev/null || true
        local waited=0
        while kill -0 "$PULSE_PID" 2>/dev/null && [ "$waited" -lt 50 ]; do
            sleep 0.1
            waited=$((waited + 1))
        done
        kill -9 "$PULSE_PID" 2>/dev/null || true
        wait "$PULSE_PID" 2>/dev/null || true
        unset PULSE_PID
    fi
    if [ -n "${PULSE_DIR:-}" ]; then
        rm -rf "$PULSE_DIR"
        unset PULSE_DIR
    fi
}
