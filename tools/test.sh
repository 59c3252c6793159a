#!/usr/bin/env bash
# Runs every test: the host suites in AddressSanitizer and ThreadSanitizer builds, the
# Windows-built suites under Wine, the real QuenvarService.exe as a service under Wine, and the
# release (dist/, built twice for the same bits, its MSI and the planted-DLL test under Wine).
# Each stage's output goes to build/logs/<stage>.log; a failed stage shows its last lines.
# Exits non-zero when any stage failed; the last line is "N passed, N failed" over the stages.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD
logs=$root/build/logs
mkdir -p "$logs"

passed=0
failed=0
started_all=$(date +%s)

stage() {
    local name=$1 started status
    shift
    started=$(date +%s)
    printf '%-13s ' "$name"
    "$@" >"$logs/$name.log" 2>&1
    status=$?
    if [ "$status" -eq 0 ]; then
        passed=$((passed + 1))
        echo "passed ($(($(date +%s) - started)) s)"
    else
        failed=$((failed + 1))
        echo "FAILED ($(($(date +%s) - started)) s, exit $status; log: build/logs/$name.log)"
        tail -n 40 "$logs/$name.log" | sed 's/^/    /'
    fi
    return "$status"
}

# ThreadSanitizer cannot map its shadow memory on kernels with more address-space randomisation
# than it was built for (vm.mmap_rnd_bits above 28 with GCC 12). Probe once; run without
# randomisation (setarch -R) when the probe fails.
tsan_prefix=()
tsan_probe() {
    local dir
    dir=$(mktemp -d)
    printf '#include <thread>\nint v;\nint main() { std::thread t([] { v = 1; }); t.join(); return v - 1; }\n' \
        >"$dir/probe.cpp"
    if g++ -fsanitize=thread -o "$dir/probe" "$dir/probe.cpp" 2>/dev/null; then
        if ! "$dir/probe" >/dev/null 2>&1; then
            if setarch "$(uname -m)" -R "$dir/probe" >/dev/null 2>&1; then
                tsan_prefix=(setarch "$(uname -m)" -R)
            fi
        fi
    fi
    rm -rf "$dir"
}

host_tsan() {
    tsan_probe
    "${tsan_prefix[@]}" cmake --workflow --preset host-tsan
}

if ! stage setup tools/setup.sh; then
    echo "$passed passed, $failed failed"
    exit 1
fi
# The host suites run in the AddressSanitizer and ThreadSanitizer builds; their plain build runs
# under Wine (the windows stage), which keeps the test command within its time.
stage host-asan cmake --workflow --preset host-asan
stage host-tsan host_tsan
for s in host-asan host-tsan; do # the soak's share of each build's tests
    grep -E 'Test +#[0-9]+: soak_v' "$logs/$s.log" 2>/dev/null | sed "s/^ */    $s: /"
done
stage fuzz tools/fuzz.sh 8
grep -h '^  ' "$logs/fuzz.log" 2>/dev/null | sed 's/^/    /'
stage windows cmake --workflow --preset windows
stage wine-service tests/wine/run.sh "$root/build/windows"
grep -h '^  ' "$logs/wine-service.log" 2>/dev/null | sed 's/^/    /'
stage wine-controls tests/wine/controls.sh "$root/build/windows"
grep -hE '^  [^ ]|sent:|interrogations:|cycles:' "$logs/wine-controls.log" 2>/dev/null | sed 's/^ */    /'
stage release tests/release/run.sh
grep -h '^  ' "$logs/release.log" 2>/dev/null | sed 's/^/    /'

echo "total time $(($(date +%s) - started_all)) s"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
