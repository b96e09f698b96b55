#!/usr/bin/env bash
# Runs every fuzz target built in BUILD_DIR for SECONDS seconds each, on a copy of its seed
# corpus in the build folder (the repository is never written), then prints per target the
# executions and findings and, last, the total. Exits non-zero when anything was found; the
# inputs that did it are kept in BUILD_DIR/fuzz-findings/<target>/.
#   tests/fuzz/run_fuzz.sh BUILD_DIR SECONDS
set -uo pipefail

build_dir=${1:?build folder}
seconds=${2:?seconds per target}
source_dir="$(cd "$(dirname "$0")" && pwd)"
work="$build_dir/fuzz-run"
mkdir -p "$work"

targets=()
for binary in "$build_dir"/tests/fuzz/*_fuzz; do
    [ -x "$binary" ] && targets+=("$binary")
done
if [ ${#targets[@]} -eq 0 ]; then
    echo "fuzz: no targets in $build_dir/tests/fuzz" >&2
    exit 2
fi

total_runs=0
total_findings=0
report=()
for binary in "${targets[@]}"; do
    name=$(basename "$binary")
    corpus="$work/corpus/$name"
    findings="$work/../fuzz-findings/$name"
    log="$work/$name.log"
    mkdir -p "$corpus" "$findings"
    # The seeds join whatever earlier runs in this folder found worth keeping.
    if [ -d "$source_dir/corpus/$name" ]; then
        cp -n "$source_dir/corpus/$name"/* "$corpus"/ 2>/dev/null || true
    fi
    echo "fuzz: $name for ${seconds} s"
    "$binary" -max_total_time="$seconds" -print_final_stats=1 -max_len=512 \
        -artifact_prefix="$findings/" "$corpus" >"$log" 2>&1
    status=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *\([0-9]*\).*/\1/p' "$log" | tail -n 1)
    if [ -z "$runs" ]; then
        # A run stopped by a finding may end before its final statistics.
        runs=$(sed -n 's/^#\([0-9]*\).*/\1/p' "$log" | tail -n 1)
    fi
    runs=${runs:-0}
    found=0
    if [ $status -ne 0 ]; then
        found=1
        tail -n 40 "$log" | sed "s/^/    $name: /"
    fi
    total_runs=$((total_runs + runs))
    total_findings=$((total_findings + found))
    report+=("$(printf '  %-28s %12s executions, %d findings' "$name" "$runs" "$found")")
done

printf '%s\n' "${report[@]}"
echo "fuzz: $total_runs executions in all, $total_findings findings"
[ "$total_findings" -eq 0 ]
