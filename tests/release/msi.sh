#!/usr/bin/env bash
# Installs and uninstalls dist/Quenvar-<version>-x64.msi with Wine's msiexec in throwaway prefixes:
# over a hand-made entry it fails, leaving no files and that entry; its entry equals -install's; the
# service starts and stops; a repair succeeds; uninstalls (of a running service, and after the
# entry was deleted by hand) succeed and leave neither entry nor files.
#   tests/release/msi.sh [RUNS]     (default 1; dist/ from cmake --workflow --preset release)
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/tests/release/common.sh"
runs=${1:-1}
msi=$(ls "$root"/dist/Quenvar-*-x64.msi 2>/dev/null | head -n 1)
exe=$root/dist/QuenvarService.exe
for file in "$msi" "$exe" "$probe_exe"; do
    [ -f "$file" ] || {
        echo "FAIL: ${file:-dist/Quenvar-*-x64.msi} is missing (release and windows presets first)"
        exit 1
    }
done
folder() { printf '%s/drive_c/%s' "$WINEPREFIX" "$install_dir"; }

one_run() {
    wine_prefix_create || {
        fail "the Wine prefix could not be prepared"
        return
    }
    # The reference: the entry that -install makes for the executable at the MSI's place.
    mkdir -p "$(folder)"
    cp "$exe" "$(folder)/"
    wine_out "$install_path" -install >/dev/null
    local reference
    reference=$(service_values)
    check "-install made no entry" grep -q '^ImagePath' <<<"$reference"
    wine_out "$install_path" -remove >/dev/null
    rm -rf "$(folder)"
    expect_probe "-remove left the reference entry" 0 "" wait "$name" GONE 2000

    local package=$(windows_path "$msi") hand
    # Over a hand-made entry: -install fails, and with it the installation, which takes its files
    # back. The rollback -remove comes after the registration, so it never ran: the entry stays.
    wine_out sc create "$name" binPath= 'C:\hand\made.exe' >/dev/null
    hand=$(service_values)
    check "sc create made no entry" grep -q 'made.exe' <<<"$hand"
    wine_status "msiexec /i $package /qn"
    # Windows Installer answers 1603; Wine's msiexec 1627 (ERROR_FUNCTION_FAILED).
    check "msiexec /i over a hand-made entry exited with $wine_rc: $wine_text" [ "$wine_rc" -eq 1627 ]
    check "files left by the failed installation: $(ls "$(folder)" 2>&1)" [ ! -e "$(folder)/QuenvarService.exe" ]
    check "the failed installation changed the hand-made entry" [ "$(service_values)" = "$hand" ]
    wine_out sc delete "$name" >/dev/null
    expect_probe "hand-made entry deleted" 0 "" wait "$name" GONE 2000

    wine_status "msiexec /i $package /qn"
    check "msiexec /i exited with $wine_rc: $wine_text" [ "$wine_rc" -eq 0 ]
    check "the MSI did not install QuenvarService.exe as built" cmp -s "$exe" "$(folder)/QuenvarService.exe"
    local installed=$(service_values)
    if [ "$installed" = "$reference" ]; then
        pass
    else
        fail "the MSI's entry differs from -install's:$(diff <(echo "$reference") <(echo "$installed") | sed -n 's/^\([<>]\)/\n      \1/p' | tr -d '\n')"
    fi
    check "the entry has no description" grep -q '^Description' <<<"$installed"
    expect_probe "entry" 0 "path: \"$install_path\"" config "$name"
    # Repaired: the registration does not run again (it would fail on the entry it made).
    # Wine's msiexec answers /fa with 1605, so the repair is asked for as a reinstallation.
    wine_status "msiexec /i $package REINSTALL=ALL REINSTALLMODE=amus /qn"
    check "repair exited with $wine_rc: $wine_text" [ "$wine_rc" -eq 0 ]
    check "the repair changed the entry" [ "$(service_values)" = "$installed" ]
    expect_probe "start" 0 "" start "$name" "$limit_ms"
    expect_probe "running" 0 "state: RUNNING" query "$name"
    expect_probe "stop" 0 "" stop "$name" "$limit_ms"
    expect_probe "start before uninstall" 0 "" start "$name" "$limit_ms"

    # Uninstalling a running service: stopped, then removed at once (not marked for deletion).
    wine_status "msiexec /x $package /qn"
    check "msiexec /x exited with $wine_rc: $wine_text" [ "$wine_rc" -eq 0 ]
    expect_probe "entry gone after uninstall" 0 "" wait "$name" GONE 2000
    check "registry key left after uninstall" [ -z "$(service_values)" ]
    check "files left after uninstall: $(ls "$(folder)" 2>&1)" [ ! -e "$(folder)" ]

    # The entry deleted by hand: the uninstall's -remove is skipped, not failed.
    wine_status "msiexec /i $package /qn"
    check "second msiexec /i exited with $wine_rc: $wine_text" [ "$wine_rc" -eq 0 ]
    wine_out sc delete "$name" >/dev/null
    expect_probe "entry deleted by hand" 0 "" wait "$name" GONE 2000
    wine_status "msiexec /x $package /qn"
    check "msiexec /x after the entry was deleted by hand exited with $wine_rc: $wine_text" [ "$wine_rc" -eq 0 ]
    check "files left after that uninstall: $(ls "$(folder)" 2>&1)" [ ! -e "$(folder)" ]
    wine_prefix_end
}

trap 'wine_prefix_end' EXIT
trap 'exit 130' INT TERM
total=0
for ((run = 1; run <= runs; run++)); do
    checks=0
    failures=0
    started=$(date +%s)
    one_run
    echo "  MSI run $run of $runs: $((checks - failures)) of $checks checks passed in $(($(date +%s) - started)) s"
    total=$((total + failures))
done
[ "$total" -eq 0 ]
