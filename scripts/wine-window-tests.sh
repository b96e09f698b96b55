#!/usr/bin/env bash
# The Windows program end to end under Wine, through its window, against simulated transmitters.
#
# Builds transmitter-sim natively, and transmitter-configurator.exe with its window driver
# (tests/wine/window_test) for Windows with mingw-w64. In one fresh Wine prefix on a virtual
# display of its own, it starts one transmitter per case of the driver, maps each to a COM port
# of its own (COM7 leads to nothing that opens, for the cases without a transmitter), and runs
# the driver, which starts the real program for each case, lists only that case's COM port
# among the serial ports, drives the window and compares what the transmitter received and
# replied with what the same case puts on the wire on Linux. The build folders are those of
# wine-tests.sh, configured alike, so that running both builds everything once.
#
# Environment: NATIVE_BUILD, WINDOWS_BUILD (build folders), JOBS (build jobs, default 2),
# PROGRAM (a transmitter-configurator.exe to test instead of the one built here),
# KEEP_WINE_WORK=1 (keep the prefix and the transmitters' traces). Arguments go to the driver,
# e.g. --gtest_filter='Cases/*Adjust*'.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
native_build=${NATIVE_BUILD:-$root/build-wine-native}
windows_build=${WINDOWS_BUILD:-$root/build-wine}
jobs=${JOBS:-2}

work=$(mktemp -d /tmp/wine-window-tests.XXXXXX)
# shellcheck source=scripts/wine-common.sh
. "$root/scripts/wine-common.sh"

display_pid=
cleanup() {
    wine_cleanup
    if [ -n "$display_pid" ]; then
        kill "$display_pid" 2>/dev/null || true
        wait "$display_pid" 2>/dev/null || true
    fi
}
trap cleanup EXIT

# A display of its own, so that no window of the desktop (or of another run) gets in the way.
start_display() {
    Xvfb -displayfd 5 -screen 0 1280x1024x24 -nolisten tcp 5>"$work/display" >/dev/null 2>&1 &
    display_pid=$!
    for _ in $(seq 100); do
        if [ -s "$work/display" ]; then
            export DISPLAY=":$(tr -d '\n' <"$work/display")"
            return 0
        fi
        sleep 0.1
    done
    echo "Xvfb did not start" >&2
    return 1
}

step "Native build: transmitter-sim"
cmake -S "$root" -B "$native_build" -DCONFIGURATOR_WITH_QT=OFF -DCONFIGURATOR_WERROR=ON >/dev/null
cmake --build "$native_build" -j "$jobs" --target transmitter-sim

step "Windows build with mingw-w64: the program and its window driver"
sqlite=$("$root/scripts/sqlite-source.sh" "$root/build-sqlite")
httplib=$("$root/scripts/debian-source.sh" cpp-httplib "$root/build-httplib")
libpq=$("$root/scripts/mingw-libs.sh" "$root/build-mingw-libs")
cmake -S "$root" -B "$windows_build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
    -DCONFIGURATOR_WITH_QT=OFF -DCONFIGURATOR_WERROR=ON -DCONFIGURATOR_SQLITE_AMALGAMATION="$sqlite" \
    -DCONFIGURATOR_HTTPLIB_DIR="$httplib" -DCONFIGURATOR_LIBPQ_MINGW="$libpq" >/dev/null
targets=(window_test)
[ -n "${PROGRAM:-}" ] || targets+=(transmitter-configurator)
cmake --build "$windows_build" -j "$jobs" --target "${targets[@]}"
program=${PROGRAM:-$windows_build/app/win32/transmitter-configurator.exe}
driver=$windows_build/tests/wine/window_test.exe

step "Virtual display and a fresh Wine prefix"
start_display
echo "DISPLAY=$DISPLAY"
wineboot -i >/dev/null 2>&1 || true

step "One transmitter per case, each on a COM port of its own"
wine "$driver" --print-transmitters | tr -d '\r' >"$work/transmitters"
: >"$work/ports"
: >"$work/cases"
number=20
while read -r name options; do
    # shellcheck disable=SC2086  # the options are words
    start_transmitter "case-$name" $options
    echo "COM$number $port" >>"$work/ports"
    echo "$name COM$number Z:$work/case-$name.log" >>"$work/cases"
    number=$((number + 1))
done <"$work/transmitters"
# COM7 leads to a folder: the port is listed, but opening it fails as with nothing behind it.
# (A path that does not exist would not do: Wine still opens the port then, as a device that
# knows no serial settings.)
mkdir "$work/nothing-behind-COM7"
echo "COM7 $work/nothing-behind-COM7" >>"$work/ports"
cat "$work/cases"
map_com_ports "$work/ports"

step "The program under Wine, driven through its window"
CONFIGURATOR_EXE="Z:$program" CONFIGURATOR_WINDOW_CASES="Z:$work/cases" \
    wine "$driver" "$@"

step "Passed"
