# A private virtual X display (Xvfb) for Wine processes that create windows outside a service,
# sourced by the scripts that run Windows programs under Wine. A headless prefix has no display
# driver, so CreateWindowExW fails there.
#
# display_start starts Xvfb on a free display number (it reports the number itself) and exports
# DISPLAY; display_stop ends it by its process id.

display_start() {
    local fifo number
    DISPLAY_DIR=$(mktemp -d "${TMPDIR:-/tmp}/quenvar-display.XXXXXX")
    fifo=$DISPLAY_DIR/number
    mkfifo "$fifo"
    Xvfb -displayfd 3 -nolisten tcp -screen 0 640x480x24 3>"$fifo" </dev/null >/dev/null 2>&1 &
    DISPLAY_PID=$!
    if ! read -r -t 20 number <"$fifo" || [ -z "$number" ]; then
        echo "xvfb: the virtual display did not start" >&2
        return 1
    fi
    export DISPLAY=:$number
}

display_stop() {
    if [ -n "${DISPLAY_PID:-}" ]; then
        kill "$DISPLAY_PID" 2>/dev/null || true
        wait "$DISPLAY_PID" 2>/dev/null || true
        unset DISPLAY_PID
    fi
    if [ -n "${DISPLAY_DIR:-}" ]; then
        rm -rf "$DISPLAY_DIR"
        unset DISPLAY_DIR
    fi
}
