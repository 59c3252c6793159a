#!/usr/bin/env bash
# The release stage: dist/ from a clean release build, a second clean build of the same files from
# another folder that must give the same bits, the executables' import tables, then the MSI under
# Wine's msiexec and the planted-DLL test. Needs the windows preset built (sc_probe.exe, QuenvarServiceImports.exe).
#   tests/release/run.sh       QUENVAR_MSI_RUNS repeats the MSI test (default 1)
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
status=0

echo "Release build"
rm -rf build/release dist
cmake --workflow --preset release >build/release.log 2>&1 || {
    tail -n 40 build/release.log
    exit 1
}
grep -- '-- dist/' build/release.log | sed 's/^-- /  /'

# The same files in a folder of another name and depth: no path, time or order may reach the bits.
echo "Second build, from another folder"
other=$(mktemp -d)
trap 'rm -rf "$other"' EXIT
copy=$other/elsewhere/quenvar-copy
mkdir -p "$copy"
git ls-files -z --cached --others --exclude-standard | xargs -0 cp --parents -t "$copy"
(cd "$copy" && cmake --workflow --preset release >"$other/build.log" 2>&1) || {
    tail -n 40 "$other/build.log"
    exit 1
}
for file in dist/*; do
    if cmp -s "$file" "$copy/$file"; then
        echo "  same: $(sha256sum "$file" | cut -c1-64)  $file"
    else
        echo "  FAIL: $file differs: $(sha256sum "$file" | cut -c1-64) here, $(sha256sum "$copy/$file" | cut -c1-64) there"
        status=1
    fi
done
[ "$(ls dist | wc -l)" -eq "$(ls "$copy/dist" | wc -l)" ] || {
    echo "  FAIL: the two dist/ folders hold different files"
    status=1
}

# KnownDLLs of every supported version alone: any other DLL would be looked for beside the program.
echo "Import tables"
for exe in dist/*.exe; do
    imports=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\tDLL Name: //p' | tr 'A-Z' 'a-z' | sort | xargs)
    if [ "$imports" = "advapi32.dll gdi32.dll kernel32.dll msvcrt.dll ole32.dll user32.dll" ]; then
        echo "  $exe: $imports"
    else
        echo "  FAIL: $exe imports $imports"
        status=1
    fi
done

echo "MSI under Wine's msiexec"
tests/release/msi.sh "${QUENVAR_MSI_RUNS:-1}" || status=1
echo "Planted DLLs"
tests/release/planted_dll.sh || status=1
exit "$status"
