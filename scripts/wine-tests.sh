#!/usr/bin/env bash
# The Windows serial link under Wine, against the simulated transmitter.
#
# Builds transmitter-sim and wine_link_test natively, and wine_link_test with every other test
# that needs no Qt for Windows with mingw-w64. Runs the link cases twice, each time against two
# fresh transmitters: on Linux on their pseudo-terminals, then under Wine with the terminals
# mapped to COM7 and COM12 in a fresh Wine prefix. Both runs must pass, and each transmitter
# must have received the same messages and sent the same replies in both. Then reads a fresh
# transmitter's configuration with transmitter-cli.exe on COM7, and has it name a Cyrillic file
# into a file and on a console. Has transmitter-cli.exe's station configure two fresh transmitters
# on COM4 and COM11 into a journal, and reads that back as CSV; from that journal has it write a
# unit's label (ZPL) and certificate, which must be the bytes the Linux program makes of the same
# row (when the build has the PDF sources, scripts/pdf-sources.sh). Fetches /api/state and
# /metrics from its operator page while it commissions a unit. Runs transmitter-cli.exe's rows of
# what Windows alone can get wrong (standard input in text mode, names of one COM port, journals
# named as devices, a port a station holds) against one more. Runs the central journal's cases
# (tests/central) with transmitter-cli.exe's stations forwarding over TLS to a throwaway
# PostgreSQL from pg_virtualenv. Finally runs the other Windows test programs under Wine.
#
# Environment: NATIVE_BUILD, WINDOWS_BUILD (build folders), JOBS (build jobs, default 2),
# KEEP_WINE_WORK=1 (keep the prefix and the logs).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
native_build=${NATIVE_BUILD:-$root/build-wine-native}
windows_build=${WINDOWS_BUILD:-$root/build-wine}
jobs=${JOBS:-2}

work=$(mktemp -d /tmp/wine-tests.XXXXXX)
# shellcheck source=scripts/wine-common.sh
. "$root/scripts/wine-common.sh"
trap wine_cleanup EXIT

start_both_transmitters() {
    start_transmitter "$1-main" --cold-junction -5.2
    main_port=$port
    start_transmitter "$1-second" --version 2.1.0
    second_port=$port
}

step "Native build: transmitter-sim, the link test and the central journal's test"
cmake -S "$root" -B "$native_build" -DCONFIGURATOR_WITH_QT=OFF -DCONFIGURATOR_WERROR=ON >/dev/null
cmake --build "$native_build" -j "$jobs" --target transmitter-sim wine_link_test transmitter-cli \
    central_test

step "Windows build with mingw-w64"
sqlite=$("$root/scripts/sqlite-source.sh" "$root/build-sqlite")
httplib=$("$root/scripts/debian-source.sh" cpp-httplib "$root/build-httplib")
pdf=$("$root/scripts/pdf-sources.sh" "$root/build-pdf-sources") || pdf=""
libpq=$("$root/scripts/mingw-libs.sh" "$root/build-mingw-libs")
cmake -S "$root" -B "$windows_build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
    -DCONFIGURATOR_WITH_QT=OFF -DCONFIGURATOR_WERROR=ON -DCONFIGURATOR_SQLITE_AMALGAMATION="$sqlite" \
    -DCONFIGURATOR_HTTPLIB_DIR="$httplib" -DCONFIGURATOR_PDF_SOURCES="$pdf" \
    -DCONFIGURATOR_LIBPQ_MINGW="$libpq" >/dev/null
cmake --build "$windows_build" -j "$jobs"

step "Linux run on the pseudo-terminals"
start_both_transmitters linux
CONFIGURATOR_TEST_PORT=$main_port CONFIGURATOR_TEST_SECOND_PORT=$second_port \
    CONFIGURATOR_TEST_ABSENT_PORT=/dev/configurator-no-such-port \
    "$native_build/tests/wine/wine_link_test"
stop_transmitters

step "Fresh Wine prefix"
wineboot -i >/dev/null 2>&1 || true

step "Windows run under Wine on COM7 and COM12"
start_both_transmitters wine
printf 'COM7 %s\nCOM12 %s\n' "$main_port" "$second_port" >"$work/ports"
map_com_ports "$work/ports"
wine reg query 'HKLM\Hardware\DeviceMap\SerialComm' | tr -d '\r'
CONFIGURATOR_TEST_PORT=COM7 CONFIGURATOR_TEST_SECOND_PORT=COM12 CONFIGURATOR_TEST_ABSENT_PORT=COM9 \
    wine "$windows_build/tests/wine/wine_link_test.exe"
stop_wine
stop_transmitters

step "What the transmitters received and replied, Linux against Wine"
status=0
for device in main second; do
    echo "-- $device transmitter:"
    messages_of "linux-$device"
    if ! diff -u <(messages_of "linux-$device") <(messages_of "wine-$device") \
        --label "linux-$device" --label "wine-$device"; then
        status=1
    fi
done
[ "$status" -eq 0 ] || { echo "The transmitters saw different traffic under Wine." >&2; exit 1; }

step "transmitter-cli.exe --port COM7 read --json against a fresh transmitter"
start_transmitter wine-cli
printf 'COM7 %s\n' "$port" >"$work/cli-ports"
map_com_ports "$work/cli-ports"
cli_status=0
wine "$windows_build/cli/transmitter-cli.exe" --port COM7 read --json \
    >"$work/cli.out" 2>"$work/cli.err" || cli_status=$?
stop_wine
stop_transmitters
cli_out=$(tr -d '\r' <"$work/cli.out")
echo "$cli_out"
tr -d '\r' <"$work/cli.err"
[ "$cli_status" -eq 0 ] || { echo "transmitter-cli.exe ended with $cli_status, not 0" >&2; exit 1; }
[ "$(wc -l <<<"$cli_out")" -eq 1 ] || { echo "transmitter-cli.exe printed more than one line" >&2; exit 1; }
# The simulated transmitter's own configuration: firmware 1.0.3, a K from -50 to 300.
for field in '"port":"COM7"' '"firmware":"1.0.3"' '"sensor":"K"' '"upper":300' '"lower":-50'; do
    grep -qE "[{,]${field}[,}]" <<<"$cli_out" ||
        { echo "transmitter-cli.exe's JSON lacks $field" >&2; exit 1; }
done
# On the wire as the window's Connect then Read: the preamble before each command.
wire=$(messages_of wine-cli | sed -E 's/^in: ([0-9A-F ]+) +out:.*/\1/' | sed 's/ *$//' | paste -sd '|')
[ "$wire" = "AA AA|43|AA AA|42" ] ||
    { echo "the transmitter received $wire, not AA AA|43|AA AA|42" >&2; exit 1; }
echo "exit 0, the configuration as the transmitter holds it, received as $wire"

step "transmitter-cli.exe's Cyrillic: UTF-8 into a file, intact on a console it leaves in its code page"
missing='Привет.json'
wanted="transmitter-cli: write: cannot read $missing"
(cd "$work" && wine "$windows_build/cli/transmitter-cli.exe" --port COM9 write --from "$missing" \
    2>"$work/cyrillic.err") || true
grep -qF "$wanted" "$work/cyrillic.err" ||
    { echo "into a file, not the UTF-8 of: $wanted" >&2; od -c "$work/cyrillic.err" >&2; exit 1; }
# On a pseudo-terminal Wine gives the program a console, which it draws with escape sequences
# in the terminal's UTF-8; a program that wrote its UTF-8 bytes in the code page 437 the console
# starts in would show each byte as a character of its own.
shown=$(cd "$work" && LC_ALL=C.UTF-8 timeout 120 script -qec \
    "wine '$windows_build/cli/transmitter-cli.exe' --port COM9 write --from $missing" /dev/null \
    </dev/null | sed 's/\x1b\[[?0-9;]*[A-Za-z]//g' | tr -d '\r' || true)
grep -qF "$missing" <<<"$shown" ||
    { echo "on a console, not $missing:" >&2; od -c <<<"$shown" >&2; exit 1; }
# The code page is the console's, and would stay changed for the programs after this one.
imports=$(x86_64-w64-mingw32-objdump -p "$windows_build/cli/transmitter-cli.exe")
if grep -qE '\bSetConsole(Output)?CP\b' <<<"$imports"; then
    echo "transmitter-cli.exe changes the console's code page" >&2
    exit 1
fi
stop_wine
echo "$shown"

step "transmitter-cli.exe station on COM4 and COM11, two fresh transmitters, then its journal as CSV"
start_transmitter wine-station-a
printf 'COM4 %s\n' "$port" >"$work/station-ports"
start_transmitter wine-station-b
printf 'COM11 %s\n' "$port" >>"$work/station-ports"
map_com_ports "$work/station-ports"
# Named as an operator on Windows would, drive letter and backslashes.
station_journal="Z:${work//\//\\}\\station.sqlite3"
station_status=0
# A slot whose unit never appears waits for it: without a limit a fault here would hang the run.
timeout 120 wine "$windows_build/cli/transmitter-cli.exe" station --ports COM4,COM11 --sensor K \
    --upper 300 --lower -50 --output 4-20 --fault high --compensation on \
    --journal "$station_journal" --batch wine --operator ci --count 2 --json \
    >"$work/station.out" 2>"$work/station.err" || station_status=$?
journal_status=0
wine "$windows_build/cli/transmitter-cli.exe" journal --journal "$station_journal" --csv \
    >"$work/journal.csv" 2>"$work/journal.err" || journal_status=$?
stop_wine
stop_transmitters
station_failed() {
    echo "$*" >&2
    tr -d '\r' <"$work/station.out" >&2
    tr -d '\r' <"$work/station.err" "$work/journal.err" >&2
    exit 1
}
csv_failed() {
    echo "$*" >&2
    od -c "$work/journal.csv" | tail -n 8 >&2
    exit 1
}
[ "$station_status" -eq 0 ] ||
    station_failed "transmitter-cli.exe station ended with $station_status, not 0"
ended=$(tr -d '\r' <"$work/station.out" | grep -E '^\{"event":"unit ended",' || true)
[ "$(wc -l <<<"$ended")" -eq 2 ] || station_failed "transmitter-cli.exe station ended not two units"
for slot in COM4 COM11; do
    pattern="^\\{\"event\":\"unit ended\",\"slot\":\"$slot\",.*\"verdict\":\"pass\"[,}]"
    grep -qE "$pattern" <<<"$ended" ||
        station_failed "transmitter-cli.exe station ended no unit on $slot with verdict pass"
done
[ "$journal_status" -eq 0 ] ||
    station_failed "transmitter-cli.exe journal ended with $journal_status, not 0"
# Each line ends in CR LF, once: a stream in text mode would put a CR of its own before the LF.
if [ "$(wc -l <"$work/journal.csv")" -ne 3 ] ||
    [ "$(grep -c $'[^\r]\r$' "$work/journal.csv")" -ne 3 ]; then
    csv_failed "the journal's CSV is not three lines each ending in one CR LF"
fi
csv=$(tr -d '\r' <"$work/journal.csv")
header=id,unit,batch,station,slot,operator,profile,profile_sha256,started_at,finished_at,firmware
header+=,as_found,as_left,cold_junction,verdict,error,tries
[ "$(head -n 1 <<<"$csv")" = "$header" ] || csv_failed "the journal's CSV header is not $header"
# The fields before the profile's quoted JSON and after the last JSON hold no comma.
for slot in COM4 COM11; do
    grep -qE "^[0-9a-f-]{36},[^,]+,wine,[^,]+,$slot,ci,.*,pass,,[0-9]+\$" <<<"$csv" ||
        csv_failed "the journal's CSV has no passed unit of batch wine on $slot"
done
unit_wire="AA AA|43|AA AA|42|AA AA|44 03 01 5E 80 32 01 00 00 00 00 00 01 00|AA AA|42|AA AA|45"
for device in wine-station-a wine-station-b; do
    wire=$(messages_of "$device" | sed -E 's/^in: ([0-9A-F ]+) +out:.*/\1/' | sed 's/ *$//' |
        paste -sd '|')
    [ "$wire" = "$unit_wire" ] || { echo "$device received $wire, not $unit_wire" >&2; exit 1; }
done
echo "exit 0, two units passed on COM4 and COM11 and in the CSV, each received as $unit_wire"

step "transmitter-cli.exe's entries and holds, row by row, on one fresh transmitter on COM4"
start_transmitter wine-rows
printf 'COM4 %s\n' "$port" >"$work/rows-ports"
map_com_ports "$work/rows-ports"
cli=$windows_build/cli/transmitter-cli.exe
entry=(--sensor K --upper 300 --lower -50 --output 4-20 --fault high --compensation on)
rows_journal="Z:${work//\//\\}\\rows.sqlite3"
row_failed() {
    echo "$*" >&2
    tr -d '\r' <"$work/row.out" >&2
    tr -d '\r' <"$work/row.err" >&2
    exit 1
}
# cli_row EXIT TEXT SENTENCE ARGS...: transmitter-cli.exe with ARGS, on the caller's standard
# input, must exit EXIT and say TEXT (on standard output for 0, else on standard error).
cli_row() {
    local want=$1 text=$2 sentence=$3 status=0 said
    shift 3
    timeout 60 wine "$cli" "$@" >"$work/row.out" 2>"$work/row.err" || status=$?
    said=$(tr -d '\r' <"$work/row.$([ "$want" -eq 0 ] && echo out || echo err)")
    [ "$status" -eq "$want" ] || row_failed "$sentence: exit $status, not $want"
    grep -qF -- "$text" <<<"$said" || row_failed "$sentence: it does not say $text"
    echo "ok  $sentence"
}
# «К» is 1A 04 in UTF-16LE: in text mode its 0x1A (Ctrl+Z) would end standard input there.
printf '%s' '{"port":"К","sensor":"K","upper":300,"lower":-50,"output":"4-20","fault":"high"}' |
    iconv -f UTF-8 -t UTF-16LE | { printf '\377\376'; cat; } >"$work/profile-utf16.json"
cli_row 0 "wrote sensor K  upper 300" "a UTF-16 profile holding «К» on standard input is read whole" \
    --port COM4 write --no-journal --from - --compensation on <"$work/profile-utf16.json"
for ports in 'COM4,\\.\COM4.' '\\?\COM4,COM4' '//./COM4,com4' 'COM4.,COM4'; do
    cli_row 2 "twice" "--ports $ports names one device twice, refused" \
        station --ports "$ports" "${entry[@]}" --journal "$rows_journal" --count 1 </dev/null
done
cli_row 2 "--ports holds an empty name" "--ports , is refused and --batch COM4 stays an option" \
    station --ports , --batch COM4 "${entry[@]}" --journal "$rows_journal" --count 1 </dev/null
for journal in 'C:\journals\COM5.sqlite3' COM5 'nul.txt'; do
    cli_row 2 "is named as a device that Windows keeps" "--journal $journal is refused unopened" \
        --port COM4 write "${entry[@]}" --journal "$journal" </dev/null
done
cli_row 2 "cannot import: COM5 is named as a device" "journal --import COM5 is refused unopened" \
    journal --journal "$rows_journal" --import COM5 </dev/null
cli_row 2 "holds a control character" "an --operator holding an escape sequence is refused" \
    --port COM4 write "${entry[@]}" --journal "$rows_journal" --operator $'ann\e]0;x\a' </dev/null
# A station's slot holds COM4 between its exchanges: a write while its unit waits to be taken
# out finds the port busy.
timeout 120 wine "$cli" station --ports COM4 "${entry[@]}" --journal "$rows_journal" --json \
    >"$work/holder.out" 2>"$work/holder.err" </dev/null &
holder=$!
for _ in $(seq 600); do
    messages_of wine-rows | grep -q '^in: 45 ' && break
    sleep 0.1
done
cli_row 4 "busy (held by another program: its mutex Global\\transmitter-port-COM4)" \
    "a write while a station holds COM4 finds it busy" \
    --port COM4 write --no-journal --sensor K --upper 250 --lower -50 --output 4-20 \
    --fault high --compensation on </dev/null
stop_wine
wait "$holder" || true
stop_transmitters
writes=$(messages_of wine-rows | grep -c '^in: 44 ' || true)
[ "$writes" -eq 2 ] ||
    { echo "the transmitter took $writes writes, not 2 (the profile's and the station's)" >&2; exit 1; }
echo "the transmitter took the profile's write and the station's, and nothing of any refused row"

step "transmitter-cli.exe station --http: its /api/state and /metrics while it commissions on COM4"
start_transmitter wine-page
printf 'COM4 %s\n' "$port" >"$work/page-ports"
map_com_ports "$work/page-ports"
# --count 2 with one unit: the station keeps probing, with the page up, until it is stopped here.
timeout 120 wine "$windows_build/cli/transmitter-cli.exe" station --ports COM4 --sensor K \
    --upper 300 --lower -50 --output 4-20 --fault high --compensation on \
    --journal "Z:${work//\//\\}\\page.sqlite3" --batch wine-page --operator ci --count 2 \
    --http 0 --json >"$work/page.out" 2>"$work/page.err" &
page_pid=$!
page_failed() {
    echo "$*" >&2
    tr -d '\r' <"$work/page.err" >&2
    kill "$page_pid" 2>/dev/null || true
    exit 1
}
url=""
for _ in $(seq 600); do
    url=$(tr -d '\r' <"$work/page.err" | sed -n 's/.*the operator page is at \(http[^ ]*\).*/\1/p')
    [ -n "$url" ] && break
    sleep 0.1
done
[ -n "$url" ] || page_failed "transmitter-cli.exe station --http named no page"
metrics=""
for _ in $(seq 600); do
    metrics=$(curl -sf "${url}metrics" || true)
    grep -qx 'transmitter_station_units_total{verdict="pass"} 1' <<<"$metrics" && break
    sleep 0.1
done
grep -qx 'transmitter_station_units_total{verdict="pass"} 1' <<<"$metrics" ||
    page_failed "/metrics never counted the unit on COM4: $metrics"
state=$(curl -sf "${url}api/state") || page_failed "/api/state did not answer"
grep -qE '"slot":"COM4",.*"verdict":"pass"' <<<"$state" ||
    page_failed "/api/state shows no passed unit on COM4: $state"
kill "$page_pid" 2>/dev/null || true
wait "$page_pid" 2>/dev/null || true
stop_wine
stop_transmitters
echo "the page at $url counted the unit on COM4: $(grep -c '' <<<"$metrics") lines of metrics"

step "transmitter-cli.exe label and certificate of a unit from the journal the station wrote"
unit=$(tr -d '\r' <"$work/station.out" | grep -oE '"unit":"[^"]+"' | head -n 1 | cut -d '"' -f 4)
wine "$windows_build/cli/transmitter-cli.exe" label "$unit" --journal "$station_journal" \
    >"$work/label.zpl" 2>"$work/label.err" || station_failed "transmitter-cli.exe label $unit failed"
label=$(tr -d '\r' <"$work/label.zpl")
[ "$(head -n 2 <<<"$label" | paste -sd ' ')" = "^XA ^CI28" ] && grep -qF "^FD$unit^FS" <<<"$label" &&
    [ "$(tail -n 1 <<<"$label")" = "^XZ" ] ||
    { echo "the label of $unit is not ZPL naming it:" >&2; echo "$label" >&2; exit 1; }
echo "label: ZPL of $unit, $(wc -l <<<"$label") lines"
if [ -n "$pdf" ]; then
    wine "$windows_build/cli/transmitter-cli.exe" certificate "$unit" --journal "$station_journal" \
        -o "Z:${work//\//\\}\\windows.pdf" >/dev/null 2>"$work/certificate.err" ||
        station_failed "transmitter-cli.exe certificate $unit failed"
    # The same row makes the same bytes whichever system makes them.
    "$native_build/cli/transmitter-cli" certificate "$unit" --journal "$work/station.sqlite3" \
        -o "$work/linux.pdf" >/dev/null
    cmp "$work/windows.pdf" "$work/linux.pdf" ||
        { echo "the certificate of $unit differs between Windows and Linux" >&2; exit 1; }
    pdftotext "$work/windows.pdf" - 2>/dev/null | grep -qF "ГОДЕН" ||
        { echo "the certificate of $unit does not say ГОДЕН" >&2; exit 1; }
    echo "certificate: $(stat -c %s "$work/windows.pdf") bytes, the same as Linux makes, ГОДЕН"
else
    echo "certificate: not checked, this Windows build has no PDF (Debian's libharu, zlib and" \
        "qr-code-generator sources could not be fetched)"
fi

step "transmitter-cli.exe station --central to a throwaway PostgreSQL, over TLS with verify-full"
# The central journal's own cases, with the stations run by the Windows program.
CENTRAL_TEST_WINDOWS_CLI="$windows_build/cli/transmitter-cli.exe" pg_virtualenv \
    "$native_build/tests/central/central_test" \
    --gtest_filter='*TwoStations*:*ServerStopped*:*VerifyFull*' --gtest_brief=1
stop_wine

step "The Windows programs import only system DLLs: the window a GUI program, the command line a console one"
"$root/scripts/check-windows-exe.sh" "$windows_build/app/win32/transmitter-configurator.exe"
"$root/scripts/check-windows-exe.sh" --console "$windows_build/cli/transmitter-cli.exe"

step "The other Windows test programs under Wine"
# The window driver shares this build folder but needs its own set-up: wine-window-tests.sh.
for test in $(cd "$windows_build" && find tests -name '*_test.exe' ! -name wine_link_test.exe \
    ! -name window_test.exe | sort); do
    echo "-- $test"
    wine "$windows_build/$test" --gtest_brief=1
done

step "Passed"
