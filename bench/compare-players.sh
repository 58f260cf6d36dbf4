#!/usr/bin/env bash
# Renders songs with this project's xm_render and with the Debian players xmp
# and openmpt123, all with linear interpolation at 44100 Hz in 16-bit stereo
# with the output discarded, and prints a Markdown table of the speed of each
# (song seconds per second of CPU time), the ratio of ours to the faster of
# the two others, and the peak memory of each.
#
# Usage: bench/compare-players.sh [--runs N] [--songs DIR]... [--baseline XM_RENDER]
#                                 [XM_RENDER | BUILD_DIR]
#
# The songs are the corpus's songs/ and wild/ folders unless --songs names
# folders. Every song is rendered for its own length as openmpt123 reports
# it: xmp and openmpt123 play the song once to its end, xm_render for that
# many seconds. Each run is measured by the CPU time of the player's process
# (user and system, to the microsecond), which other programs sharing the
# machine disturb far less than the time on the clock. The players take
# turns (ours, xmp, openmpt123, then xmp, openmpt123, ours, ...) after one
# unmeasured warm-up round, so that a change in the machine's load touches
# all three alike; the table gives each player's best run and, in brackets,
# its slowest, and the ratio compares the best runs. --baseline adds another
# xm_render (another build, say before a change) to the same rounds, with its
# own column and ratio.
# Progress goes to standard error, the table to standard output.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
runs=5
folders=()
renderer=""
baseline=""

usage() {
    sed -n '2,23p' "$0" | sed 's/^# \{0,1\}//'
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
            folders+=("$2")
            shift 2
            ;;
        --baseline)
            [ $# -ge 2 ] || fail "--baseline needs an xm_render"
            baseline=$2
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
if [ ${#folders[@]} -eq 0 ]; then
    folders=("$root/../shared/corpus/songs" "$root/../shared/corpus/wild")
fi

# The peers come from Debian when missing.
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
if [ ${#missing[@]} -gt 0 ]; then
    install_packages "${missing[@]}"
fi

# The renderer: a given executable, a given build folder, or the release build
# folder. The measuring program comes from the build folder (the release one
# beside a given executable); either is built here when missing.
build="$root/build/release"
if [ -z "$renderer" ]; then
    renderer="$build"
fi
if [ -d "$renderer" ]; then
    build=$renderer
    renderer="$build/tools/xm_render"
fi
meter="$build/bench/cpu_time"
targets=()
[ -x "$meter" ] || targets+=(cpu_time)
[ -x "$renderer" ] || [ "$renderer" != "$build/tools/xm_render" ] || targets+=(xm_render)
if [ ${#targets[@]} -gt 0 ]; then
    echo "Building ${targets[*]} in $build ..." >&2
    if [ ! -f "$build/CMakeCache.txt" ]; then
        cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >&2 ||
            fail "cannot configure $build"
    fi
    cmake --build "$build" --target "${targets[@]}" -j"$(nproc)" >&2 ||
        fail "cannot build ${targets[*]}"
fi
[ -x "$renderer" ] || fail "$renderer is not an executable"
[ -x "$meter" ] || fail "$meter is not an executable"
[ -z "$baseline" ] || [ -x "$baseline" ] || fail "$baseline is not an executable"

shopt -s nullglob
files=()
for folder in "${folders[@]}"; do
    [ -d "$folder" ] || fail "no folder $folder"
    files+=("$folder"/*.xm)
done
[ ${#files[@]} -gt 0 ] || fail "no .xm songs in ${folders[*]}"

# The song's length in seconds as openmpt123 reports it ("Duration...: 05:49.207").
song_seconds() {
    openmpt123 --info "$1" 2>/dev/null | awk '/^Duration/ {
        sub(/^[^:]*: */, ""); n = split($0, part, ":"); s = 0
        for (i = 1; i <= n; i++) s = s * 60 + part[i]
        print s; exit }'
}

# The channel count from the XM header (16 bits, little-endian, at byte 68).
song_channels() {
    od -An -tu2 -j68 -N2 "$1" | tr -d ' '
}

# Sets `command` to one player's command for a song; all three write raw
# 16-bit stereo at 44100 Hz to standard output with linear interpolation.
set_command() {
    local player=$1 song=$2 seconds=$3
    case "$player" in
        ours) command=("$renderer" "$song" -o - --seconds "$seconds") ;;
        baseline) command=("$baseline" "$song" -o - --seconds "$seconds") ;;
        xmp) command=(xmp --quiet --nocmd --norc --interpolation linear --frequency 44100
            --bits 16 --stdout "$song") ;;
        openmpt) command=(openmpt123 --quiet --batch --stdout --no-float --samplerate 44100
            --channels 2 --filter 2 "$song") ;;
    esac
}

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Runs one player's command with its output discarded and appends its CPU
# time in microseconds and its peak memory in KB to that player's lists.
measure() {
    local player=$1
    shift
    "$meter" "$tmp/report" "$@" >/dev/null 2>"$tmp/err" ||
        fail "$* failed: $(tail -n 3 "$tmp/err")"
    read -r cpu rss <"$tmp/report"
    echo "$cpu" >>"$tmp/$player.cpu"
    echo "$rss" >>"$tmp/$player.rss"
}

players=(ours xmp openmpt)
header="| song | channels | length (s) | ours (x real time) |"
rule="|---|---:|---:|---:|"
if [ -n "$baseline" ]; then
    players+=(baseline)
    header+=" baseline |"
    rule+="---:|"
fi
echo "$header xmp | openmpt123 | ours / faster peer |$([ -z "$baseline" ] || echo " baseline / faster peer |") peak memory ours / xmp / openmpt123 (MB) |"
echo "$rule---:|---:|---:|$([ -z "$baseline" ] || echo "---:|")---:|"
count=${#players[@]}
for song in "${files[@]}"; do
    name=$(basename "$song")
    seconds=$(song_seconds "$song")
    [ -n "$seconds" ] || fail "openmpt123 cannot tell the length of $name"
    # The unmeasured warm-up round counts each player's own output, which
    # gives its song seconds.
    echo "$name: warm-up round" >&2
    declare -A length=()
    for player in "${players[@]}"; do
        set_command "$player" "$song" "$seconds"
        bytes=$("${command[@]}" 2>/dev/null | wc -c)
        length[$player]=$(awk -v b="$bytes" 'BEGIN { printf "%.3f", b / 4 / 44100 }')
    done
    for player in "${players[@]}"; do
        : >"$tmp/$player.cpu"
        : >"$tmp/$player.rss"
    done
    for round in $(seq 1 "$runs"); do
        echo "$name: round $round of $runs" >&2
        # Each round starts with the next player, so that none always runs
        # right after another.
        for turn in $(seq 0 $((count - 1))); do
            player=${players[$(((round - 1 + turn) % count))]}
            set_command "$player" "$song" "$seconds"
            measure "$player" "${command[@]}"
        done
    done
    declare -A speed=() cell=() memory=()
    for player in "${players[@]}"; do
        read -r best worst < <(sort -n "$tmp/$player.cpu" | awk 'NR == 1 { b = $1 } END { print b, $1 }')
        # A shorter CPU time is a higher factor.
        read -r "speed[$player]" "cell[$player]" < <(awk -v l="${length[$player]}" -v b="$best" \
            -v w="$worst" 'BEGIN { printf "%.3f %.0f (%.0f)\n", l * 1e6 / b, l * 1e6 / b, l * 1e6 / w }')
        memory[$player]=$(sort -n "$tmp/$player.rss" | tail -n 1 | awk '{ printf "%.1f", $1 / 1024 }')
    done
    ratio_of() {
        awk -v o="${speed[$1]}" -v x="${speed[xmp]}" -v m="${speed[openmpt]}" \
            'BEGIN { p = x > m ? x : m; printf "%.2f", o / p }'
    }
    row="| $name | $(song_channels "$song") | $seconds | ${cell[ours]} |"
    [ -z "$baseline" ] || row+=" ${cell[baseline]} |"
    row+=" ${cell[xmp]} | ${cell[openmpt]} | $(ratio_of ours) |"
    [ -z "$baseline" ] || row+=" $(ratio_of baseline) |"
    echo "$row ${memory[ours]} / ${memory[xmp]} / ${memory[openmpt]} |"
    unset length speed cell memory
done
