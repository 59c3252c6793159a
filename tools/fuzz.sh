#!/usr/bin/env bash
# Builds the libFuzzer targets (the fuzz preset: clang, AddressSanitizer and UBSan) and runs each
# for SECONDS (default 15) from its committed seed corpus in fuzz/corpus/<target>. New inputs go to
# build/fuzz/corpus/<target>; a crash, hang or sanitizer report leaves its input in
# build/fuzz/artifacts/ and fails the run. Prints the executions and corpus size per target.
#   tools/fuzz.sh [SECONDS]
set -uo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-15}
targets=(endpoint_binding mixer_scan ks_filter volume_notify control_handler process_entry)
cmake --preset fuzz >/dev/null || exit 1
cmake --build build/fuzz --target "${targets[@]/#/fuzz_}" || exit 1
mkdir -p build/fuzz/artifacts
failed=0
for target in "${targets[@]}"; do
    work=build/fuzz/corpus/$target
    mkdir -p "$work"
    log=build/fuzz/$target.log
    # -timeout: one input running longer than that is a hang.
    build/fuzz/fuzz/fuzz_$target -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix=build/fuzz/artifacts/$target- \
        "$work" "fuzz/corpus/$target" >"$log" 2>&1
    status=$?
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    corpus=$(find "$work" "fuzz/corpus/$target" -type f | wc -l)
    seeds=$(find "fuzz/corpus/$target" -type f | wc -l)
    if [ "$status" -eq 0 ]; then
        echo "  $target: ${execs:-0} executions, corpus $corpus inputs ($seeds committed), no finding"
    else
        failed=$((failed + 1))
        echo "  $target: FINDING after ${execs:-?} executions (log: $log)"
        grep -E 'ERROR|SUMMARY|fuzz check|machine fault|Test unit written' "$log" | sed 's/^/    /'
    fi
done
[ "$failed" -eq 0 ]
