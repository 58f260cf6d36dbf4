#!/usr/bin/env bash
# Runs every fuzzer built in the given build folder for a bounded time, each
# from its seed corpus; fails on the first finding.
set -euo pipefail
build=$(cd "$1" && pwd)
seconds=${FUZZ_SECONDS:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
shopt -s nullglob
found=0
for fuzzer in "$build"/fuzz/fuzz_*; do
    [[ -x "$fuzzer" ]] || continue
    name=$(basename "$fuzzer")
    found=1
    work=$(mktemp -d)
    # fuzz/<name>.seeds lists seed folders, one per line, relative to the project.
    seeds=()
    if [[ -f "$root/fuzz/$name.seeds" ]]; then
        while read -r folder; do
            [[ -n "$folder" && -d "$root/$folder" ]] && seeds+=("$root/$folder")
        done <"$root/fuzz/$name.seeds"
    fi
    echo "Fuzzing $name for ${seconds}s"
    (cd "$work" && "$fuzzer" -max_total_time="$seconds" -print_final_stats=1 \
        "$work" "${seeds[@]}" >"$work/log" 2>&1) || {
        tail -n 60 "$work/log"
        echo "$name found a problem; the crashing input is in $work"
        exit 1
    }
    grep -E 'stat::number_of_executed_units|Done' "$work/log" | tail -n 2 || true
    rm -rf "$work"
done
[[ $found -eq 1 ]] || echo "No fuzzers were built"
