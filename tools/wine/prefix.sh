# Wine prefix lifecycle, sourced by the scripts that run Windows programs under Wine.
#
# Every Wine call goes through wine_call, which bounds it with a time limit. A prefix is private
# and thrown away: wine_prefix_create makes one under a fresh temporary folder, wine_prefix_end
# stops its wineserver (services included) and deletes it. Wine's own diagnostics are silenced.

WINE_CALL_LIMIT=${WINE_CALL_LIMIT:-60}

wine_environment() {
    export WINEDEBUG=-all                 # also silences Debian's "wine32 is missing" hint
    export WINEARCH=win64
    export WINEDLLOVERRIDES="mscoree,mshtml=" # no Mono or Gecko install prompt
    unset WAYLAND_DISPLAY
    # Headless: no window of Wine's own may appear, unless the caller gave the prefix a virtual
    # display (tools/wine/display.sh) before creating it.
    [ "${QUENVAR_WINE_DISPLAY:-0}" = 1 ] || unset DISPLAY
}

# Debian's Wine comes without wine64-preloader, the helper that reserves Windows' fixed addresses
# before Linux maps anything. With address-space randomisation a library then lands now and then
# where Wine needs the shared user data (0x7ffe0000): the process fails with "failed to map the
# shared user data: c0000018" and "could not load kernel32.dll" (seen about once in 150 starts
# under load).
# Every Wine process therefore runs without randomisation (setarch -R, inherited by wineserver,
# services and children), where the machine allows it.
WINE_LAYOUT=()
if setarch "$(uname -m)" -R true >/dev/null 2>&1; then
    WINE_LAYOUT=(setarch "$(uname -m)" -R)
fi

# wine_call LIMIT COMMAND...: runs COMMAND with the prefix's environment, killed after LIMIT s.
# Returns the command's status, or 124 when the limit was reached.
wine_call() {
    local limit=$1
    shift
    timeout --kill-after=5 "$limit" "${WINE_LAYOUT[@]}" "$@"
}

# Creates a fresh prefix and exports WINEPREFIX. Its wineserver is persistent: Wine would otherwise
# end the prefix, services included, a few seconds after its last ordinary process exits, so only
# wineserver -k (wine_prefix_end) ends it; wineserver -w would wait forever. The persistence must be
# set when the server starts: wineserver -p refuses once one runs. Output of Wine's first-run setup
# is discarded.
wine_prefix_create() {
    wine_environment
    WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/quenvar-wine.XXXXXX")
    export WINEPREFIX
    if ! wine_call "$WINE_CALL_LIMIT" wineserver -p >/dev/null 2>&1; then
        echo "wine: starting a persistent wineserver for $WINEPREFIX failed" >&2
        return 1
    fi
    # Plain wineboot: the loader initialises a new prefix before running it. "wineboot -i" would
    # initialise it a second time and leave two services.exe whose service-manager pipes then answer
    # in turn, each with a database of its own.
    if ! wine_call 120 wineboot >/dev/null 2>&1; then
        echo "wine: creating the prefix $WINEPREFIX failed or timed out" >&2
        return 1
    fi
}

# Sets a registry value of the current user: wine_reg_set KEY NAME DATA.
wine_reg_set() {
    wine_call "$WINE_CALL_LIMIT" wine reg add "$1" /v "$2" /d "$3" /f >/dev/null 2>&1
}

# Makes the prefix report Windows XP x64, Windows major version 5.
wine_prefix_winxp() {
    wine_call "$WINE_CALL_LIMIT" winecfg -v winxp64 >/dev/null 2>&1
}

# Ends every process of the prefix and deletes it. Safe to call more than once and on failure.
wine_prefix_end() {
    [ -n "${WINEPREFIX:-}" ] || return 0
    if [ -d "$WINEPREFIX" ]; then
        wine_call 30 wineserver -k >/dev/null 2>&1 || true
        rm -rf "$WINEPREFIX"
    fi
    unset WINEPREFIX
}
