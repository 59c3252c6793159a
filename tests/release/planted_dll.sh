#!/usr/bin/env bash
# Plants winmm.dll, dsound.dll and setupapi.dll beside QuenvarService.exe and makes Wine search like
# Windows does for DLLs outside KnownDLLs: native first, the executable's folder before the system
# folder (winmm,dsound,setupapi=n,b for the service's executable). Each planted DLL leaves a marker
# when its DllMain runs. While the service starts, runs and stops at Windows versions 6 and 5:
#   - dist/QuenvarService.exe, and dist/QuenvarCheck.exe run beside it (which always uses
#     setupapi), must run no planted DLL, and the service must map only the system DLLs of the
#     running version's path (dsound above version 5, winmm and setupapi at 5);
#   - QuenvarServiceImports.exe (winmm, dsound and setupapi imported as usual, from the windows
#     preset) must load all three, or this test could not see a planted DLL at all. Imported DLLs
#     load when the process starts, so it is run from the console, in another folder of the prefix.
# It also shows what the manifest does to GetVersionExW, which the service branches on.
#   tests/release/planted_dll.sh
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/tests/release/common.sh"
protected=$root/dist/QuenvarService.exe
unprotected=${QUENVAR_IMPORTS_EXE:-$root/build/windows/tests/wine/QuenvarServiceImports.exe}
for file in "$protected" "$unprotected" "$probe_exe"; do
    [ -f "$file" ] || {
        echo "FAIL: $file is missing (release and windows presets first)"
        exit 1
    }
done
work=$(mktemp -d)
trap 'wine_prefix_end; rm -rf "$work"' EXIT
trap 'exit 130' INT TERM

cc=x86_64-w64-mingw32-gcc
planted="winmm dsound setupapi"
for dll in $planted; do
    "$cc" -shared -O2 -Wall -Werror -DPLANTED_"${dll^^}" -o "$work/$dll.dll" \
        "$root/tests/release/planted.c" || exit 1
done
echo "1 24 \"$root/src/main/windows.manifest\"" >"$work/manifest.rc"
x86_64-w64-mingw32-windres -o "$work/manifest.o" "$work/manifest.rc" || exit 1
"$cc" -O2 -o "$work/with_manifest.exe" "$root/tests/release/version_probe.c" "$work/manifest.o" &&
    "$cc" -O2 -o "$work/without_manifest.exe" "$root/tests/release/version_probe.c" || exit 1

folder() { printf '%s/drive_c/%s' "$WINEPREFIX" "${1:-$install_dir}"; }

# The Linux process of the prefix's service, for its memory map.
service_pid() {
    local pid
    for pid in $(pgrep -f 'QuenvarService\.exe'); do
        if tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX"; then
            echo "$pid"
            return
        fi
    done
}
mapped() { grep -qi "/$2\.dll\$" "/proc/$1/maps" 2>/dev/null; }

# run_service EXECUTABLE VERSION: installs, plants, starts, runs, stops (see the note at version 5);
# leaves "$ran" (the planted DLLs that ran) and "$loaded" (the system DLLs the service mapped).
run_service() {
    local exe=$1 version=$2 pid dll
    ran="" loaded=""
    wine_prefix_create || return 1
    if [ "$version" = 5 ]; then
        wine_prefix_winxp || return 1
    fi
    mkdir -p "$(folder)"
    cp "$exe" "$(folder)/QuenvarService.exe"
    cp "$root/dist/QuenvarCheck.exe" "$(folder)/"
    # Above version 5 as Windows 10, where the manifest changes what GetVersionExW reports.
    if [ "$version" = 6 ]; then
        wine_reg_set 'HKCU\Software\Wine\AppDefaults\QuenvarService.exe' Version win10 || return 1
    fi
    wine_out "$install_path" -install >/dev/null
    # Planted after -install, so that only the service's own process can run them.
    for dll in $planted; do
        cp "$work/$dll.dll" "$(folder)/"
        for program in QuenvarService QuenvarCheck; do
            wine_reg_set "HKCU\\Software\\Wine\\AppDefaults\\$program.exe\\DllOverrides" "$dll" native,builtin || return 1
        done
    done
    expect_probe "version $version start" 0 "" start "$name" "$limit_ms" || return 1
    sleep 2
    expect_probe "version $version running" 0 "state: RUNNING" query "$name"
    pid=$(service_pid)
    for dll in $planted; do
        [ -n "$pid" ] && mapped "$pid" "$dll" && loaded+="$dll "
    done
    # Wine 8 cannot stop the service at version 5 (tests/wine/run.sh); the prefix ends with it
    # running, and a DLL loaded at the stop would have been loaded at the start already.
    if [ "$version" = 6 ]; then
        expect_probe "version $version stop" 0 "" stop "$name" "$limit_ms"
    fi
    wine_out "${install_path%\\*}\\QuenvarCheck.exe" >/dev/null
    ran=$(markers "$(folder)") loaded=${loaded% }
}

# The planted DLLs in FOLDER that ran. A marker takes the name the loader gave the module
# ("WINMM.dll" when imported).
markers() {
    local dll ran=""
    for dll in $planted; do
        [ -n "$(find "$1" -maxdepth 1 -iname "$dll.dll.ran")" ] && ran+="$dll "
    done
    echo "${ran% }"
}

for version in 6 5; do
    run_service "$protected" "$version" || fail "version $version: the prefix or the service could not be prepared"
    expected=$([ "$version" = 6 ] && echo dsound || echo winmm setupapi)
    echo "  version $version, system folder: planted DLLs run: ${ran:-none}; system DLLs mapped: ${loaded:-none}"
    check "version $version: planted DLLs ran in the protected service: $ran" [ -z "$ran" ]
    check "version $version: the service mapped \"$loaded\", expected \"$expected\" alone" [ "$loaded" = "$expected" ]
    if [ "$version" = 6 ]; then
        # GetVersionExW with the manifest and without it, at Windows 10, 7 and XP.
        versions=""
        for exe in with_manifest without_manifest; do
            cp "$work/$exe.exe" "$WINEPREFIX/drive_c/"
        done
        for run in with_manifest:win10 without_manifest:win10 with_manifest:win7 with_manifest:winxp64; do
            exe=${run%%:*}
            wine_reg_set "HKCU\\Software\\Wine\\AppDefaults\\$exe.exe" Version "${run#*:}"
            versions+="$run $(wine_out "C:\\$exe.exe") "
        done
        versions=${versions% }
        echo "  GetVersionExW: $versions"
        check "GetVersionExW under the manifest: $versions" [ "$versions" = "with_manifest:win10 10.0 without_manifest:win10 6.2 with_manifest:win7 6.1 with_manifest:winxp64 5.2" ]
    fi
    mkdir -p "$(folder Unprotected)"
    cp "$unprotected" "$(folder Unprotected)/QuenvarService.exe"
    for dll in $planted; do cp "$work/$dll.dll" "$(folder Unprotected)/"; done
    wine_out 'C:\Unprotected\QuenvarService.exe' >/dev/null
    ran=$(markers "$(folder Unprotected)")
    echo "  version $version, imported as usual: planted DLLs run: ${ran:-none}"
    check "version $version: the planted DLLs did not run in the unprotected build (\"$ran\"): the test cannot see them" [ "$ran" = "$planted" ]
    wine_prefix_end
done
echo "  planted DLLs: $((checks - failures)) of $checks checks passed"
[ "$failures" -eq 0 ]
