#!/usr/bin/env bash
# Listens with numbers: renders songs with this player (xm_render) and with
# Debian's openmpt123 (linear interpolation, 44100 Hz, the song repeated) and
# compares their loudness over 20 ms windows with loudness_compare.
#
# Usage: tools/compare_with_openmpt.sh BUILD_DIR [SONG.xm...]
#   BUILD_DIR  a configured build folder; xm_render and loudness_compare are
#              built there if needed
#   SONG.xm    the songs to compare (default: every song of the corpus)
# Environment: SECONDS_RENDERED (default 60), KEEP_WAVS=1 keeps the files.
set -euo pipefail

if [[ $# -lt 1 || $1 == -h || $1 == --help ]]; then
    sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//'
    [[ $# -ge 1 ]] && exit 0 || exit 2
fi
build=$1
shift
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${SECONDS_RENDERED:-60}

if ! command -v openmpt123 >/dev/null; then
    echo "compare_with_openmpt: openmpt123 is not installed (apt-get install openmpt123)" >&2
    exit 1
fi
if [[ ! -f $build/CMakeCache.txt ]]; then
    echo "compare_with_openmpt: $build is not a configured build folder" >&2
    exit 1
fi
cmake --build "$build" --target xm_render loudness_compare -j2 >/dev/null

songs=("$@")
if [[ ${#songs[@]} -eq 0 ]]; then
    shopt -s nullglob
    songs=("$root"/../shared/corpus/songs/*.xm)
    if [[ ${#songs[@]} -eq 0 ]]; then
        echo "compare_with_openmpt: no songs given and no corpus at $root/../shared/corpus" >&2
        exit 1
    fi
fi

work=$(mktemp -d)
if [[ ${KEEP_WAVS:-0} == 1 ]]; then
    echo "WAV files kept in $work"
else
    trap 'rm -rf "$work"' EXIT
fi

printf '%-24s %12s %12s %18s\n' song correlation "in dB" "best shift"
for song in "${songs[@]}"; do
    name=$(basename "$song" .xm)
    ours=$work/$name.player.wav
    theirs=$work/$name.openmpt.wav
    if ! "$build/tools/xm_render" "$song" -o "$ours" --rate 44100 --seconds "$seconds" \
        >/dev/null 2>"$work/render.log"; then
        echo "compare_with_openmpt: xm_render failed on $song:" >&2
        cat "$work/render.log" >&2
        exit 1
    fi
    openmpt123 --batch --quiet --samplerate 44100 --no-float --filter 2 --repeat -1 \
        --end-time "$seconds" --force -o "$theirs" "$song" >/dev/null 2>&1
    result=$("$build/tools/loudness_compare" "$ours" "$theirs")
    linear=$(sed -n 's/^correlation: //p' <<<"$result")
    decibels=$(sed -n 's/^correlation in dB: //p' <<<"$result")
    best=$(sed -n 's/^best shift: //p' <<<"$result")
    printf '%-24s %12s %12s %18s\n' "$name" "$linear" "$decibels" "$best"
done
