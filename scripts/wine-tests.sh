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
# shellcheck source=scripts/wine-common.sh
. "$root/scripts/wine-common.sh"
trap wine_cleanup EXIT

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

step "The Windows program is a GUI program that imports only system DLLs"
"$root/scripts/check-windows-exe.sh" "$windows_build/app/win32/transmitter-configurator.exe"

step "The other Windows test programs under Wine"
# The window driver shares this build folder but needs its own set-up: wine-window-tests.sh.
for test in $(cd "$windows_build" && find tests -name '*_test.exe' ! -name wine_link_test.exe \
    ! -name window_test.exe | sort); do
    echo "-- $test"
    wine "$windows_build/$test" --gtest_brief=1
done

step "Passed"
