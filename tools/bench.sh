#!/usr/bin/env bash
# What the service costs, side by side with the least a Windows service can be (bench/
# reference_service.cpp), in one run; the Markdown it prints is also written to
# build/bench/results.md.
#   tools/bench.sh
# 1. Idle under Wine at Windows versions 6 and 5: both services running in one prefix per version,
#    measured over QUENVAR_BENCH_IDLE seconds (default 60): CPU ticks (utime + stime of the Linux
#    process that is the Windows process), context switches of all its threads, resident memory,
#    threads; and the resident memory of each mapped DLL or library, service against reference.
# 2. Start and stop latency under Wine at version 6, median of 20 for each service.
# 3. and 4. The simulated machine's per-change and rebuild costs (bench/sim_costs.cpp).
# 5. Footprint: the stripped executables and the DLLs they import.
# A benchmark, not a test: it fails only when something could not be measured.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/tools/wine/prefix.sh"
source "$root/tools/wine/pulse.sh"

idle_seconds=${QUENVAR_BENCH_IDLE:-60}
cycles=${QUENVAR_BENCH_CYCLES:-20}
out=$root/build/bench
results=$out/results.md
windows=$root/build/windows
host=$out/host
folder="Program Files/Quenvar"
service_path='C:\Program Files\Quenvar\QuenvarService.exe'
reference_path='C:\Program Files\Quenvar\reference_service.exe'
service=Quenvar_Service
reference=Quenvar_Reference
mkdir -p "$out"
started_all=$(date +%s)

note() { echo "bench: $*" >&2; }

build() {
    note "building (windows preset: QuenvarService, sc_probe, reference_service; host: sim_costs)"
    { [ -f "$windows/build.ninja" ] || cmake --preset windows >/dev/null; } &&
        cmake --build "$windows" --target QuenvarService sc_probe reference_service >/dev/null &&
        { [ -f "$host/build.ninja" ] || cmake -S "$root" -B "$host" -G Ninja \
            -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=g++ -DBUILD_TESTING=OFF >/dev/null; } &&
        cmake --build "$host" --target sim_costs >/dev/null
}

probe() {
    wine_call "$WINE_CALL_LIMIT" wine "$windows/tests/wine/sc_probe.exe" "$@" 2>&1 | tr -d '\r'
    return "${PIPESTATUS[0]}"
}

# A prefix at the given Windows major version with both services installed and running; its path
# goes to the file $2 as soon as it exists, so that it is ended whatever happens next.
open_prefix() {
    local version=$1
    wine_prefix_create
    local created=$?
    echo "${WINEPREFIX:-}" >"$2"
    [ "$created" -eq 0 ] || return 1
    wine_reg_set 'HKCU\Software\Wine\Drivers' Audio pulse || return 1
    if [ "$version" = 5 ]; then
        wine_prefix_winxp || return 1
        # After winecfg the prefix is ended and its server started again persistent.
        wine_call 30 wineserver -k >/dev/null 2>&1
        wine_call "$WINE_CALL_LIMIT" wineserver -p >/dev/null 2>&1 || return 1
    fi
    mkdir -p "$WINEPREFIX/drive_c/$folder"
    cp "$windows/QuenvarService.exe" "$windows/bench/reference_service.exe" \
        "$WINEPREFIX/drive_c/$folder/"
    wine_call "$WINE_CALL_LIMIT" wine "$service_path" -install >/dev/null 2>&1 || return 1
    probe create "$reference" "\"$reference_path\"" >/dev/null || return 1
    probe start "$service" 10000 >/dev/null || return 1
    probe start "$reference" 10000 >/dev/null || return 1
}

# The Linux process of a Windows program of the prefix, found by its command line.
linux_pid() {
    local prefix=$1 program=$2 dir pid
    for dir in /proc/[0-9]*; do
        pid=${dir#/proc/}
        tr '\0' ' ' 2>/dev/null <"$dir/cmdline" | grep -qi "$program" || continue
        tr '\0' '\n' 2>/dev/null <"$dir/environ" | grep -qxF "WINEPREFIX=$prefix" || continue
        echo "$pid"
        return 0
    done
    return 1
}

# "ticks switches rss_kib threads" of a process now: utime + stime (fields 14 and 15, counted after
# the command name, which may hold spaces), voluntary and involuntary switches of every thread.
sample() {
    local pid=$1 stat ticks switches=0 task n
    stat=$(<"/proc/$pid/stat") || return 1
    stat=${stat##*) }
    read -r -a fields <<<"$stat"
    ticks=$((fields[11] + fields[12]))
    for task in /proc/"$pid"/task/*; do
        n=$(awk '/^(non)?voluntary_ctxt_switches:/ { s += $2 } END { print s + 0 }' \
            "$task/status" 2>/dev/null)
        switches=$((switches + ${n:-0}))
    done
    echo "$ticks $switches $(awk '/^VmRSS:/ { print $2 }' "/proc/$pid/status") \
$(find "/proc/$pid/task" -mindepth 1 -maxdepth 1 | wc -l)"
}

# Resident kB per mapped file (its base name) and per kind of anonymous memory.
rss_by_file() {
    # The path is everything after the fifth field, and may hold spaces ("Program Files").
    awk '/^[0-9a-f]+-[0-9a-f]+ / { name = "(anonymous)"
                                   if (NF >= 6) { name = $0; sub(/^[^ ]+ +[^ ]+ +[^ ]+ +[^ ]+ +[^ ]+ +/, "", name) }
                                   sub(".*/", "", name); gsub(/ /, "_", name)
                                   if (name ~ /^\[/) name = "(anonymous)"; next }
         /^Rss:/ { kb[name] += $2 }
         END { for (n in kb) print n, kb[n] }' "/proc/$1/smaps" | LC_ALL=C sort
}

# The Unix libraries that Wine's PulseAudio driver and user32's win32u.so bring (real file names, as
# /proc/PID/smaps shows them).
unix_dir=/usr/lib/x86_64-linux-gnu/wine/x86_64-unix
libraries_of() {
    ldd "$1" 2>/dev/null | awk '$3 ~ /^\// { print $3 }' | xargs -r readlink -f |
        xargs -r -n1 basename | tr '\n' ' '
}
user32_libraries=" $(libraries_of "$unix_dir/win32u.so") "
audio_libraries=" $(libraries_of "$unix_dir/winepulse.so") "

# What brought a mapping into the service and not into the reference: one of a few groups.
group_of() {
    case ${1,,} in
    user32.dll | gdi32.dll | win32u.dll | win32u.so | imm32.dll | uxtheme.dll | *.msstyles | \
        libfreetype* | libfontconfig* | libexpat* | libpng* | libbrotli* | libz.so* | *.ttf | \
        *.nls)
        echo user32 ;;
    ole32.dll | combase.dll | rpcrt4.dll) echo com ;;
    mmdevapi.dll | oleaut32.dll | winepulse.drv | winepulse.so) echo audio ;;
    dsound.dll) echo dsound ;;
    winmm.dll | msacm32.dll) echo winmm ;;
    setupapi.dll) echo setupapi ;;
    "(anonymous)") echo anonymous ;;
    libc.so* | ld-linux*) echo other ;; # both processes map them
    *)
        if [[ $user32_libraries == *" $1 "* ]]; then
            echo user32
        elif [[ $audio_libraries == *" $1 "* ]]; then
            echo audio
        else
            echo other
        fi
        ;;
    esac
}

# The groups in the order of the table, with what brings each one in and whether the running
# version's path calls into it.
group_rows=(
    "user32|user32.dll and gdi32.dll (imported); under Wine with win32u, imm32, uxtheme and its theme, and win32u's font code (FreeType, Fontconfig, fonts)|RegisterDeviceNotificationW|the window, its messages, GetStockObject"
    "com|ole32.dll (imported) with combase and rpcrt4|CoInitialize, CoCreateInstance|CoInitialize in the control handler"
    "audio|mmdevapi.dll, oleaut32.dll and Wine's PulseAudio driver (winepulse, libpulse and the libraries it links: sndfile, codecs, D-Bus, systemd, X11)|CoCreateInstance(MMDeviceEnumerator), DirectSound|none of the service's own: Wine builds winmm's mixers on mmdevapi"
    "dsound|dsound.dll (loaded from the system folder on first use)|DirectSoundEnumerateW|**never called**"
    "winmm|winmm.dll (loaded from the system folder on first use) with msacm32.dll|**never called**|the mixer calls"
    "setupapi|setupapi.dll (imported)|the driver-flag scan|the driver-flag scan"
    "anonymous|anonymous memory: heaps, thread stacks, Wine's per-process data|the endpoint sync's objects; one more thread: Wine's for RegisterDeviceNotificationW (the service starts none here)|the mixer thread with its window and queue; Wine's threads for RegisterDeviceNotificationW and for mmdevapi's notifications"
    "other|anything else|||"
)

# Resident kB the service has beyond the reference, per mapped file: "file service reference
# difference group", largest difference first, for the pids of one version.
memory_difference() {
    LC_ALL=C join -a1 -a2 -e 0 -o 0,1.2,2.2 <(rss_by_file "$1") <(rss_by_file "$2") |
        awk '$2 != $3 { print $0, $2 - $3 }' | sort -k4,4nr |
        while read -r file s r d; do
            echo "$file $s $r $d $(group_of "$file")"
        done
}

memory_tables() {
    local d6=$1 d5=$2 row group what v6 v5 s6 s5 file s r d g
    echo "### Resident memory the service has beyond the reference, by what loads it"
    echo
    echo "| what | version 6 | version 5 | the service's calls into it at 6 | at 5 |"
    echo "|---|---|---|---|---|"
    for row in "${group_rows[@]}"; do
        IFS='|' read -r group what v6 v5 <<<"$row"
        s6=$(awk -v g="$group" '$5 == g { t += $4 } END { print t + 0 }' "$d6")
        s5=$(awk -v g="$group" '$5 == g { t += $4 } END { print t + 0 }' "$d5")
        [ "$s6" -ne 0 ] || [ "$s5" -ne 0 ] || continue
        echo "| $what | $s6 kB | $s5 kB | $v6 | $v5 |"
    done
    echo "| **total** | $(awk '{ t += $4 } END { print t + 0 }' "$d6") kB |" \
        "$(awk '{ t += $4 } END { print t + 0 }' "$d5") kB | | |"
    echo
    echo "Each mapping's resident kB from /proc/PID/smaps of both processes; shared pages count in"
    echo "full in each. Per file (differences of 64 kB and more; a dash: no difference at that"
    echo "version):"
    echo
    echo "| mapped file | group | v6 service | v6 reference | v5 service | v5 reference |"
    echo "|---|---|---|---|---|---|"
    LC_ALL=C join -a1 -a2 -e - -o 0,1.2,1.3,1.5,2.2,2.3,2.5 \
        <(LC_ALL=C sort "$d6") <(LC_ALL=C sort "$d5") |
        while read -r file s6 r6 g6 s5 r5 g5; do
            d=$(((${s6/-/0} - ${r6/-/0}) > (${s5/-/0} - ${r5/-/0}) ? (${s6/-/0} - ${r6/-/0}) : (${s5/-/0} - ${r5/-/0})))
            [ "$d" -ge 64 ] || continue
            g=$g6
            [ "$g" != - ] || g=$g5
            echo "$d| $file | $g | $s6 | $r6 | $s5 | $r5 |"
        done | sort -t'|' -k1,1nr | cut -d'|' -f2- | sed 's/^/|/'
    echo
}

# The idle window over both versions' prefixes at once, then the tables.
idle() {
    local p6=$1 p5=$2 version prefix name pid
    declare -gA pid_of before after
    for version in 6 5; do
        [ "$version" = 6 ] && prefix=$p6 || prefix=$p5
        for name in QuenvarService reference_service; do
            pid=$(linux_pid "$prefix" "$name.exe") || {
                note "no Linux process of $name.exe at version $version"
                return 1
            }
            pid_of[$version.$name]=$pid
        done
    done
    sleep 3 # the starts' own work is over
    for key in "${!pid_of[@]}"; do before[$key]=$(sample "${pid_of[$key]}"); done
    note "idling ${idle_seconds} s"
    sleep "$idle_seconds"
    for key in "${!pid_of[@]}"; do after[$key]=$(sample "${pid_of[$key]}"); done

    echo "### Idle under Wine (${idle_seconds} s, both services running in one prefix)"
    echo
    echo "| version | figure | QuenvarService.exe | reference service | service against reference |"
    echo "|---|---|---|---|---|"
    local s0 s1 r0 r1
    for version in 6 5; do
        read -r -a s0 <<<"${before[$version.QuenvarService]}"
        read -r -a s1 <<<"${after[$version.QuenvarService]}"
        read -r -a r0 <<<"${before[$version.reference_service]}"
        read -r -a r1 <<<"${after[$version.reference_service]}"
        local st=$((s1[0] - s0[0])) rt=$((r1[0] - r0[0])) sc=$((s1[1] - s0[1])) rc=$((r1[1] - r0[1]))
        echo "| $version | CPU ticks (utime + stime) | $st | $rt | $((st - rt)) more |"
        echo "| $version | context switches, all threads | $sc | $rc | $((sc - rc)) more |"
        echo "| $version | resident memory | $((s1[2] / 1024)) MiB | $((r1[2] / 1024)) MiB |" \
            "$(((s1[2] - r1[2]) / 1024)) MiB more ($(awk -v a="${s1[2]}" -v b="${r1[2]}" \
            'BEGIN { printf "%.2f", a / b }') times) |"
        echo "| $version | threads | ${s1[3]} | ${r1[3]} | $((s1[3] - r1[3])) more |"
    done
    echo
    echo "A tick is 1/$(getconf CLK_TCK) s. Context switches count every time a thread of the"
    echo "process was switched out, whether it went to sleep or was preempted: each wakeup costs one."
    echo

    memory_difference "${pid_of[6.QuenvarService]}" "${pid_of[6.reference_service]}" \
        >"$out/memory-6.txt"
    memory_difference "${pid_of[5.QuenvarService]}" "${pid_of[5.reference_service]}" \
        >"$out/memory-5.txt"
    memory_tables "$out/memory-6.txt" "$out/memory-5.txt"
}

latency() {
    echo "### Start and stop under Wine at version 6 (median of $cycles)"
    echo
    echo "| | QuenvarService.exe | reference service | ratio |"
    echo "|---|---|---|---|"
    local out_s out_r
    probe stop "$service" 10000 >/dev/null
    probe stop "$reference" 10000 >/dev/null
    # Twenty starts take half a minute on a busy machine: a limit of its own.
    out_s=$(WINE_CALL_LIMIT=300 probe cycles "$service" "$cycles") ||
        { note "service cycles: $out_s"; return 1; }
    out_r=$(WINE_CALL_LIMIT=300 probe cycles "$reference" "$cycles") ||
        { note "reference cycles: $out_r"; return 1; }
    local what label
    for what in start stop; do
        local a b
        a=$(sed -n "s/^median $what: \([0-9]*\) us$/\1/p" <<<"$out_s")
        b=$(sed -n "s/^median $what: \([0-9]*\) us$/\1/p" <<<"$out_r")
        [ "$what" = start ] && label="start (StartServiceW until RUNNING)" ||
            label="stop (the stop control until STOPPED)"
        echo "| $label | $((a / 1000)).$(((a % 1000) / 100)) ms |" \
            "$((b / 1000)).$(((b % 1000) / 100)) ms | $(awk -v a="$a" -v b="$b" 'BEGIN { printf "%.2f", a / b }') |"
    done
    echo
    echo "The state is polled every millisecond through Wine's service manager, which bounds the"
    echo "resolution."
    echo
}

footprint() {
    echo "### Footprint"
    echo
    echo "| executable | stripped size | imported DLLs (Wine 8's builtin size) |"
    echo "|---|---|---|"
    local exe stripped dll dlls size
    for exe in "$windows/QuenvarService.exe" "$windows/bench/reference_service.exe"; do
        stripped=$out/$(basename "$exe" .exe).stripped.exe
        x86_64-w64-mingw32-strip -o "$stripped" "$exe"
        dlls=""
        for dll in $(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\tDLL Name: //p'); do
            size=$(stat -c %s "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/${dll,,}" 2>/dev/null)
            dlls+="${dlls:+, }$dll${size:+ ($((size / 1024)) KiB)}"
        done
        echo "| $(basename "$exe") | $(($(stat -c %s "$stripped") / 1024)) KiB ($(stat -c %s "$stripped") bytes) | $dlls |"
    done
    echo
}

run() {
    echo "## Quenvar: what the service costs"
    echo
    echo "Machine: $(nproc) cores ($(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -1)),"
    echo "$(wine --version 2>/dev/null), Linux $(uname -r); measured $(date -u '+%Y-%m-%d %H:%M UTC')"
    echo "with the load average at $(cut -d' ' -f1 /proc/loadavg) when the run began."
    echo

    trap 'for v in 6 5; do WINEPREFIX=$(cat "$out/prefix-$v" 2>/dev/null); wine_prefix_end; done
          pulse_stop' EXIT
    trap 'exit 130' INT TERM
    rm -f "$out/prefix-6" "$out/prefix-5"
    wine_environment
    pulse_start || return 1
    note "preparing the prefixes at versions 6 and 5 (at once)"
    local p6 p5 ok6 ok5 phase
    phase=$(date +%s)
    (open_prefix 6 "$out/prefix-6") &
    local job6=$!
    (open_prefix 5 "$out/prefix-5") &
    wait $! && ok5=1
    wait $job6 && ok6=1
    p6=$(cat "$out/prefix-6") p5=$(cat "$out/prefix-5")
    [ -n "${ok6:-}" ] || { note "the version 6 prefix could not be prepared"; return 1; }
    [ -n "${ok5:-}" ] || { note "the version 5 prefix could not be prepared"; return 1; }
    note "prefixes ready after $(($(date +%s) - phase)) s"
    idle "$p6" "$p5" || return 1
    # At version 5 Wine 8 deadlocks in the service's stop (see DESIGN.md): the prefix just ends.
    WINEPREFIX=$p5 wine_prefix_end
    export WINEPREFIX=$p6
    phase=$(date +%s)
    latency || return 1
    note "start and stop cycles took $(($(date +%s) - phase)) s"
    wine_prefix_end
    pulse_stop

    note "the simulated machine"
    "$host/bench/sim_costs" || return 1
    echo
    footprint
    echo "The whole run took $(($(date +%s) - started_all)) s."
}

build || {
    note "the build failed"
    exit 1
}
run | tee "$results.partial"
status=${PIPESTATUS[0]}
[ "$status" -eq 0 ] && mv "$results.partial" "$results" && note "written to ${results#"$root"/}"
exit "$status"
