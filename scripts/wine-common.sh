# Shared by the Wine test scripts: a fresh Wine prefix in a work folder, and simulated
# transmitters on pseudo-terminals. Source it after setting `work` (a fresh folder) and
# `native_build` (the build folder that holds sim/transmitter-sim).

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

# Stops Wine and the transmitters, and removes the work folder unless KEEP_WINE_WORK=1.
wine_cleanup() {
    stop_wine
    stop_transmitters
    if [ "${KEEP_WINE_WORK:-0}" = 1 ]; then
        echo "Kept $work"
    else
        rm -rf "$work"
    fi
}

step() { printf '\n== %s (%ds)\n' "$*" "$SECONDS"; }

# start_transmitter NAME [OPTIONS...]: starts transmitter-sim with its output in $work/NAME.log
# and sets `port` to its pseudo-terminal.
start_transmitter() {
    local name=$1
    shift
    # Its standard input swaps units; a loop reading a file around this call must keep its lines.
    "$native_build/sim/transmitter-sim" "$@" </dev/null >"$work/$name.log" 2>&1 &
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

# map_com_ports FILE: maps the COM ports of FILE (lines "COMn device-path") in the prefix and
# restarts Wine, which makes its COM devices and lists them under Hardware\DeviceMap\SerialComm
# when it starts.
map_com_ports() {
    {
        printf 'Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\n'
        while read -r name device; do printf '"%s"="%s"\n' "$name" "$device"; done <"$1"
    } >"$work/ports.reg"
    wine reg import "Z:$work/ports.reg" >/dev/null 2>&1
    wineserver -k
    wineserver -w
}
