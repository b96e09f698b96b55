#!/usr/bin/env bash
# How long transmitter-cli takes for each subcommand against the simulated transmitter: the
# median of RUNS runs each, printed beside the target for the command line and the time the
# window's buttons are designed to take for the same work. Then the clone of one configuration
# onto ten transmitters, as the README's batch does it, BATCHES times.
#
# A benchmark, not a test: it fails when a run fails, never on a figure.
#
# Usage: bench-cli.sh [BUILD]   (BUILD: the build folder holding cli/transmitter-cli and
#                                sim/transmitter-sim; default build)
# Environment: RUNS (default 10), BATCHES (default 3).
set -euo pipefail
export LC_ALL=C

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
cli=$build/cli/transmitter-cli
sim=$build/sim/transmitter-sim
runs=${RUNS:-10}
batches=${BATCHES:-3}
for program in "$cli" "$sim"; do
    [ -x "$program" ] || { echo "bench-cli: no $program; build it first" >&2; exit 2; }
done

work=$(mktemp -d /tmp/bench-cli.XXXXXX)
sim_pids=()
cleanup() {
    for pid in "${sim_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${sim_pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

# start_transmitter NAME: a transmitter-sim with its trace in $work/NAME.log; sets `port`.
start_transmitter() {
    "$sim" </dev/null >"$work/$1.log" 2>&1 &
    sim_pids+=($!)
    for _ in $(seq 100); do
        port=$(sed -n '1s/^Port: //p' "$work/$1.log")
        [ -n "$port" ] && return 0
        sleep 0.1
    done
    echo "bench-cli: transmitter-sim $1 did not start" >&2
    cat "$work/$1.log" >&2
    exit 1
}

# seconds COMMAND...: runs COMMAND, its output to $work/out, and prints the wall-clock seconds
# it took; a failing run ends the benchmark, since its time would mean nothing.
seconds() {
    local start=$EPOCHREALTIME end
    if ! "$@" >"$work/out" 2>&1; then
        echo "bench-cli: failed: $*" >&2
        cat "$work/out" >&2
        exit 1
    fi
    end=$EPOCHREALTIME
    awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f\n", b - a }'
}

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }

# row LABEL MEDIAN TARGET WINDOW
row() {
    local verdict
    verdict=$(awk -v m="$2" -v t="$3" 'BEGIN { print (m <= t ? "within target" : "OVER TARGET") }')
    printf '%-38s %8.2f s %8s s   %-22s %s\n' "$1" "$2" "$3" "$4" "$verdict"
}

start_transmitter main
main=$port
k_config=(--sensor K --upper 300 --lower -50 --output 4-20 --fault high --compensation on)

echo "transmitter-cli against transmitter-sim ($main), median of $runs runs each"
printf '%-38s %10s %10s   %-22s\n' "" "median" "target" "window (designed)"
bench() {
    local label=$1 target=$2 window=$3
    shift 3
    local times=()
    for _ in $(seq "$runs"); do times+=("$(seconds "$cli" --port "$main" "$@")"); done
    row "$label" "$(printf '%s\n' "${times[@]}" | median)" "$target" "$window"
}
bench "version" 0.7 "1.1 s" version
bench "cold-junction" 0.7 "1.0 s" cold-junction
bench "read" 1.3 "3.6 s (Connect + Read)" read
bench "write" 0.7 "1.5 s" write "${k_config[@]}"
bench "write --verify" 2.0 "5.1 s" write "${k_config[@]}" --verify

# The README's clone: the profile read from one transmitter, then written and verified on each
# of ten others in turn.
"$cli" --port "$main" read --json >"$work/profile.json"
units=()
for unit in $(seq 10); do
    start_transmitter "unit$unit"
    units+=("$port")
done
clone() {
    for unit in "${units[@]}"; do
        "$cli" --port "$unit" write --from "$work/profile.json" --compensation on --verify ||
            return 1
    done
}
times=()
for _ in $(seq "$batches"); do times+=("$(seconds clone)"); done
row "batch: 10 x write --from --verify" "$(printf '%s\n' "${times[@]}" | median)" 25 \
    "51 s (10 x 5.1 s)"
echo "(the batch: median of $batches)"
