#!/usr/bin/env bash
# The Windows serial link under Wine, against the simulated transmitter.
#
# Builds transmitter-sim and wine_link_test natively, and wine_link_test with every other test
# that needs no Qt for Windows with mingw-w64. Runs the link cases twice, each time against two
# fresh transmitters: on Linux on their pseudo-terminals, then under Wine with the terminals
# mapped to COM7 and COM12 in a fresh Wine prefix. Both runs must pass, and each transmitter
# must have received the same messages and sent the same replies in both. Finally runs the other
# Windows test programs under Wine.
#
# Environment: NATIVE_BUILD, WINDOWS_BUILD (build folders), JOBS (build jobs, default 2),
# KEEP_WINE_WORK=1 (keep the prefix and the logs).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
native_build=${NATIVE_BUILD:-$root/build-wine-native}
windows_build=${WINDOWS_BUILD:-$root/build-wine}
jobs=${JOBS:-2}

work=$(mktemp -d /tmp/wine-tests.XXXXXX)
export WINEPREFIX=$work/prefix
export WINEDEBUG=-all
export WINEARCH=win64
# No prompt for Mono or Gecko while the prefix is made: nothing here needs them.
export WINEDLLOVERRIDES="mscoree,mshtml="

sim_pids=()

stop_transmitters() {
    for pid in "${sim_pids[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    sim_pids=()
}

# Wine goes first: the server holds the pseudo-terminals open, and their hang-up when a
# transmitter ends would make it dump its object table onto the output.
stop_wine() {
    if [ -d "$WINEPREFIX" ]; then
        wineserver -k 2>/dev/null || true
        wineserver -w 2>/dev/null || true
    fi
}

cleanup() {
    stop_wine
    stop_transmitters
    if [ "${KEEP_WINE_WORK:-0}" = 1 ]; then
        echo "Kept $work"
    else
        rm -rf "$work"
    fi
}
trap cleanup EXIT

step() { printf '\n== %s (%ds)\n' "$*" "$SECONDS"; }

# start_transmitter NAME [OPTIONS...]: starts transmitter-sim with its output in $work/NAME.log
# and sets `port` to its pseudo-terminal.
start_transmitter() {
    local name=$1
    shift
    "$native_build/sim/transmitter-sim" "$@" >"$work/$name.log" 2>&1 &
    sim_pids+=($!)
    for _ in $(seq 100); do
        if head -n 1 "$work/$name.log" | grep -q '^Port: '; then
            port=$(head -n 1 "$work/$name.log" | sed 's/^Port: //')
            return 0
        fi
        sleep 0.1
    done
    echo "transmitter-sim $name did not start:" >&2
    cat "$work/$name.log" >&2
    return 1
}

# The trace without its first line (the port) and without the seconds column.
messages_of() { tail -n +2 "$work/$1.log" | sed -E 's/^ *[0-9]+\.[0-9]+ +//'; }

start_both_transmitters() {
    start_transmitter "$1-main" --cold-junction -5.2
    main_port=$port
    start_transmitter "$1-second" --version 2.1.0
    second_port=$port
}

step "Native build: transmitter-sim and the link test"
cmake -S "$root" -B "$native_build" -DCONFIGURATOR_WITH_QT=OFF -DCONFIGURATOR_WERROR=ON >/dev/null
cmake --build "$native_build" -j "$jobs" --target transmitter-sim wine_link_test

step "Windows build with mingw-w64"
cmake -S "$root" -B "$windows_build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
    -DCONFIGURATOR_WITH_QT=OFF -DCONFIGURATOR_WERROR=ON >/dev/null
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
cat >"$work/ports.reg" <<EOF
Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]
"COM7"="$main_port"
"COM12"="$second_port"
EOF
wine reg import "Z:$work/ports.reg" >/dev/null 2>&1
# Wine makes its COM devices, and lists them under Hardware\DeviceMap\SerialComm, when it starts.
wineserver -k
wineserver -w
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

step "The other Windows test programs under Wine"
for test in $(cd "$windows_build" && find tests -name '*_test.exe' ! -name wine_link_test.exe | sort); do
    echo "-- $test"
    wine "$windows_build/$test" --gtest_brief=1
done

step "Passed"
