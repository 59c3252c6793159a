# QuenvarCheck.exe under Wine, sourced by tests/wine/run.sh (which gives pass, fail and the
# prefix). Run from the service's folder against Wine's real DirectSound, winmm, SetupAPI and
# service manager, the check must find the null sinks by their descriptions and say why the
# service cannot mirror here: Wine reports "winemm.vxd" as every DirectSound module string, and
# none of its mixers carries the virtual device's product GUID (Wine 8 leaves in that field of a
# MIXERCAPS2W one and the same value for every mixer, not zeros).

# check_under_wine VERSION FOLDER: runs FOLDER\QuenvarCheck.exe in the current prefix and checks
# its exit status (1) and the report's lines that tell Wine's reason. Leaves the report in
# $check_report.
check_under_wine() {
    local version=$1 folder=$2 rc line
    check_report=$(wine_call "$WINE_CALL_LIMIT" wine "$folder\\QuenvarCheck.exe" 2>&1)
    rc=$?
    check_report=${check_report//$'\r'/}
    local expected=()
    if [ "$version" = 6 ]; then
        expected=(
            'Mechanism: endpoint volumes \(Core Audio\), as above version 5'
            '  [0-9]+ "Speakers \(Realtek High Definition Audio\)", module "winemm\.vxd"  <- codec.s speakers'
            '  [0-9]+ "Speakers \(Orvane\)", module "winemm\.vxd"  <- virtual device'
            '  endpoint does not open \(GetDevice 0x[0-9A-F]{8}\): module string "winemm\.vxd" is no endpoint id'
            'Would mirror: no: Codec.s speakers: module string "winemm\.vxd" of device [0-9]+ is no endpoint id'
        )
    else
        expected=(
            'Mechanism: mixers \(winmm\), as at version 5 and below'
            '  [0-9]+ "Realtek HD Audio output", product GUID \{[0-9A-F-]{36}\}  <- codec.s mixer'
            'Virtual mixer \(product GUID \{63BC331B-0DC7-441F-8590-2EA9319629B3\}\): none'
            'Would mirror: no: no mixer carries the virtual device.s product GUID \{63BC331B-0DC7-441F-8590-2EA9319629B3\}'
        )
    fi
    expected+=('Service "Quenvar_Service": installed, (stopped|running)'
        '  command line: ".*\\QuenvarService\.exe" \(quoted\)')
    local missing=0
    [ "$rc" -eq 1 ] || missing=1
    for line in "${expected[@]}"; do
        grep -qxE -- "$line" <<<"$check_report" || {
            missing=1
            fail "QuenvarCheck.exe at version $version: no line matching: $line"
        }
    done
    if [ "$rc" -ne 1 ]; then
        fail "QuenvarCheck.exe at version $version exited with $rc (expected 1)"
    fi
    if [ "$missing" -eq 0 ]; then
        pass
        echo "  version $version: QuenvarCheck exit 1, $(tail -n 1 <<<"$check_report")"
    else
        sed 's/^/    | /' <<<"$check_report"
    fi
}
