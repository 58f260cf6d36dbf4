#!/usr/bin/env bash
# Renders every song of the corpus with this project's xm_render and with the
# Debian players xmp and openmpt123, all with linear interpolation at 44100 Hz
# in 16-bit stereo with the output discarded, and prints a Markdown table of
# the real-time factor (song seconds per wall-clock second) of each, the ratio
# of ours to the faster of the two others, and the peak memory of each.
#
# Usage: bench/compare-players.sh [--runs N] [--songs DIR] [XM_RENDER | BUILD_DIR]
#
# Every song is rendered for its own length as openmpt123 reports it: xmp and
# openmpt123 play the song once to its end, xm_render for that many seconds.
# The players run in turn (ours, xmp, openmpt123, ours, ...) after one unmeasured
# warm-up round, so that a change in the machine's load touches all three
# alike; the table gives the median of the runs and, in brackets, their range.
# Progress goes to standard error, the table to standard output.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
runs=5
songs="$root/../shared/corpus/songs"
renderer=""

usage() {
    sed -n '2,15p' "$0" | sed 's/^# \{0,1\}//'
}

fail() {
    echo "compare-players: $*" >&2
    exit 1
}

while [ $# -gt 0 ]; do
    case "$1" in
        --runs)
            [ $# -ge 2 ] || fail "--runs needs a number"
            runs=$2
            shift 2
            ;;
        --songs)
            [ $# -ge 2 ] || fail "--songs needs a folder"
            songs=$2
            shift 2
            ;;
        -h | --help)
            usage
            exit 0
            ;;
        -*) fail "unknown option $1 (try --help)" ;;
        *)
            renderer=$1
            shift
            ;;
    esac
done
[[ "$runs" =~ ^[1-9][0-9]*$ ]] || fail "--runs $runs is not a positive number"

# The peers and GNU time (for the peak memory) come from Debian when missing.
install_packages() {
    local runner=()
    if [ "$(id -u)" -ne 0 ]; then
        command -v sudo >/dev/null || fail "$* missing, and neither root nor sudo to install it"
        runner=(sudo)
    fi
    echo "Installing $* from Debian ..." >&2
    "${runner[@]}" apt-get update -qq >&2 || fail "apt-get update failed"
    DEBIAN_FRONTEND=noninteractive "${runner[@]}" apt-get install -y -qq "$@" >&2 ||
        fail "cannot install $*"
}
missing=()
command -v xmp >/dev/null || missing+=(xmp)
command -v openmpt123 >/dev/null || missing+=(openmpt123)
[ -x /usr/bin/time ] || missing+=(time)
if [ ${#missing[@]} -gt 0 ]; then
    install_packages "${missing[@]}"
fi

# The renderer: a given executable, a given build folder, or the release build
# folder, built here when it has no xm_render yet.
if [ -z "$renderer" ]; then
    renderer="$root/build/release"
fi
if [ -d "$renderer" ]; then
    build=$renderer
    renderer="$build/tools/xm_render"
    if [ ! -x "$renderer" ]; then
        echo "Building xm_render in $build ..." >&2
        if [ ! -f "$build/CMakeCache.txt" ]; then
            cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >&2 ||
                fail "cannot configure $build"
        fi
        cmake --build "$build" --target xm_render -j"$(nproc)" >&2 || fail "cannot build xm_render"
    fi
fi
[ -x "$renderer" ] || fail "$renderer is not an executable"

shopt -s nullglob
files=("$songs"/*.xm)
[ ${#files[@]} -gt 0 ] || fail "no .xm songs in $songs"

# The song's length in seconds as openmpt123 reports it ("Duration...: 05:49.207").
song_seconds() {
    openmpt123 --info "$1" 2>/dev/null | awk '/^Duration/ {
        sub(/^[^:]*: */, ""); n = split($0, part, ":"); s = 0
        for (i = 1; i <= n; i++) s = s * 60 + part[i]
        print s; exit }'
}

# Sets `command` to one player's command for a song; all three write raw
# 16-bit stereo at 44100 Hz to standard output with linear interpolation.
set_command() {
    local player=$1 song=$2 seconds=$3
    case "$player" in
        ours) command=("$renderer" "$song" -o - --seconds "$seconds") ;;
        xmp) command=(xmp --quiet --nocmd --norc --interpolation linear --frequency 44100
            --bits 16 --stdout "$song") ;;
        openmpt) command=(openmpt123 --quiet --batch --stdout --no-float --samplerate 44100
            --channels 2 --filter 2 "$song") ;;
    esac
}

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Runs one player's command with its output discarded and appends its wall
# time in seconds and its peak memory in KB to that player's lists.
measure() {
    local player=$1 start end
    shift
    start=$EPOCHREALTIME
    /usr/bin/time -f '%M' -o "$tmp/rss" "$@" >/dev/null 2>"$tmp/err" ||
        fail "$* failed: $(tail -n 3 "$tmp/err")"
    end=$EPOCHREALTIME
    awk -v s="$start" -v e="$end" 'BEGIN { printf "%.6f\n", e - s }' >>"$tmp/$player.wall"
    tail -n 1 "$tmp/rss" >>"$tmp/$player.rss"
}

# The median and range of a column of numbers: "median min max".
summary() {
    sort -g | awk '{ v[NR] = $1 } END {
        m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
        print m, v[1], v[NR] }'
}

players=(ours xmp openmpt)
echo "| song | length (s) | ours (x real time) | xmp | openmpt123 | ours / faster peer | peak memory ours / xmp / openmpt123 (MB) |"
echo "|---|---:|---:|---:|---:|---:|---:|"
for song in "${files[@]}"; do
    name=$(basename "$song")
    seconds=$(song_seconds "$song")
    [ -n "$seconds" ] || fail "openmpt123 cannot tell the length of $name"
    # Each player's own output length, counted once, gives its song seconds.
    declare -A length=()
    for player in "${players[@]}"; do
        set_command "$player" "$song" "$seconds"
        bytes=$("${command[@]}" 2>/dev/null | wc -c)
        length[$player]=$(awk -v b="$bytes" 'BEGIN { printf "%.3f", b / 4 / 44100 }')
    done
    for round in $(seq 0 "$runs"); do
        echo "$name: round $round of $runs" >&2
        for player in "${players[@]}"; do
            set_command "$player" "$song" "$seconds"
            measure "$player" "${command[@]}"
        done
        if [ "$round" -eq 0 ]; then
            # The warm-up round is not counted.
            for player in "${players[@]}"; do
                : >"$tmp/$player.wall"
                : >"$tmp/$player.rss"
            done
        fi
    done
    declare -A rtf=() cell=() memory=()
    for player in "${players[@]}"; do
        read -r median low high <<<"$(summary <"$tmp/$player.wall")"
        # A shorter wall time is a higher factor: the range flips.
        read -r "rtf[$player]" "cell[$player]" < <(awk -v l="${length[$player]}" -v m="$median" \
            -v lo="$low" -v hi="$high" \
            'BEGIN { printf "%.3f %.0f (%.0f-%.0f)\n", l / m, l / m, l / hi, l / lo }')
        read -r _ _ rss <<<"$(summary <"$tmp/$player.rss")"
        memory[$player]=$(awk -v k="$rss" 'BEGIN { printf "%.1f", k / 1024 }')
    done
    ratio=$(awk -v o="${rtf[ours]}" -v x="${rtf[xmp]}" -v m="${rtf[openmpt]}" \
        'BEGIN { p = x > m ? x : m; printf "%.2f", o / p }')
    echo "| $name | $seconds | ${cell[ours]} | ${cell[xmp]} | ${cell[openmpt]} | $ratio | ${memory[ours]} / ${memory[xmp]} / ${memory[openmpt]} |"
    unset length rtf cell memory
done
