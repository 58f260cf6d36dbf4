#!/usr/bin/env bash
# The Windows renderer against the Linux one: every corpus song rendered by
# both (one pass through the song, as xm_render does by default) must give
# the same WAV file byte for byte, and a song that one refuses the other
# refuses too.
#
#   render_corpus_test.sh WINDOWS_XM_RENDER LINUX_XM_RENDER CORPUS ARTIFACTS
#
# The Windows renderer runs under Wine. Each corpus folder is rendered as one
# batch per renderer into ARTIFACTS/render-corpus, where the files of a
# folder that differs are kept.
set -euo pipefail
# shellcheck source=tests/wine/wine_env.sh
source "$(dirname "$0")/wine_env.sh"

windows=$1
native=$2
corpus=$3
artifacts=$4

skip() {
    printf 'SKIPPED: %s\n' "$*"
    exit 77
}

[[ -x "$native" ]] || skip "no Linux xm_render at $native (the Linux release build makes it)"
[[ -d "$corpus" ]] || skip "no corpus at $corpus"
wine_setup "$windows" || skip "no Wine to run $windows"
WINEPREFIX=$(wine_prefix units)
export WINEPREFIX

work="$artifacts/render-corpus"
rm -rf "$work"
mkdir -p "$work"
failures=0
total=0
for folder in "$corpus"/*/; do
    songs=("$folder"*.xm)
    [[ -e "${songs[0]}" ]] || continue
    name=$(basename "$folder")
    out="$work/$name"
    mkdir -p "$out/linux" "$out/windows"
    linuxStatus=0
    "$native" "${songs[@]}" -o "$out/linux/" --jobs 2 >/dev/null 2>"$out/linux.log" ||
        linuxStatus=$?
    windowsStatus=0
    "$WINE_LOADER" "$windows" "${songs[@]}" -o "$out/windows/" --jobs 2 >/dev/null \
        2>"$out/windows.log" || windowsStatus=$?
    problems=()
    ((linuxStatus == windowsStatus)) ||
        problems+=("exit status $windowsStatus on Windows, $linuxStatus on Linux")
    linuxFiles=$(cd "$out/linux" && ls)
    windowsFiles=$(cd "$out/windows" && ls)
    [[ "$linuxFiles" == "$windowsFiles" ]] ||
        problems+=("other files made: Windows [$(echo $windowsFiles)], Linux [$(echo $linuxFiles)]")
    for file in $linuxFiles; do
        [[ -f "$out/windows/$file" ]] || continue
        cmp -s "$out/linux/$file" "$out/windows/$file" || problems+=("$file differs")
    done
    total=$((total + ${#songs[@]}))
    if ((${#problems[@]} > 0)); then
        failures=$((failures + 1))
        printf 'FAIL %s (%d songs): %s\n' "$name" "${#songs[@]}" "${problems[*]}"
        printf '  kept in %s; the renderers said:\n' "$out"
        # The progress bar's updates end in carriage returns.
        tr '\r' '\n' <"$out/windows.log" | grep -v '^ *$' | tail -n 5 | sed 's/^/  Windows: /'
        tr '\r' '\n' <"$out/linux.log" | grep -v '^ *$' | tail -n 5 | sed 's/^/  Linux: /'
    else
        printf '%-10s %2d songs, %d rendered, identical (status %d)\n' "$name" "${#songs[@]}" \
            "$(wc -w <<<"$linuxFiles")" "$linuxStatus"
        rm -rf "$out"
    fi
done
((total > 0)) || skip "no songs in $corpus"
((failures == 0)) || {
    echo "FAIL: $failures corpus folders rendered differently on Windows"
    exit 1
}
echo "PASS: $total songs, the Windows renderer's output is the Linux one's"
