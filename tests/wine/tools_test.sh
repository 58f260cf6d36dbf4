#!/usr/bin/env bash
# The Windows tools under Wine, run as a user runs them, with a PulseAudio
# null sink of the test's own standing in for the sound card.
#
#   tools_test.sh SCENARIO TOOL SONG ARTIFACTS
#
# TOOL is xm_render.exe for the scenario no-codecs, xm_play.exe for the
# others. SCENARIO is one of
#   seconds    --seconds 3 with no input: the song is heard (the sink's
#              recording has sound), the position and the song's length are
#              reported and the tool ends with status 0 after three seconds
#   stop-key   q arriving on standard input through a pipe stops playback
#              at once with status 0
#   no-device  without a sound device the tool says why and ends with 1
#   no-codecs  xm_render refuses FLAC, which its libsndfile cannot write on
#              Windows, with the reason, status 1 and no file left behind
set -euo pipefail
# shellcheck source=tests/wine/wine_session.sh
source "$(dirname "$0")/wine_session.sh"

scenario=$1
tool=$2
song=$3
artifacts=$4
log="$artifacts/xm_play-$scenario.log"
recorded="$artifacts/xm_play-$scenario.raw"

mkdir -p "$artifacts"
rm -f "$log" "$recorded"
wine_start "$tool"

# Frames that are not silence in a raw 16-bit stereo file.
soundFrames() { od -An -v -tx4 -w4 "$1" | grep -cv '^ *00000000$' || true; }

runSeconds() {
    local start status=0 heard output
    wine_start_sound
    wine_record_sound "$recorded"
    start=$(e2e_now_ms)
    timeout $((60 * E2E_TIMEOUT_SCALE)) "$WINE_LOADER" "$tool" "$song" --seconds 3 \
        </dev/null >"$log" 2>&1 || status=$?
    ((status == 0)) || e2e_fail "status $status, expected 0: $(cat "$log")"
    (($(e2e_now_ms) - start >= 3000)) || e2e_fail "the tool ended before three seconds had passed"
    # Lines end in CR LF on Windows.
    output=$(tr -d '\r' <"$log")
    grep -q '^Playing ' <<<"$output" || e2e_fail "no 'Playing' line: $output"
    grep -Eq '^order +[0-9]+/[0-9]+ +pattern +[0-9]+ +row +[0-9]+ +0:0[0-9]\.[0-9] / [0-9]+:[0-9]{2}\.[0-9]$' \
        <<<"$output" ||
        e2e_fail "no position was reported: $output"
    heard=$(soundFrames "$recorded")
    ((heard >= 44100)) || e2e_fail "only $heard frames of sound reached the sound server"
    e2e_log "$heard frames of sound heard"
}

runStopKey() {
    local start status=0 elapsed keys
    wine_start_sound
    start=$(e2e_now_ms)
    # The pipe stays open after the q: it is the key that stops the tool.
    exec {keys}< <(sleep 2; printf q; sleep 120)
    e2e_track_pid $!
    timeout $((60 * E2E_TIMEOUT_SCALE)) "$WINE_LOADER" "$tool" "$song" <&"$keys" >"$log" 2>&1 ||
        status=$?
    elapsed=$(($(e2e_now_ms) - start))
    ((status == 0)) || e2e_fail "status $status, expected 0: $(cat "$log")"
    ((elapsed < 20000 * E2E_TIMEOUT_SCALE)) || e2e_fail "q took $elapsed ms to stop the tool"
    e2e_log "stopped by q after $elapsed ms"
}

runWithoutDevice() {
    local status=0
    export PULSE_SERVER="unix:$E2E_TEMP/no-such-socket"
    timeout $((60 * E2E_TIMEOUT_SCALE)) "$WINE_LOADER" "$tool" "$song" --seconds 1 \
        </dev/null >"$log" 2>&1 || status=$?
    ((status == 1)) || e2e_fail "status $status, expected 1: $(cat "$log")"
    grep -q "cannot open the sound device at 44100 Hz: waveOutOpen failed" "$log" ||
        e2e_fail "no reason given: $(cat "$log")"
}

runWithoutCodecs() {
    local status=0 flac="$E2E_TEMP/song.flac"
    "$WINE_LOADER" "$tool" "$song" -o "$flac" >"$log" 2>&1 || status=$?
    ((status == 1)) || e2e_fail "status $status, expected 1: $(cat "$log")"
    grep -q "this build does not write FLAC" "$log" || e2e_fail "no reason given: $(cat "$log")"
    [[ ! -e "$flac" ]] || e2e_fail "a file was left behind"
}

case "$scenario" in
    seconds) runSeconds ;;
    stop-key) runStopKey ;;
    no-device) runWithoutDevice ;;
    no-codecs) runWithoutCodecs ;;
    *) e2e_fail "unknown scenario $scenario" ;;
esac
e2e_log "PASS wine tools $scenario"
