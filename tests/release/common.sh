# Shared by the release tests: Wine prefix helpers, the check counters and the service-control
# client. Sourced; expects $root (the project folder).
source "$root/tools/wine/prefix.sh"

name=Quenvar_Service
install_dir="Program Files/Quenvar"
install_path='C:\Program Files\Quenvar\QuenvarService.exe'
service_key='HKLM\System\CurrentControlSet\Services\Quenvar_Service'
probe_exe=${QUENVAR_SC_PROBE:-$root/build/windows/tests/wine/sc_probe.exe}
limit_ms=10000

checks=0
failures=0
pass() { checks=$((checks + 1)); }
fail() {
    checks=$((checks + 1))
    failures=$((failures + 1))
    echo "    FAIL: $*"
}
check() { # check DESCRIPTION COMMAND...: passes when COMMAND succeeds
    local what=$1
    shift
    if "$@"; then pass; else fail "$what"; fi
}

# Runs a Windows program: its output without Wine's CR line ends in $wine_text, its status in
# $wine_rc. Wine passes on only the low 8 bits of a Windows exit code (1603 reads as 67):
# wine_status reads the whole of it.
wine_run() {
    wine_text=$(wine_call "$WINE_CALL_LIMIT" wine "$@" 2>&1)
    wine_rc=$?
    wine_text=${wine_text//$'\r'/}
}
# Its output alone (a command substitution would lose $wine_rc).
wine_out() {
    wine_run "$@"
    printf '%s' "$wine_text"
}
# wine_status COMMAND-LINE: run by cmd, which waits for it and reports its full exit code; the
# code in $wine_rc (124 when the time ran out), the output in $wine_text.
wine_status() {
    wine_run cmd /v:on /c "start /wait $1 & echo exit=!ERRORLEVEL!"
    if [ "$wine_rc" -ne 124 ]; then
        wine_rc=$(sed -n 's/^exit=//p' <<<"$wine_text" | tail -n 1)
        wine_rc=${wine_rc:-255}
    fi
    wine_text=$(sed '/^exit=/d' <<<"$wine_text")
}

# Runs the service-control client; output in $probe_out, status in $probe_rc.
probe() {
    wine_run "$probe_exe" "$@"
    probe_out=$wine_text
    probe_rc=$wine_rc
    [ "$probe_rc" -ne 124 ] || probe_out="no answer within ${WINE_CALL_LIMIT} s"
}

# expect_probe DESCRIPTION EXPECTED_STATUS EXPECTED_LINE ARGS...: EXPECTED_LINE (if not empty) must
# be one line of the output.
expect_probe() {
    local what=$1 status=$2 line=$3
    shift 3
    probe "$@"
    if [ "$probe_rc" -ne "$status" ]; then
        fail "$what: sc_probe $* exited with $probe_rc (expected $status): $probe_out"
        return 1
    fi
    if [ -n "$line" ] && ! grep -qxF -- "$line" <<<"$probe_out"; then
        fail "$what: expected \"$line\", got: $probe_out"
        return 1
    fi
    pass
}

# The service's registry values, one "name type data" line each, sorted.
service_values() {
    wine_out reg query "$service_key" | sed -n 's/^ \{4\}//p' | sort
}

# A Unix path as Wine names it on its Z: drive.
windows_path() { printf 'Z:%s' "${1//\//\\}"; }
